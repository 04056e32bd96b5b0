"""A stand-in for the operator's own application behind nginx: it greets whoever the proxy's
session check named, printing every X-Entravo-Account value it received, then every
X-Entravo-Identity value, so a forged one would show. Prints its port, then serves until
stopped.

    hello_app.py
"""

import http.server
import sys


class Hello(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        accounts = self.headers.get_all("X-Entravo-Account") or ["nobody"]
        identities = self.headers.get_all("X-Entravo-Identity") or ["none"]
        body = ("Hello, " + ", ".join(accounts) + "\nIdentity: " + ", ".join(identities) + "\n").encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    server = http.server.HTTPServer(("127.0.0.1", 0), Hello)
    print(server.server_address[1], flush=True)
    sys.stdout.close()
    server.serve_forever()
