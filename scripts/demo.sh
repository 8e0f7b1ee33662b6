#!/usr/bin/env bash
# The first thing to run: builds Ostrevane, creates a small SQLite sales
# database from examples/, runs the four demo jobs of examples/jobs.txt and
# shows what they wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup >/dev/null

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp -r examples "$demo/"
cd "$demo"
sqlite3 sales.db < examples/sales.sql

echo "== ostrevane -list:examples/jobs.txt   (in $demo)"
status=0
OSTREVANE_HOME=$demo "$root/build/ostrevane" -list:examples/jobs.txt || status=$?
echo
echo "== exit status: $status"
echo
echo "== files written"
find out -type f | sort
echo
for f in $(find out -name '*.csv' | sort); do
  echo "-- $f"
  cat "$f"
  echo
done
echo "-- out/xml/regions.xml"
cat out/xml/regions.xml
echo
echo
echo "== log file (UTF-16LE on disk)"
iconv -f UTF-16 -t UTF-8 log/*_log.txt
echo "== RESULT.TXT: $(cat log/RESULT.TXT)"
echo
echo "== the database after the run"
sqlite3 -header sales.db "SELECT sale_id, exported FROM sales; SELECT month, region_id, total FROM monthly_totals;"
