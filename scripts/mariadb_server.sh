# Sourced by scripts/test.sh: starts a throwaway MariaDB server on 127.0.0.1
# with a free port and exports OSTREVANE_MYSQL_PORT and OSTREVANE_MYSQL_SOCKET.
# The server's root account has no password over the socket and over TCP from
# 127.0.0.1 (tests create their own databases and password users). The server
# runs as the mysql user when started by root.
mariadb_server_start() {
  if ! command -v mariadbd >/dev/null 2>&1 && [ ! -x /usr/sbin/mariadbd ]; then
    echo "mariadb_server: no MariaDB server installed; MySQL tests will be skipped"
    return 0
  fi
  MARIADB_DIR=$(mktemp -d /tmp/ostrevane-mariadb-XXXXXX)
  chmod 755 "$MARIADB_DIR"
  local port user=()
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  if [ "$(id -u)" -eq 0 ]; then
    chown mysql "$MARIADB_DIR"
    user=(--user=mysql)
  fi
  mariadb-install-db --no-defaults "${user[@]}" --datadir="$MARIADB_DIR/data" \
    --auth-root-authentication-method=normal --skip-test-db \
    >"$MARIADB_DIR/install.log" 2>&1 || {
      echo "mariadb_server: mariadb-install-db failed:"; cat "$MARIADB_DIR/install.log"; return 1; }
  /usr/sbin/mariadbd --no-defaults "${user[@]}" --datadir="$MARIADB_DIR/data" \
    --bind-address=127.0.0.1 --port="$port" --socket="$MARIADB_DIR/mysqld.sock" \
    --pid-file="$MARIADB_DIR/mysqld.pid" --log-error="$MARIADB_DIR/server.log" \
    --skip-name-resolve --innodb-buffer-pool-size=64M --innodb-flush-log-at-trx-commit=0 \
    --innodb-doublewrite=0 --max-connections=200 --character-set-server=utf8mb4 \
    --collation-server=utf8mb4_general_ci &
  MARIADB_PID=$!
  local i
  for i in $(seq 1 100); do
    if mariadb --no-defaults -uroot --socket="$MARIADB_DIR/mysqld.sock" -e 'SELECT 1' >/dev/null 2>&1; then
      break
    fi
    sleep 0.2
  done
  mariadb --no-defaults -uroot --socket="$MARIADB_DIR/mysqld.sock" -e \
    "CREATE USER IF NOT EXISTS 'root'@'127.0.0.1'; GRANT ALL ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;" || {
      echo "mariadb_server: server did not start:"; tail -20 "$MARIADB_DIR/server.log"; return 1; }
  export OSTREVANE_MYSQL_PORT=$port OSTREVANE_MYSQL_SOCKET=$MARIADB_DIR/mysqld.sock MARIADB_DIR
  echo "mariadb_server: MariaDB on 127.0.0.1:$port"
}

mariadb_server_stop() {
  [ -n "${MARIADB_DIR:-}" ] || return 0
  kill "${MARIADB_PID:-}" 2>/dev/null || true
  wait "${MARIADB_PID:-}" 2>/dev/null || true
  rm -rf "$MARIADB_DIR"
  MARIADB_DIR=
}
