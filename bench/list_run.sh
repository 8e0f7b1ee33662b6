#!/usr/bin/env bash
# Whole-program benchmarks of list runs (run by hand, never by the tests):
#   1. 1,000 small jobs (a one-row CSV each) on 5 workers: jobs per second and
#      the dispatcher's cost per job (against the same list on an empty SQL);
#   2. a 1,000,000-row, 7-column export through the whole program, beside
#      `sqlite3 -csv` on the same query;
#   3. with OSTREVANE_PG_PORT set (source scripts/pg_cluster.sh and run
#      pg_cluster_start first): the same export from PostgreSQL, beside
#      `psql -c "\copy (SELECT ...) TO file CSV"`.
# Usage: bench/list_run.sh [build-dir]   (prepares bench/out/, prints timings)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
exe=$PWD/$build/ostrevane
out=$PWD/bench/out
mkdir -p "$out"
cd "$out"

if [ ! -f big.db ]; then
  sqlite3 big.db <<'SQL'
CREATE TABLE t (id INTEGER, name VARCHAR(30), price DECIMAL(10,2), qty INTEGER,
                sold DATETIME, ok BOOLEAN, note VARCHAR(40));
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)
INSERT INTO t SELECT i, 'name ' || i, (i % 10000) / 100.0, i % 97,
  datetime(1700000000 + i * 37, 'unixepoch'), i % 2,
  CASE WHEN i % 5 = 0 THEN NULL ELSE 'note; with separator ' || (i % 13) END FROM n;
CREATE TABLE small (id INTEGER, name VARCHAR(10));
INSERT INTO small VALUES (1, 'one');
SQL
fi
printf '\xff\xfe' > big.udl
printf '[oledb]\r\nProvider=SQLite;Data Source=big.db\r\n' | iconv -f UTF-8 -t UTF-16LE >> big.udl
echo "SELECT id, name, price, qty, sold, ok, note FROM t" > export.sql
echo "SELECT id, name FROM small" > small.sql
printf '[Ostrevane]\r\nthread_count=5\r\n' > settings.ini

: > jobs1000.txt
for i in $(seq 1 1000); do
  echo "-clear -udl:big.udl -sql:small.sql -tocsv:small/job_$i.csv -csvcp:0" >> jobs1000.txt
done
echo "-udl:big.udl -sql:export.sql -tocsv:export.csv -csvcp:0 -csvformat:," > export.txt
echo "-udl:big.udl -sql:export.sql -toxml:export.xml" > export_xml.txt

export OSTREVANE_HOME=$out
measure() { /usr/bin/time -f '%e s wall, %U s user, %M KB peak memory' "$@"; }
echo "== 1,000 one-row CSV jobs on 5 workers"
measure "$exe" -list:jobs1000.txt >/dev/null
echo "== 1,000,000-row export through the program (CSV)"
measure "$exe" -list:export.txt >/dev/null
echo "== the same rows as XML"
measure "$exe" -list:export_xml.txt >/dev/null
echo "== the same query with sqlite3 -csv"
measure sqlite3 -csv big.db < export.sql > sqlite3.csv

if [ -n "${OSTREVANE_PG_PORT:-}" ]; then
  pg=(psql -h 127.0.0.1 -p "$OSTREVANE_PG_PORT" -U postgres -q)
  if ! "${pg[@]}" -d bench -c "SELECT 1" >/dev/null 2>&1; then
    "${pg[@]}" -c "CREATE DATABASE bench"
    "${pg[@]}" -d bench <<'SQL'
CREATE TABLE t (id INTEGER, name VARCHAR(30), price DECIMAL(10,2), qty INTEGER,
                sold TIMESTAMP, ok BOOLEAN, note VARCHAR(40));
INSERT INTO t SELECT i, 'name ' || i, (i % 10000) / 100.0, i % 97,
  to_timestamp(1700000000 + i * 37)::timestamp, i % 2 = 1,
  CASE WHEN i % 5 = 0 THEN NULL ELSE 'note; with separator ' || (i % 13) END
FROM generate_series(1, 1000000) AS i;
SQL
  fi
  printf '\xff\xfe' > pg.udl
  printf 'Provider=PostgreSQL;Data Source=127.0.0.1:%s;Initial Catalog=bench;User ID=postgres' \
    "$OSTREVANE_PG_PORT" | iconv -f UTF-8 -t UTF-16LE >> pg.udl
  echo "-udl:pg.udl -sql:export.sql -tocsv:pg_export.csv -csvcp:0 -csvformat:," > pg_export.txt
  echo "== 1,000,000-row export from PostgreSQL through the program (CSV)"
  measure "$exe" -list:pg_export.txt >/dev/null
  echo "== the same query with psql \\copy"
  measure "${pg[@]}" -d bench -c "\\copy (SELECT id, name, price, qty, sold, ok, note FROM t) TO 'psql.csv' CSV"
fi
