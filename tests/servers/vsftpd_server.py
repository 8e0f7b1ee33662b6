#!/usr/bin/python3
"""A real vsftpd for the FTPS tests, with its own configuration and otherwise
its default settings (require_ssl_reuse=YES among them), on 127.0.0.1 and a
free port. Prints "PORT <n>" once it accepts connections, then runs until
killed; vsftpd and its session processes end with it.

Logins are anonymous; --root is the anonymous root (chrooted; it must not
be writable by the ftp account) and its subfolders writable by that account
take uploads, renames and removals. --cert and --key: the certificate;
--tls explicit requires AUTH TLS for the login and the data, --tls implicit
speaks TLS from the first byte. --out gets vsftpd.conf, the protocol log
(vsftpd.log) and an empty folder for vsftpd's own chroot.

Must run as root, as vsftpd does."""
import argparse
import ctypes
import os
import signal
import socket
import subprocess
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def die_with_parent():
    # PR_SET_PDEATHSIG: vsftpd must not outlive this script.
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--tls", choices=["explicit", "implicit"], default="explicit")
    a = p.parse_args()

    empty = os.path.join(a.out, "empty")
    os.makedirs(empty, exist_ok=True)
    os.chmod(empty, 0o755)
    for attempt in range(5):
        port = free_port()
        conf = os.path.join(a.out, "vsftpd.conf")
        lines = [
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
            "listen_port=%d" % port, "background=NO",
            "anonymous_enable=YES", "local_enable=NO", "no_anon_password=YES",
            "write_enable=YES", "anon_upload_enable=YES", "anon_other_write_enable=YES",
            "anon_umask=022", "anon_root=" + a.root,
            "ssl_enable=YES", "allow_anon_ssl=YES",
            "force_anon_logins_ssl=YES", "force_anon_data_ssl=YES",
            "rsa_cert_file=" + a.cert, "rsa_private_key_file=" + a.key,
            "implicit_ssl=" + ("YES" if a.tls == "implicit" else "NO"),
            "secure_chroot_dir=" + empty,
            "vsftpd_log_file=" + os.path.join(a.out, "vsftpd.log"),
            "xferlog_enable=YES", "log_ftp_protocol=YES",
            "seccomp_sandbox=NO",
        ]
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        proc = subprocess.Popen(["/usr/sbin/vsftpd", conf], start_new_session=True,
                                preexec_fn=die_with_parent, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and proc.poll() is None:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1):
                    pass
                break
            except OSError:
                time.sleep(0.05)
        if proc.poll() is None:
            break
        sys.stderr.write("vsftpd ended: %s\n" % proc.stderr.read().decode(errors="replace"))
    else:
        return 1

    def stop(*_):
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("PORT %d" % port, flush=True)
    proc.wait()
    return 1


if __name__ == "__main__":
    sys.exit(main())
