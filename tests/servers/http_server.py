#!/usr/bin/python3
"""HTTP server for the delivery tests, on 127.0.0.1 and an ephemeral port.
Prints "PORT <n>" once it listens, then serves until killed.

Each request is stored as OUT/req-<n>.head (request line and headers as
received) and OUT/req-<n>.body. The answers follow --plan, one entry per
request (the last entry repeats): a status code (200, 302 with a Location,
401 with a Basic challenge, 404, ...), "hang" (read the request, never
answer), "close" (read part of the body, then close the connection),
"slow" (answer 200 after --delay seconds) or "drip" (send a status line,
then one header line every --delay seconds, and never end the answer).
OUT/max-concurrent holds the largest number of requests served at once.
With --cert and --key it speaks TLS."""
import argparse
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time

REASONS = {200: "OK", 201: "Created", 302: "Found", 304: "Not Modified",
           401: "Unauthorized", 404: "Not Found", 429: "Too Many Requests",
           500: "Internal Server Error", 503: "Service Unavailable"}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--plan", default="200")
    p.add_argument("--delay", type=float, default=1.0)
    p.add_argument("--cert")
    p.add_argument("--key")
    a = p.parse_args()
    plan = a.plan.split(",")
    state = {"n": 0, "busy": 0, "max": 0}
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def log_message(self, *args):
            pass

        def do_POST(self):
            with lock:
                state["busy"] += 1
                if state["busy"] > state["max"]:
                    state["max"] = state["busy"]
                    with open(os.path.join(a.out, "max-concurrent"), "w") as f:
                        f.write(str(state["max"]))
            try:
                self.serve()
            finally:
                with lock:
                    state["busy"] -= 1

        def serve(self):
            with lock:
                state["n"] += 1
                n = state["n"]
            step = plan[min(n, len(plan)) - 1]
            length = int(self.headers.get("Content-Length", "0"))
            if step == "close":
                self.record(n, self.rfile.read(min(length, 16)))
                self.connection.shutdown(2)
                self.close_connection = True
                return
            body = self.rfile.read(length)
            self.record(n, body)
            if step == "hang":
                time.sleep(3600)
                return
            if step == "drip":
                self.send_response_only(200, "OK")
                for i in range(3600):
                    self.send_header("X-Drip-%d" % i, "x")
                    self.flush_headers()
                    time.sleep(a.delay)
                return
            if step == "slow":
                time.sleep(a.delay)
                step = "200"
            code = int(step)
            self.send_response_only(code, REASONS.get(code, "Status"))
            if code == 302:
                self.send_header("Location", "/elsewhere")
            if code == 401:
                self.send_header("WWW-Authenticate", 'Basic realm="tests"')
            reply = b"answer body\n"
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        do_PUT = do_POST
        do_GET = do_POST

        def record(self, n, body):
            head = self.requestline + "\r\n" + str(self.headers)
            with open(os.path.join(a.out, "req-%d.head" % n), "w", encoding="latin-1") as f:
                f.write(head)
            with open(os.path.join(a.out, "req-%d.body" % n), "wb") as f:
                f.write(body)

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

    server = Server(("127.0.0.1", 0), Handler)
    if a.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.cert, a.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
