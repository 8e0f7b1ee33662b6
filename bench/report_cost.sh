#!/usr/bin/env bash
# What the run report costs: a 1,000,000-row, 7-column SQLite -> CSV export
# through the whole program, timed with hyperfine, by two executables: one
# built without the report and checksums (BASE, e.g. built from an earlier
# commit) and this build. Run by hand, never by the tests; on a shared
# machine run it a few times and compare the medians and their spread.
# Usage: bench/report_cost.sh BASE-EXECUTABLE [build-dir] [runs-per-round] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
base=$(realpath "$1")
build=${2:-build}
runs=${3:-5}
rounds=${4:-4}
exe=$PWD/$build/ostrevane
out=$PWD/bench/out/report_cost
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
SQL
fi
printf '\xff\xfe' > big.udl
printf '[oledb]\r\nProvider=SQLite;Data Source=big.db\r\n' | iconv -f UTF-8 -t UTF-16LE >> big.udl
echo "SELECT id, name, price, qty, sold, ok, note FROM t" > export.sql
printf '[Ostrevane]\r\nthread_count=1\r\n' > settings.ini
echo "-udl:big.udl -sql:export.sql -tocsv:export.csv -csvcp:0 -csvformat:," > export.txt
export OSTREVANE_HOME=$out

# Several rounds of both, so that a change in the machine's load shows as
# spread between rounds instead of favouring one side.
rm -f times_*.json
for round in $(seq 1 "$rounds"); do
  hyperfine --warmup 1 --runs "$runs" --export-json "times_$round.json" \
    -n without "$base -list:export.txt" -n with "$exe -list:export.txt" >/dev/null
done
python3 - <<'PY'
import glob, json, statistics
all_times = {"without": [], "with": []}
costs = []
for f in sorted(glob.glob("times_*.json")):
    r = {x["command"]: x["times"] for x in json.load(open(f))["results"]}
    for k in all_times: all_times[k] += r[k]
    b, w = statistics.median(r["without"]), statistics.median(r["with"])
    costs.append(100 * (w - b) / b)
    print(f"{f}: without {b:.3f} s, with {w:.3f} s, cost {costs[-1]:+.1f} %")
for name, t in all_times.items():
    t = sorted(t)
    print(f"{name:8} median {statistics.median(t):.3f} s  min {t[0]:.3f}  max {t[-1]:.3f}  (n={len(t)})")
b, w = statistics.median(all_times["without"]), statistics.median(all_times["with"])
print(f"cost of the report: {100 * (w - b) / b:+.1f} % of the overall median; "
      f"per round {min(costs):+.1f} % .. {max(costs):+.1f} %")
PY
ls -l export.csv
