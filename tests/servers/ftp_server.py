#!/usr/bin/python3
"""FTP server for the delivery tests (pyftpdlib), on 127.0.0.1 and an
ephemeral port. Prints "PORT <n>" once it listens, then serves until killed.

Files land in --root. Every command is appended to OUT/events.log as its
verb and argument ("STOR a.csv", "CWD sub"); a PASS line is written as
"PASS ***". --user USER:PASSWORD adds a user (home: --root); --anonymous
admits anonymous logins with write rights. --close-on-stor N closes the
connection while the N-th STOR's data is coming in."""
import argparse
import logging
import os
import warnings
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--root", required=True)
    p.add_argument("--user")
    p.add_argument("--anonymous", action="store_true")
    p.add_argument("--close-on-stor", type=int, default=0)
    a = p.parse_args()

    authorizer = DummyAuthorizer()
    if a.user:
        name, password = a.user.split(":", 1)
        authorizer.add_user(name, password, a.root, perm="elradfmw")
    if a.anonymous:
        warnings.simplefilter("ignore")  # write rights for anonymous are meant here
        authorizer.add_anonymous(a.root, perm="elradfmw")
    state = {"stor": 0}

    def log(line):
        with open(os.path.join(a.out, "events.log"), "a", encoding="utf-8") as f:
            f.write(line + "\n")

    class ClosingDTP(DTPHandler):
        def handle_read(self):
            DTPHandler.handle_read(self)
            if self.receive and state["closing"]:
                self.cmd_channel.close()
                self.close()

        handle_read_event = handle_read

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if cmd == "PASS":
                log("PASS ***")
            else:
                log(line)
            if cmd == "STOR":
                state["stor"] += 1
                state["closing"] = state["stor"] == a.close_on_stor
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    state["closing"] = False
    # A handler of our own keeps the library from logging every session.
    logging.getLogger("pyftpdlib").addHandler(logging.NullHandler())
    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0.1
    Handler.dtp_handler = ClosingDTP
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
