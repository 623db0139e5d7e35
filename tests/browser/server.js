// The test server: serves the bundle's page folder and relays each page's
// WebSocket to its own norva-probe bridge process (one message a line both
// ways), which renders what the plug-in played when the page goes away.
import { spawn } from "node:child_process";
import { createReadStream, statSync } from "node:fs";
import http from "node:http";
import path from "node:path";
import { createInterface } from "node:readline";
import { WebSocketServer } from "ws";

const TYPES = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".json": "application/json",
  ".png": "image/png", ".svg": "image/svg+xml" };

class Session {
  constructor(name, probe, bundle, render, preamble) {
    this.name = name;
    this.render = render;
    this.received = []; // what the controller sent, parsed
    this.sent = []; // what the page sent, parsed
    this.waiters = [];
    this.stderr = "";
    this.process = spawn(probe, ["bridge", bundle, "--render", render], { stdio: ["pipe", "pipe", "pipe"] });
    this.process.stderr.on("data", (chunk) => { this.stderr += chunk; });
    this.exited = new Promise((resolve) => this.process.on("exit", (code) => resolve(code)));
    for (const line of preamble) this.host(line);
    createInterface({ input: this.process.stdout }).on("line", (line) => {
      const message = JSON.parse(line);
      this.received.push(message);
      this.socket?.send(line);
      this.waiters = this.waiters.filter((waiter) => !waiter(message));
    });
  }

  // One line to the probe: a host command, or an editor message.
  host(line) {
    this.process.stdin.write(`${line}\n`);
  }

  fromPage(text) {
    this.sent.push(JSON.parse(text));
    this.host(text);
  }

  // The first message from the controller, already received or still to
  // come, for which test(message) holds.
  waitFor(test, what = "a message", timeoutMs = 5000) {
    const found = this.received.find(test);
    if (found) return Promise.resolve(found);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`${this.name}: no ${what} within ${timeoutMs} ms`)), timeoutMs);
      this.waiters.push((message) => {
        if (!test(message)) return false;
        clearTimeout(timer);
        resolve(message);
        return true;
      });
    });
  }

  // Ends the probe's input; it writes its render and exits.
  async close() {
    this.process.stdin.end();
    return this.exited;
  }
}

export async function startServer({ uiRoot, probe, bundle, outDir }) {
  const sessions = new Map();
  const preambles = new Map();
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, "http://localhost");
    const file = path.join(uiRoot, path.normalize(decodeURIComponent(url.pathname === "/" ? "/index.html" : url.pathname)));
    let stat = null;
    try {
      stat = file.startsWith(uiRoot) ? statSync(file) : null;
    } catch {}
    if (!stat?.isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { "content-type": `${TYPES[path.extname(file)] || "application/octet-stream"}; charset=utf-8` });
    createReadStream(file).pipe(response);
  });
  const sockets = new WebSocketServer({ server, path: "/bridge" });
  sockets.on("connection", (socket, request) => {
    const name = new URL(request.url, "http://localhost").searchParams.get("session") || "page";
    const session = new Session(name, probe, bundle, path.join(outDir, `${name}.mid`), preambles.get(name) || []);
    session.socket = socket;
    sessions.set(name, session);
    socket.on("message", (data) => session.fromPage(String(data)));
    socket.on("close", () => session.close());
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    // Lines the probe gets before the page's first message (host commands).
    prepare(name, lines) {
      preambles.set(name, lines);
    },
    sessions: () => sessions.values(),
    // The session of a page once its socket has connected.
    async session(name, timeoutMs = 5000) {
      const until = Date.now() + timeoutMs;
      while (!sessions.has(name)) {
        if (Date.now() > until) throw new Error(`no page connected as ${name}`);
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
      return sessions.get(name);
    },
    async stop() {
      await Promise.all([...sessions.values()].map((session) => session.close()));
      sockets.close();
      await new Promise((resolve) => server.close(resolve));
    },
  };
}
