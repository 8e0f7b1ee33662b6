#!/usr/bin/python3
"""A raw TCP server for the delivery tests that plays a fixed script to each
connection, on 127.0.0.1 and an ephemeral port. Prints "PORT <n>" once it
listens, then serves until killed.

--script is a list of steps separated by "|": "send:TEXT" sends TEXT and
CR LF, "recv" reads one line, "recvsome" reads whatever bytes come next,
"sleep:SECONDS" waits, "close" closes the connection. After the last step the server stays silent:
it reads and never answers. An empty script makes a server that accepts
connections and never says anything."""
import argparse
import socket
import sys
import threading
import time


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--script", default="")
    a = p.parse_args()
    steps = [s for s in a.script.split("|") if s]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    def serve(conn):
        reader = conn.makefile("rb")
        try:
            for step in steps:
                if step.startswith("send:"):
                    conn.sendall(step[5:].encode() + b"\r\n")
                elif step == "recv":
                    reader.readline()
                elif step.startswith("sleep:"):
                    time.sleep(float(step[6:]))
                elif step == "recvsome":
                    conn.recv(16)
                elif step == "close":
                    conn.shutdown(socket.SHUT_RDWR)
                    conn.close()
                    return
            while conn.recv(65536):
                pass
        except OSError:
            pass

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
