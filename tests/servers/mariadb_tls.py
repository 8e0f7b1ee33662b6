#!/usr/bin/python3
"""A throwaway MariaDB server that accepts TLS connections only
(require_secure_transport), for the TLS tests of the MySQL backend.

Makes a data folder of its own, starts mariadbd on 127.0.0.1 and an
ephemeral port with --cert, --key and --ca, prints "PORT <n>" once it
answers, and on SIGTERM kills the server and removes the folder. The
root account logs in without a password from 127.0.0.1, over TLS."""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--ca", required=True)
    a = p.parse_args()

    folder = tempfile.mkdtemp(prefix="ostrevane-mariadb-tls-")
    server = None

    def stop(*_):
        if server and server.poll() is None:
            server.kill()  # the data is thrown away: no clean shutdown needed
            server.wait()
        shutil.rmtree(folder, ignore_errors=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    os.chmod(folder, 0o755)
    user = []
    # The server reads its certificate files as its own user.
    for name in ("cert", "key", "ca"):
        target = os.path.join(folder, name + ".pem")
        shutil.copyfile(getattr(a, name), target)
        setattr(a, name, target)
    if os.getuid() == 0:
        user = ["--user=mysql"]
        for entry in [folder] + [a.cert, a.key, a.ca]:
            shutil.chown(entry, "mysql")
    data = os.path.join(folder, "data")
    subprocess.run(["mariadb-install-db", "--no-defaults"] + user +
                   ["--datadir=" + data, "--auth-root-authentication-method=normal",
                    "--skip-test-db"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    sock = os.path.join(folder, "mysqld.sock")
    server = subprocess.Popen(
        ["/usr/sbin/mariadbd", "--no-defaults"] + user +
        ["--datadir=" + data, "--bind-address=127.0.0.1", "--port=%d" % port,
         "--socket=" + sock, "--pid-file=" + os.path.join(folder, "mysqld.pid"),
         "--log-error=" + os.path.join(folder, "server.log"), "--skip-name-resolve",
         "--innodb-buffer-pool-size=16M", "--open-files-limit=1024",
         "--ssl-cert=" + a.cert, "--ssl-key=" + a.key, "--ssl-ca=" + a.ca,
         "--require-secure-transport=ON"])
    for _ in range(150):
        if subprocess.run(["mariadb", "--no-defaults", "-uroot", "--socket=" + sock,
                           "-e", "SELECT 1"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            break
        if server.poll() is not None:
            break
        time.sleep(0.1)
    else:
        stop()
    if server.poll() is not None:
        sys.stderr.write(open(os.path.join(folder, "server.log")).read())
        stop()
    # The socket counts as secure transport; TCP logins need TLS.
    subprocess.run(["mariadb", "--no-defaults", "-uroot", "--socket=" + sock, "-e",
                    "CREATE USER IF NOT EXISTS 'root'@'127.0.0.1'; "
                    "GRANT ALL ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION"], check=True)
    print("PORT %d" % port, flush=True)
    while True:
        signal.pause()


if __name__ == "__main__":
    main()
