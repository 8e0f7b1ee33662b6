#!/usr/bin/python3
"""HTTP proxy for the delivery tests, on 127.0.0.1 and an ephemeral port.
Prints "PORT <n>" once it listens, then serves until killed.

Forwards plain requests given with an absolute URI and tunnels CONNECT.
Every request is logged to OUT/events.log as "<METHOD> <target> <value of
Proxy-Authorization or ->". With --require USER:PASSWORD a request without
those Basic credentials gets 407 with a Basic challenge."""
import argparse
import base64
import os
import select
import socket
import socketserver
import sys
import threading
import urllib.parse


def read_head(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(4096)
        if not chunk:
            return None, b""
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def pump(a, b):
    sockets = [a, b]
    while True:
        readable, _, _ = select.select(sockets, [], [], 60)
        if not readable:
            return
        for s in readable:
            data = s.recv(65536)
            if not data:
                return
            (b if s is a else a).sendall(data)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--require")
    a = p.parse_args()
    lock = threading.Lock()
    expected = None
    if a.require:
        expected = "Basic " + base64.b64encode(a.require.encode()).decode()

    def log(line):
        with lock, open(os.path.join(a.out, "events.log"), "a", encoding="latin-1") as f:
            f.write(line + "\n")

    class Handler(socketserver.BaseRequestHandler):
        def handle(self):
            client = self.request
            while True:
                head, rest = read_head(client)
                if head is None:
                    return
                lines = head.split("\r\n")
                method, target, version = lines[0].split(" ", 2)
                headers = {}
                for line in lines[1:]:
                    name, _, value = line.partition(":")
                    headers[name.strip().lower()] = value.strip()
                auth = headers.get("proxy-authorization")
                log("%s %s %s" % (method, target, auth or "-"))
                length = int(headers.get("content-length", "0"))
                while len(rest) < length:
                    chunk = client.recv(65536)
                    if not chunk:
                        return
                    rest += chunk
                body, rest = rest[:length], rest[length:]
                if expected and auth != expected:
                    client.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                   b"Proxy-Authenticate: Basic realm=\"proxy\"\r\n"
                                   b"Content-Length: 0\r\n\r\n")
                    continue
                if method == "CONNECT":
                    host, port = target.rsplit(":", 1)
                    upstream = socket.create_connection((host, int(port)))
                    client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                    if rest:
                        upstream.sendall(rest)
                    pump(client, upstream)
                    upstream.close()
                    return
                url = urllib.parse.urlsplit(target)
                upstream = socket.create_connection((url.hostname, url.port or 80))
                path = url.path or "/"
                if url.query:
                    path += "?" + url.query
                out = ["%s %s HTTP/1.0" % (method, path)]
                for line in lines[1:]:
                    name = line.partition(":")[0].strip().lower()
                    if name not in ("proxy-authorization", "proxy-connection", "connection"):
                        out.append(line)
                out.append("Connection: close")
                upstream.sendall(("\r\n".join(out) + "\r\n\r\n").encode("latin-1") + body)
                while True:
                    chunk = upstream.recv(65536)
                    if not chunk:
                        break
                    client.sendall(chunk)
                upstream.close()
                return

    class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
