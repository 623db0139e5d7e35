// The bridge client: the page's one way to the controller. It speaks through
// window.norvaHost (postMessage(object), onMessage(handler)), which the host
// puts in place before the page runs, and hands each message the controller
// sends to the handlers registered for its type.
import { SEND } from "./facts.js";

export class Bridge {
  constructor(host = window.norvaHost) {
    this.host = host || null;
    this.handlers = new Map();
    if (this.host) this.host.onMessage((message) => this.dispatch(message));
  }

  get connected() {
    return this.host !== null;
  }

  // Sends {type, ...fields}; without a host the page stays a silent preview.
  send(type, fields = {}) {
    if (this.host) this.host.postMessage({ type, ...fields });
  }

  // Calls handler(message) for every message of this type, in the order
  // the handlers were registered.
  on(type, handler) {
    if (!this.handlers.has(type)) this.handlers.set(type, []);
    this.handlers.get(type).push(handler);
  }

  dispatch(message) {
    if (!message || typeof message.type !== "string") return;
    for (const handler of this.handlers.get(message.type) || []) handler(message);
  }

  // Asks for the hello, which fills every control.
  ready() {
    this.send(SEND.ready);
  }
}
