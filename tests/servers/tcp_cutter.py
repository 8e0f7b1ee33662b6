#!/usr/bin/python3
"""A TCP relay that breaks a connection off, for the tests of dropped
connections. Listens on 127.0.0.1 and an ephemeral port (prints
"PORT <n>"), relays every connection to 127.0.0.1:--target, and cuts the
first connection once --cut-after bytes from the client have passed (both
sides reset). The next --refuse-after-cut connections after the cut are
closed at once, as if the server were gone; later ones are relayed whole.
Each connection is noted in OUT/events.log ("relay", "cut", "refused")."""
import argparse
import os
import socket
import struct
import sys
import threading


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target", type=int, required=True)
    p.add_argument("--cut-after", type=int, required=True)
    p.add_argument("--refuse-after-cut", type=int, default=0)
    p.add_argument("--out", required=True)
    a = p.parse_args()
    lock = threading.Lock()
    state = {"connections": 0, "cut": False, "refused": 0}

    def log(line):
        with lock, open(os.path.join(a.out, "events.log"), "a") as f:
            f.write(line + "\n")

    def reset(sock):
        # SO_LINGER 0: the close sends RST, as a broken network would.
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
        except OSError:
            pass

    def pump(src, dst, limit, both):
        passed = 0
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    dst.shutdown(socket.SHUT_WR)
                    return
                if limit is not None and passed + len(data) >= limit:
                    dst.sendall(data[: max(0, limit - passed)])
                    log("cut")
                    with lock:
                        state["cut"] = True
                    for s in both:
                        reset(s)
                    return
                passed += len(data)
                dst.sendall(data)
        except OSError:
            for s in both:
                reset(s)

    def serve(client):
        with lock:
            state["connections"] += 1
            first = state["connections"] == 1
            refuse = state["cut"] and state["refused"] < a.refuse_after_cut
            if refuse:
                state["refused"] += 1
        if refuse:
            log("refused")
            reset(client)
            return
        log("relay")
        server = socket.create_connection(("127.0.0.1", a.target))
        both = (client, server)
        threading.Thread(target=pump, args=(server, client, None, both), daemon=True).start()
        pump(client, server, a.cut_after if first else None, both)

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
