#!/usr/bin/env python3
"""HTTPS file server on 127.0.0.1 for the hosted bank tests.

Serves the files of --root. /to-http/<path> redirects to the same path over
plain http, /to-https/<path> to the same path over https. Prints the port it
listens on as one line on standard output, then serves until it is ended.
"""
import argparse
import functools
import http.server
import ssl
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        for prefix, scheme in (("/to-http/", "http"), ("/to-https/", "https")):
            if self.path.startswith(prefix):
                port = self.server.server_address[1]
                self.send_response(302)
                self.send_header("Location", f"{scheme}://127.0.0.1:{port}/{self.path[len(prefix):]}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        super().do_GET()

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    options = parser.parse_args()
    handler = functools.partial(Handler, directory=options.root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
