#!/usr/bin/env python3
"""https_server.py ROOT CERT KEY: serves ROOT over HTTPS on 127.0.0.1 for the
hosted bank tests (/to-http/<path> and /to-https/<path> redirect to <path>),
prints "<port> <pid>" and serves until ended or its starter is gone."""
import functools
import http.server
import os
import ssl
import sys
import threading
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        for scheme in ("http", "https"):
            prefix = f"/to-{scheme}/"
            if self.path.startswith(prefix):
                self.send_response(302)
                port = self.server.server_address[1]
                self.send_header("Location", f"{scheme}://127.0.0.1:{port}/{self.path[len(prefix):]}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        super().do_GET()

    def log_message(self, *args):
        pass


def exit_with_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


threading.Thread(target=exit_with_parent, args=(os.getppid(),), daemon=True).start()
root, cert, key = sys.argv[1:4]
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=root))
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], os.getpid(), flush=True)
server.serve_forever()
