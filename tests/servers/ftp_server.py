#!/usr/bin/python3
"""FTP server for the delivery tests (pyftpdlib), on 127.0.0.1 and an
ephemeral port. Prints "PORT <n>" once it listens, then serves until killed.

Files land in --root. Every command is appended to OUT/events.log as its
verb and argument ("STOR a.csv", "CWD sub"); a PASS line is written as
"PASS ***". --user USER:PASSWORD adds a user (home: --root); --anonymous
admits anonymous logins with write rights. --close-on-stor N closes the
connection while the N-th STOR's data is coming in. --refuse-stor N:REPLY
answers the first N STOR commands with REPLY ("450 busy") instead of
storing. --exit-on-stor N ends the whole server while the N-th STOR's
data is coming in, as a crash would. --slow-stor SECONDS pauses that long
after every block of data received; --hang-on-dele SECONDS stops the
whole server that long at a DELE, as a hung server would. --refuse-rnto answers every RNTO with
553; --no-replace answers an RNTO onto an existing file with 550, as
servers do that never overwrite. --tls explicit|implicit with --cert and
--key speaks TLS (AUTH TLS required, or TLS from the first byte), data
connections included."""
import argparse
import logging
import os
import warnings
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--root", required=True)
    p.add_argument("--user")
    p.add_argument("--anonymous", action="store_true")
    p.add_argument("--close-on-stor", type=int, default=0)
    p.add_argument("--refuse-stor", default="")
    p.add_argument("--exit-on-stor", type=int, default=0)
    p.add_argument("--slow-stor", type=float, default=0)
    p.add_argument("--hang-on-dele", type=float, default=0)
    p.add_argument("--refuse-rnto", action="store_true")
    p.add_argument("--no-replace", action="store_true")
    p.add_argument("--tls", choices=["none", "explicit", "implicit"], default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
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

    refuse_count, refuse_reply = 0, ""
    if a.refuse_stor:
        n, refuse_reply = a.refuse_stor.split(":", 1)
        refuse_count = int(n)
    tls = a.tls != "none"
    base_handler = TLS_FTPHandler if tls else FTPHandler

    class ClosingDTP(DTPHandler):
        def handle_read(self):
            DTPHandler.handle_read(self)
            if self.receive and a.slow_stor:
                time.sleep(a.slow_stor)
            if self.receive and state["exiting"]:
                os._exit(0)
            if self.receive and state["closing"]:
                self.cmd_channel.close()
                self.close()

        handle_read_event = handle_read

    class Handler(base_handler):
        def handle(self):
            if a.tls == "implicit":
                # TLS from the first byte: the greeting already goes encrypted,
                # and data connections are protected without a PROT command.
                self._prot = True
                self.secure_connection(self.ssl_context)
            base_handler.handle(self)

        def pre_process_command(self, line, cmd, arg):
            if cmd == "PASS":
                log("PASS ***")
            else:
                log(line)
            if cmd == "STOR":
                state["stor"] += 1
                state["closing"] = state["stor"] == a.close_on_stor
                state["exiting"] = state["stor"] == a.exit_on_stor
                if state["stor"] <= refuse_count:
                    self.respond(refuse_reply)
                    return
            if cmd == "DELE" and a.hang_on_dele:
                time.sleep(a.hang_on_dele)
            if cmd == "RNTO":
                if a.refuse_rnto:
                    self.respond("553 Renaming is not allowed here.")
                    return
                if a.no_replace and os.path.exists(self.fs.ftp2fs(self.fs.ftpnorm(arg))):
                    self.respond("550 File exists.")
                    return
            return base_handler.pre_process_command(self, line, cmd, arg)

    state["closing"] = state["exiting"] = False
    # A handler of our own keeps the library from logging every session.
    logging.getLogger("pyftpdlib").addHandler(logging.NullHandler())
    Handler.authorizer = authorizer
    if tls:
        Handler.certfile = a.cert
        Handler.keyfile = a.key
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    Handler.auth_failed_timeout = 0.1
    class TlsDTP(TLS_DTPHandler):
        # A client may begin the data connection's handshake before it sends
        # STOR; the library would take that early traffic for a hang-up.
        def readable(self):
            if self._ssl_accepting:
                return True
            return TLS_DTPHandler.readable(self)

    # The TLS data handler does its handshake in handle_read_event, which the
    # closing handler replaces: --close-on-stor is for plain FTP only.
    Handler.dtp_handler = TlsDTP if tls else ClosingDTP
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
