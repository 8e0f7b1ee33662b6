#!/usr/bin/python3
"""A fake S3 server for the object storage tests: s3rver (an npm package
that scripts/setup installs into the build tree) behind a proxy that
checks every request as S3 would and records it. s3rver itself does not
check Signature Version 4, so the proxy does, independently of the program
under test: with botocore's signer.

Listens on 127.0.0.1 and an ephemeral port, prints "PORT <n>", serves
until killed; TLS with --cert and --key. s3rver keeps its objects in
OUT/store, the bucket --bucket made at the start. For every request:
- the body's SHA-256 must be what x-amz-content-sha256 says, else
  400 XAmzContentSHA256Mismatch;
- the path must be percent-encoded as a signature covers it, else
  400 InvalidURI;
- the Authorization header must be a SigV4 signature by --access-key over
  the method, path, query, the headers it names (host, x-amz-date,
  x-amz-content-sha256 and every other x-amz-* header among them) and the
  payload hash, in --region, made with --secret, x-amz-date within 15
  minutes: else 403 InvalidAccessKeyId, SignatureDoesNotMatch,
  RequestTimeTooSkewed or 400 AuthorizationHeaderMalformed. With
  --session-token, x-amz-security-token must be that token (403
  InvalidToken).
Then --fail-part N:K:STATUS answers the first K tries of part N of any
upload with STATUS (an InternalError), --slow-parts SECONDS waits before
each part goes on, and the request goes to s3rver without its credentials
-- except AbortMultipartUpload, which s3rver lacks: the proxy removes the
upload's folder from s3rver's store itself (204; 404 NoSuchUpload).

OUT/requests.log gets one line per request: METHOD PATH[?QUERY] STATUS
VERDICT BYTES SHA256, the verdict "verified", "injected" or the error
code the proxy answered."""
import argparse
import ctypes
import datetime
import hashlib
import hmac
import http.client
import os
import re
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, quote, unquote, urlsplit

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

AUTH = re.compile(r"AWS4-HMAC-SHA256 Credential=([^/,]+)/(\d{8})/([^/,]+)/s3/aws4_request, *"
                  r"SignedHeaders=([a-z0-9;-]+), *Signature=([0-9a-f]{64})$")


class Refusal(Exception):
    def __init__(self, status, code):
        super().__init__(code)
        self.status, self.code = status, code


def start_s3rver(binary, store, bucket):
    def die_with_parent():
        ctypes.CDLL("libc.so.6").prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG

    os.makedirs(store, exist_ok=True)
    proc = subprocess.Popen(["node", binary, "-d", store, "-a", "127.0.0.1", "-p", "0",
                             "--configure-bucket", bucket],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)
    for line in proc.stdout:
        m = re.search(rb"listening on 127\.0\.0\.1:(\d+)", line)
        if m:
            # Keep reading its log, so that it never blocks on a full pipe.
            threading.Thread(target=lambda: [None for _ in proc.stdout], daemon=True).start()
            return proc, int(m.group(1))
    raise SystemExit("s3rver did not start")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--s3rver", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--bucket", required=True)
    p.add_argument("--region", default="us-east-1")
    p.add_argument("--access-key", required=True)
    p.add_argument("--secret", required=True)
    p.add_argument("--session-token", default="")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--fail-part", default="")
    p.add_argument("--slow-parts", type=float, default=0)
    a = p.parse_args()

    store = os.path.join(a.out, "store")
    s3rver, s3rver_port = start_s3rver(a.s3rver, store, a.bucket)
    fail_part, fail_times, fail_status = (0, 0, 0)
    if a.fail_part:
        fail_part, fail_times, fail_status = (int(x) for x in a.fail_part.split(":"))
    lock = threading.Lock()
    tries = {}

    def record(line):
        with lock, open(os.path.join(a.out, "requests.log"), "a") as f:
            f.write(line + "\n")

    def verify(method, target, headers, payload_hash):
        if headers.get("x-amz-content-sha256") != payload_hash:
            raise Refusal(400, "XAmzContentSHA256Mismatch")
        path = urlsplit(target).path
        if quote(unquote(path), safe="/~") != path:
            raise Refusal(400, "InvalidURI")
        m = AUTH.match(headers.get("authorization", ""))
        if not m:
            raise Refusal(400, "AuthorizationHeaderMalformed")
        key, date, region, signed, signature = m.groups()
        if key != a.access_key:
            raise Refusal(403, "InvalidAccessKeyId")
        if region != a.region:
            raise Refusal(400, "AuthorizationHeaderMalformed")
        amz_date = headers.get("x-amz-date", "")
        try:
            when = datetime.datetime.strptime(amz_date, "%Y%m%dT%H%M%SZ")
        except ValueError:
            raise Refusal(403, "SignatureDoesNotMatch")
        if amz_date[:8] != date:
            raise Refusal(403, "SignatureDoesNotMatch")
        if abs((datetime.datetime.utcnow() - when).total_seconds()) > 900:
            raise Refusal(403, "RequestTimeTooSkewed")
        names = signed.split(";")
        must = {"host", "x-amz-date", "x-amz-content-sha256"}
        must |= {n for n in headers if n.startswith("x-amz-")}
        if not must <= set(names) or any(n not in headers for n in names):
            raise Refusal(403, "SignatureDoesNotMatch")
        if a.session_token and headers.get("x-amz-security-token") != a.session_token:
            raise Refusal(403, "InvalidToken")
        request = AWSRequest(method=method, url="https://" + headers["host"] + target,
                             headers={n: headers[n] for n in names})
        request.context["timestamp"] = amz_date
        signer = S3SigV4Auth(Credentials(key, a.secret), "s3", region)
        canonical = signer.canonical_request(request)
        expected = signer.signature(signer.string_to_sign(request, canonical), request)
        if not hmac.compare_digest(expected, signature):
            raise Refusal(403, "SignatureDoesNotMatch")

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def reply(self, status, body=b"", headers=()):
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if body and self.command != "HEAD":
                self.wfile.write(body)

        def error(self, status, code):
            xml = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code>"
                   "<Message>refused by the test server</Message></Error>" % code)
            self.reply(status, xml.encode(), [("Content-Type", "application/xml")])

        def handle_request(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = tempfile.SpooledTemporaryFile(8 << 20)
            digest = hashlib.sha256()
            left = length
            while left > 0:
                chunk = self.rfile.read(min(left, 1 << 20))
                if not chunk:
                    break
                digest.update(chunk)
                body.write(chunk)
                left -= len(chunk)
            payload = digest.hexdigest()
            def line(status, verdict):
                return "%s %s %d %s %d %s" % (self.command, self.path, status, verdict,
                                               length - left, payload)
            if left > 0:
                record(line(0, "incomplete"))
                self.close_connection = True
                return
            body.seek(0)
            headers = {k.lower(): v for k, v in self.headers.items()}
            query = parse_qs(urlsplit(self.path).query, keep_blank_values=True)
            try:
                verify(self.command, self.path, headers, payload)
            except Refusal as r:
                record(line(r.status, r.code))
                self.error(r.status, r.code)
                return
            if self.command == "PUT" and "partNumber" in query:
                number = int(query["partNumber"][0])
                with lock:
                    tries[number] = tries.get(number, 0) + 1
                    failing = number == fail_part and tries[number] <= fail_times
                if failing:
                    record(line(fail_status, "injected"))
                    self.error(fail_status, "InternalError")
                    return
                time.sleep(a.slow_parts)
            if self.command == "DELETE" and "uploadId" in query:
                upload = os.path.join(store, a.bucket, "._S3rver_uploads",
                                      os.path.basename(query["uploadId"][0]))
                if os.path.isdir(upload):
                    shutil.rmtree(upload)
                    record(line(204, "verified"))
                    self.reply(204)
                else:
                    record(line(404, "NoSuchUpload"))
                    self.error(404, "NoSuchUpload")
                return
            forward = {k: v for k, v in self.headers.items()
                       if k.lower() not in ("authorization", "x-amz-security-token", "expect",
                                            "connection", "transfer-encoding", "content-length")}
            forward["Content-Length"] = str(length)
            upstream = http.client.HTTPConnection("127.0.0.1", s3rver_port, timeout=120)
            upstream.request(self.command, self.path, body=body if length else None,
                             headers=forward)
            answer = upstream.getresponse()
            data = answer.read()
            upstream.close()
            record(line(answer.status, "verified"))
            self.reply(answer.status, data,
                       [(k, v) for k, v in answer.getheaders()
                        if k.lower() not in ("connection", "transfer-encoding", "content-length",
                                             "keep-alive", "date", "server")])

        do_PUT = do_POST = do_DELETE = do_GET = do_HEAD = handle_request

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if a.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.cert, a.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)

    def stop(*_):
        s3rver.kill()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
