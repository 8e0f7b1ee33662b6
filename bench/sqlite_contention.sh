#!/usr/bin/env bash
# Many jobs of one run on one SQLite file (run by hand, never by the tests):
#   1. 200 writing jobs (a one-row CSV and a per-record INSERT each) on
#      8 workers: how many fail, and the wall time;
#   2. four slow read-only exports (a few seconds of work each) on 4 workers:
#      how many fail, and the wall time beside one export alone;
#   3. four slow writing scripts (the same work, then an INSERT) on 4
#      workers: how many fail (they must take turns), and the wall time;
#   4. four quick read-only exports, each delivered by HTTP to a local server
#      that answers after 3 s (tests/servers/http_server.py), on 4 workers:
#      how many fail, and the wall time (3 s when they share the file).
# Usage: bench/sqlite_contention.sh [build-dir or executable]
#        (prepares bench/out/contention/, prints the figures)
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-build}
if [ -x "$target" ] && [ ! -d "$target" ]; then exe=$(realpath "$target"); else exe=$PWD/$target/ostrevane; fi
out=$PWD/bench/out/contention
rm -rf "$out"
mkdir -p "$out"
cd "$out"

sqlite3 jobs.db <<'SQL'
CREATE TABLE runs (n INTEGER);
CREATE TABLE numbers (i INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 8000)
INSERT INTO numbers SELECT i FROM n;
SQL
printf '\xff\xfe' > jobs.udl
printf '[oledb]\r\nProvider=SQLite;Data Source=jobs.db\r\n' | iconv -f UTF-8 -t UTF-16LE >> jobs.udl
echo "SELECT 1 AS one" > one.sql
echo "INSERT INTO runs VALUES (:n)" > mark.sql
# A read-only export that computes for a few seconds before its one row.
echo "SELECT count(*) AS pairs FROM numbers a, numbers b WHERE (a.i * b.i) % 7 = 3" > slow.sql

: > writers.txt
for i in $(seq 1 200); do
  echo "-clear -udl:jobs.udl -sql:one.sql -postrecsql:mark.sql -tocsv:w/job_$i.csv -params:n=$i" >> writers.txt
done
: > readers.txt
for i in 1 2 3 4; do
  echo "-clear -udl:jobs.udl -sql:slow.sql -tocsv:r/slow_$i.csv" >> readers.txt
done
head -n 1 readers.txt > reader.txt
echo "INSERT INTO runs $(cat slow.sql)" > slow_insert.sql
: > slow_writers.txt
for i in 1 2 3 4; do
  echo "-clear -udl:jobs.udl -sql:slow_insert.sql" >> slow_writers.txt
done

mkdir -p http
/usr/bin/python3 ../../../tests/servers/http_server.py --out http --plan slow --delay 3 > http.port &
http_pid=$!
trap 'kill $http_pid' EXIT
while ! grep -q PORT http.port; do sleep 0.1; done
http_port=$(sed 's/PORT //' http.port)
: > delivered.txt
for i in 1 2 3 4; do
  echo "-clear -udl:jobs.udl -sql:one.sql -tocsv:d/one_$i.csv -http" >> delivered.txt
done

export OSTREVANE_HOME=$out
run() {  # run LIST THREADS: prints failures and wall time
  printf '[Ostrevane]\r\nthread_count=%s\r\ncommand_timeout=120\r\n' "$2" > settings.ini
  printf '[HTTP]\r\nServer=http://127.0.0.1:%s/in\r\n' "$http_port" >> settings.ini
  rm -rf log
  local start end
  start=$(date +%s.%N)
  "$exe" -list:"$1" > "$1.out" 2>&1 || true
  end=$(date +%s.%N)
  printf '%-12s %s workers: %3d failed of %3d, %.2f s wall\n' "$1" "$2" \
    "$(grep -c '\[ERROR\]' "$1.out" || true)" "$(grep -c . "$1")" "$(echo "$end - $start" | bc)"
  grep -m 3 '\[ERROR\]' "$1.out" | sed 's/^/    /' || true
}
run writers.txt 8
echo "rows in runs: $(sqlite3 jobs.db 'SELECT count(*) FROM runs') (200 expected)"
run reader.txt 1
run readers.txt 4
run slow_writers.txt 4
run delivered.txt 4
