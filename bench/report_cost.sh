#!/usr/bin/env bash
# What the run report costs: a 1,000,000-row, 7-column SQLite -> CSV export
# through the whole program, timed by two executables: one
# built without the report and checksums (BASE, e.g. built from an earlier
# commit) and this build. Run by hand, never by the tests; on a shared
# machine run it a few times and compare the medians and their spread.
# Usage: bench/report_cost.sh BASE-EXECUTABLE [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
base=$(realpath "$1")
build=${2:-build}
runs=${3:-30}
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

# The two programs take turns, run after run, so that a change in the load of
# a shared machine hits both alike. Wall time and CPU time (user + system, from
# the kernel's accounting of the child) per run; the CPU time is the steadier
# figure when other programs compete for the cores.
python3 - "$base" "$exe" "$runs" <<'PY'
import os, statistics, sys, time
base, exe, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
def once(program):
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1)
        os.execv(program, [program, "-list:export.txt"])
    _, status, usage = os.wait4(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0, program
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime
once(base); once(exe)  # warm the page cache
t = {"without": [], "with": []}
for _ in range(runs):
    t["without"].append(once(base))
    t["with"].append(once(exe))
def q(v, f): return v[min(len(v) - 1, int(f * len(v)))]
med = {}
for name, values in t.items():
    for i, what in enumerate(("wall", "cpu")):
        v = sorted(x[i] for x in values)
        med[name, what] = statistics.median(v)
        print(f"{name:8} {what:4} median {med[name, what]:.3f} s  "
              f"quartiles {q(v, .25):.3f}..{q(v, .75):.3f}  min {v[0]:.3f}  max {v[-1]:.3f}  (n={len(v)})")
for what in ("wall", "cpu"):
    b, w = med["without", what], med["with", what]
    print(f"cost of the report ({what} time, medians): {100 * (w - b) / b:+.1f} %")
PY
ls -l export.csv
