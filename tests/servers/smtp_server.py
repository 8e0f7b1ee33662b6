#!/usr/bin/python3
"""SMTP server for the delivery tests (aiosmtpd), on 127.0.0.1 and an
ephemeral port. Prints "PORT <n>" once it listens, then serves until killed.

Every command of interest is appended to OUT/events.log as one line
("MAIL <addr>", "RCPT <addr>", "AUTH <mechanism> <user> ok|fail", "DATA",
"QUIT"); passwords are never written. Every message accepted is stored in
OUT/msg-<n>/: envelope.txt ("from", "rcpt" and "tls" lines), raw.eml,
headers.txt (Subject, From, To and Content-Type as a mail reader decodes
them), body (the decoded body of a single-part message, or the text part
that a mail reader shows as the body of a multipart one, with body.type
holding its media type and charset) and, for each attachment,
part-<k>.name, part-<k>.type (media type and charset) and part-<k>.bin (the
decoded bytes). defects.txt lists, one a line, what a
strict reader finds wrong with the message: the defects Python's email
package reports under its strict and default policies (every part, every
header), lines longer than 78 characters, encoded words longer than 75,
and encoded words inside quoted strings; it is empty for a sound message."""
import argparse
import asyncio
import email
import email.policy
import logging
import os
import re
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, out, reject, tls_always, sender_needs_domain):
        self.out = out
        self.reject = reject
        self.tls_always = tls_always
        self.sender_needs_domain = sender_needs_domain
        self.count = 0
        self.busy = 0

    def event(self, line):
        with open(os.path.join(self.out, "events.log"), "a", encoding="utf-8") as f:
            f.write(line + "\n")

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.event("MAIL " + address)
        if self.busy > 0:
            self.busy -= 1
            return "451 4.3.2 busy, try again later"
        if self.sender_needs_domain and "@" not in address:
            return "553 5.1.7 <%s>: Sender address rejected: need fully-qualified address" % address
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        self.event("RCPT " + address)
        if self.reject and self.reject in address:
            return "550 5.1.1 <%s>: recipient rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        self.event("QUIT")
        return "221 Bye"

    async def handle_DATA(self, server, session, envelope):
        self.event("DATA")
        self.count += 1
        folder = os.path.join(self.out, "msg-%d" % self.count)
        os.makedirs(folder)
        tls = self.tls_always or session.ssl is not None
        with open(os.path.join(folder, "envelope.txt"), "w", encoding="utf-8") as f:
            f.write("from %s\n" % envelope.mail_from)
            for r in envelope.rcpt_tos:
                f.write("rcpt %s\n" % r)
            f.write("tls %d\n" % (1 if tls else 0))
        raw = envelope.original_content or envelope.content
        with open(os.path.join(folder, "raw.eml"), "wb") as f:
            f.write(raw)
        with open(os.path.join(folder, "defects.txt"), "w", encoding="utf-8") as f:
            for problem in message_problems(raw):
                f.write(problem + "\n")
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        with open(os.path.join(folder, "headers.txt"), "w", encoding="utf-8") as f:
            for name in ("Subject", "From", "To", "Content-Type", "Date"):
                if msg[name] is not None:
                    f.write("%s: %s\n" % (name, str(msg[name])))
        if msg.is_multipart():
            body = msg.get_body(preferencelist=("html", "plain"))
            if body is not None:
                with open(os.path.join(folder, "body"), "w", encoding="utf-8", newline="") as f:
                    f.write(body.get_content())
                with open(os.path.join(folder, "body.type"), "w", encoding="utf-8") as f:
                    f.write("%s %s" % (body.get_content_type(), body.get_content_charset()))
            k = 0
            for part in msg.iter_attachments():
                k += 1
                with open(os.path.join(folder, "part-%d.name" % k), "w", encoding="utf-8") as f:
                    f.write(part.get_filename() or "")
                with open(os.path.join(folder, "part-%d.type" % k), "w", encoding="utf-8") as f:
                    f.write("%s %s" % (part.get_content_type(), part.get_content_charset()))
                with open(os.path.join(folder, "part-%d.bin" % k), "wb") as f:
                    f.write(part.get_payload(decode=True) or b"")
        else:
            with open(os.path.join(folder, "body"), "wb") as f:
                f.write(msg.get_payload(decode=True) or b"")
        return "250 Message accepted"


def message_problems(raw):
    problems = []
    for name, policy in (("strict", email.policy.strict), ("default", email.policy.default)):
        try:
            msg = email.message_from_bytes(raw, policy=policy)
            for part in msg.walk():
                problems += ["%s: part: %r" % (name, d) for d in part.defects]
                for key, value in part.items():
                    problems += ["%s: %s: %r" % (name, key, d) for d in getattr(value, "defects", ())]
                if part.get_content_maintype() != "multipart":
                    part.get_payload(decode=True)
                    problems += ["%s: part after decoding: %r" % (name, d) for d in part.defects]
        except Exception as e:  # the strict policy raises on the first defect
            problems.append("%s: %s: %s" % (name, type(e).__name__, e))
    for line in raw.split(b"\r\n"):
        if len(line) > 78:
            problems.append("line of %d characters: %r" % (len(line), line[:90]))
    for word in re.findall(rb"=\?[^?\s]+\?[BbQq]\?[^?\s]*\?=", raw):
        if len(word) > 75:
            problems.append("encoded word of %d characters" % len(word))
    # Header blocks: the message's and each part's.
    for block in re.findall(rb"(?:^|\r\n\r\n|\r\n--[^\r\n]+\r\n)((?:[A-Za-z-]+:.*?))\r\n\r\n", raw, re.S):
        for quoted in re.findall(rb'"(?:[^"\\]|\\.)*"', block):
            if b"=?" in quoted:
                problems.append("encoded word in a quoted string: %r" % quoted)
    return problems


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--auth", help="USER:PASSWORD that AUTH accepts")
    p.add_argument("--no-login-mechanism", action="store_true",
                   help="announce AUTH without the LOGIN mechanism")
    p.add_argument("--busy", type=int, default=0,
                   help="answer the first N MAIL commands 451 (try later)")
    p.add_argument("--reject", help="refuse recipients that contain this text")
    p.add_argument("--sender-needs-domain", action="store_true",
                   help="refuse a MAIL FROM address without \"@\", as relays do")
    p.add_argument("--auth-required", action="store_true",
                   help="answer MAIL before a login with 530 Authentication required")
    p.add_argument("--max-size", type=int,
                   help="announce SIZE N and refuse larger messages with 552")
    a = p.parse_args()
    # Failed handshakes are part of the tests: keep their traces quiet.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)

    context = None
    if a.tls != "none":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.cert, a.key)

    recorder = Recorder(a.out, a.reject, a.tls == "implicit", a.sender_needs_domain)
    recorder.busy = a.busy

    def authenticator(server, session, envelope, mechanism, auth_data):
        user = auth_data.login.decode("utf-8", "replace") if isinstance(auth_data, LoginPassword) else "?"
        ok = False
        if a.auth and isinstance(auth_data, LoginPassword):
            want_user, want_password = a.auth.split(":", 1)
            ok = (auth_data.login.decode() == want_user and
                  auth_data.password.decode() == want_password)
        recorder.event("AUTH %s %s %s" % (mechanism, user, "ok" if ok else "fail"))
        return AuthResult(success=ok, handled=False)

    def factory():
        kwargs = dict(hostname="test.local", auth_require_tls=False)
        if a.tls == "starttls":
            kwargs["tls_context"] = context
        if a.auth:
            kwargs["authenticator"] = authenticator
            kwargs["auth_required"] = a.auth_required
            if a.no_login_mechanism:
                kwargs["auth_exclude_mechanism"] = ["LOGIN"]
        if a.max_size:
            kwargs["data_size_limit"] = a.max_size
        return SMTP(recorder, **kwargs)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        factory, "127.0.0.1", 0, ssl=context if a.tls == "implicit" else None))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    sys.exit(main())
