// window.norvaHost as the editor's host injects it (postMessage(object) sends
// JSON text, onMessage(handler) registers, _deliver(object) hands a message
// to every handler), carried by a WebSocket to the test server, which relays
// it to norva-probe bridge. Injected before the page's own scripts run.
(function () {
  if (window.norvaHost) return;
  const handlers = [];
  const waiting = [];
  const socket = new WebSocket(`ws://${location.host}/bridge${location.search}`);
  socket.addEventListener("open", () => {
    for (const text of waiting.splice(0)) socket.send(text);
  });
  socket.addEventListener("message", (event) => window.norvaHost._deliver(JSON.parse(event.data)));
  window.norvaHost = {
    postMessage(message) {
      const text = JSON.stringify(message);
      if (socket.readyState === WebSocket.OPEN) socket.send(text);
      else waiting.push(text);
    },
    onMessage(handler) {
      handlers.push(handler);
    },
    _deliver(message) {
      for (const handler of handlers) {
        try {
          handler(message);
        } catch (error) {
          console.error(error);
        }
      }
    },
  };
})();
