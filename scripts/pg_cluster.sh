# Sourced by scripts/test.sh: starts a throwaway PostgreSQL cluster on
# 127.0.0.1 with a free port and exports OSTREVANE_PG_PORT. initdb refuses to
# run as root, so the cluster belongs to the postgres user. Every role
# connects without a password, except members of "password_login", which
# must give theirs over TCP (the wrong-password tests use such a role).
pg_cluster_start() {
  local bindir
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$bindir" ]; then
    echo "pg_cluster: no PostgreSQL server installed; PostgreSQL tests will be skipped"
    return 0
  fi
  PG_DIR=$(mktemp -d /tmp/ostrevane-pg-XXXXXX)
  chmod 755 "$PG_DIR"
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  local as_pg=(sh -c)
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$PG_DIR"
    as_pg=(su postgres -s /bin/sh -c)
  fi
  "${as_pg[@]}" "$bindir/initdb -D $PG_DIR/data -U postgres -A trust >$PG_DIR/initdb.log 2>&1"
  cat >"$PG_DIR/data/pg_hba.conf" <<'HBA'
local all all                          trust
host  all +password_login 127.0.0.1/32 scram-sha-256
host  all all             127.0.0.1/32 trust
host  all all             ::1/128      trust
HBA
  "${as_pg[@]}" "$bindir/pg_ctl -D $PG_DIR/data -l $PG_DIR/server.log -w -o '-h 127.0.0.1 -p $port -k $PG_DIR -c fsync=off' start >/dev/null"
  "${as_pg[@]}" "$bindir/psql -q -h $PG_DIR -p $port -U postgres -d postgres -c 'CREATE ROLE password_login NOLOGIN'"
  export OSTREVANE_PG_PORT=$port OSTREVANE_PG_BINDIR=$bindir PG_DIR
  echo "pg_cluster: PostgreSQL on 127.0.0.1:$port"
}

pg_cluster_stop() {
  [ -n "${PG_DIR:-}" ] || return 0
  local as_pg=(sh -c)
  [ "$(id -u)" -eq 0 ] && as_pg=(su postgres -s /bin/sh -c)
  "${as_pg[@]}" "$OSTREVANE_PG_BINDIR/pg_ctl -D $PG_DIR/data -m immediate stop >/dev/null 2>&1" || true
  rm -rf "$PG_DIR"
  PG_DIR=
}
