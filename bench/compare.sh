#!/usr/bin/env bash
# Exports of one 7-column table set beside what a user would pick instead,
# run by hand (never by the tests). Each export runs paired with its
# comparator, alternating, RUNS times (default 5); the script checks that
# both outputs hold the same rows (count and the sequence of the first
# column) and prints the wall-time ratio program/comparator as the median
# with min-max, and the peak memory of each side (/usr/bin/time).
#
#   SQLite -> CSV      vs  sqlite3 -csv
#   SQLite -> CSV      vs  a bare sqlite3-API loop (bench/sqlite_loop.cc)
#   PostgreSQL -> CSV  vs  psql \copy (SELECT ...) TO file CSV
#   SQLite ODBC driver vs  the native SQLite provider
#   PostgreSQL ODBC    vs  the native PostgreSQL provider
#   SQLite ODBC driver vs  a bare ODBC loop through the same driver with
#   PostgreSQL ODBC        bound row arrays (bench/odbc_loop.cc; the MariaDB
#                          driver's row is in bench/mysql_export.sh)
#   XML                vs  CSV of the same rows
#   CSV with a header line (-csvheader) vs CSV without
#   JSON Lines (-tojson) vs CSV of the same rows
#   CSV -compress:zstd (level 3) vs uncompressed CSV
#   CSV -compress:gzip (level 6) vs sqlite3 -csv | gzip -6
#
# The data (bench/out/) is made on the first run for each row count;
# PostgreSQL runs in a throwaway cluster (scripts/pg_cluster.sh) that is
# stopped on exit. The machine's other load makes wall times noisy: compare
# medians of several runs, and instruction counts (valgrind --tool=callgrind)
# for decisions.
# Usage: bench/compare.sh [ROWS] [BUILD_DIR]   (ROWS default 1000000; "5M" works)
#   RUNS=n: paired runs per export; ONLY=regex: only the exports whose label
#   matches (e.g. ONLY=XML).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rows=${1:-1000000}
rows=${rows/M/000000}
rows=${rows/k/000}
build=${2:-build}
runs=${RUNS:-5}
exe=$root/$build/ostrevane
cmake --build "$build" --target ostrevane sqlite_loop odbc_loop >/dev/null
loop=$root/$build/sqlite_loop
odbc_loop=$root/$build/odbc_loop
out=$root/bench/out
mkdir -p "$out"
cd "$out"
scratch=$(mktemp -d)

# shellcheck source=scripts/pg_cluster.sh
source "$root/scripts/pg_cluster.sh"
trap 'pg_cluster_stop >/dev/null 2>&1; rm -rf "$scratch"' EXIT
pg_cluster_start >/dev/null

db=$out/t_$rows.db
if [ ! -f "$db" ]; then
  echo "making $db"
  sqlite3 "$db.part" <<SQL
CREATE TABLE t (id INTEGER, name VARCHAR(30), price DECIMAL(10,2), qty INTEGER,
                sold DATETIME, ok BOOLEAN, note VARCHAR(40));
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO t SELECT i, 'name ' || i, (i % 10000) / 100.0, i % 97,
  datetime(1700000000 + i * 37, 'unixepoch'), i % 2,
  CASE WHEN i % 5 = 0 THEN NULL ELSE 'note; with separator ' || (i % 13) END FROM n;
SQL
  mv "$db.part" "$db"
fi
pg=(psql -h 127.0.0.1 -p "$OSTREVANE_PG_PORT" -U postgres -q -v ON_ERROR_STOP=1)
"${pg[@]}" -d postgres -c "CREATE DATABASE bench" >/dev/null
"${pg[@]}" -d bench >/dev/null <<SQL
CREATE TABLE t (id INTEGER, name VARCHAR(30), price DECIMAL(10,2), qty INTEGER,
                sold TIMESTAMP, ok BOOLEAN, note VARCHAR(40));
INSERT INTO t SELECT i, 'name ' || i, (i % 10000) / 100.0, i % 97,
  to_timestamp(1700000000 + i * 37)::timestamp, i % 2 = 1,
  CASE WHEN i % 5 = 0 THEN NULL ELSE 'note; with separator ' || (i % 13) END
FROM generate_series(1, $rows) AS i;
VACUUM ANALYZE t;
SQL

query="SELECT id, name, price, qty, sold, ok, note FROM t"
echo "$query" > export.sql
udl() {  # udl FILE CONNECTION-STRING
  { printf '\xff\xfe'; printf '[oledb]\r\n%s\r\n' "$2" | iconv -f UTF-8 -t UTF-16LE; } > "$1"
}
udl sqlite.udl "Provider=SQLite;Data Source=$db"
udl sqlite_odbc.udl "Provider=ODBC;Driver=SQLite3;Database=$db"
udl pg.udl "Provider=PostgreSQL;Data Source=127.0.0.1:$OSTREVANE_PG_PORT;Initial Catalog=bench;User ID=postgres"
udl pg_odbc.udl "Provider=ODBC;Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port=$OSTREVANE_PG_PORT;Database=bench;UID=postgres"
printf '[Ostrevane]\r\nthread_count=1\r\ncommand_timeout=3600\r\nlog_dir=%s\r\n' "$scratch/log" > settings.ini
export OSTREVANE_HOME=$out

# Each command is a small script in the scratch folder, so that
# /usr/bin/time measures it (and, through wait4, its children) alone.
command() {  # command NAME OUTPUT-FILE COMMAND...
  local name=$1 file=$2
  shift 2
  printf '%q ' "$@" > "$scratch/$name.sh"
  printf '>"%s" 2>&1 && test -f %q\n' "$scratch/$name.log" "$scratch/$file" >> "$scratch/$name.sh"
  echo "$file" > "$scratch/$name.out"
}
program() {  # program NAME UDL -tocsv|-toxml|-tojson [MORE-OPTIONS [FILE-SUFFIX]]
  local name=$1 file=$1.${3#-to}
  echo "-udl:$2 -sql:export.sql $3:$scratch/$file -csvcp:0 -csvformat:, ${4:-}" > "$scratch/$name.txt"
  command "$name" "$file${5:-}" "$exe" -list:"$scratch/$name.txt"
}
program sqlite_csv sqlite.udl -tocsv
program sqlite_xml sqlite.udl -toxml
program sqlite_csv_header sqlite.udl -tocsv -csvheader
program sqlite_json sqlite.udl -tojson
program sqlite_zstd sqlite.udl -tocsv -compress:zstd .zst
program sqlite_gzip sqlite.udl -tocsv -compress:gzip .gz
program pg_csv pg.udl -tocsv
program sqlite_odbc_csv sqlite_odbc.udl -tocsv
program pg_odbc_csv pg_odbc.udl -tocsv
command sqlite3_csv sqlite3.csv sh -c "sqlite3 -csv '$db' '$query' > '$scratch/sqlite3.csv'"
command bare_loop loop.csv "$loop" "$db" "$query" "$scratch/loop.csv"
command sqlite3_gzip sqlite3.csv.gz sh -c "sqlite3 -csv '$db' '$query' | gzip -6 > '$scratch/sqlite3.csv.gz'"
# The bare loops take the options the program adds for these drivers.
command sqlite_odbc_loop odbc_loop_sqlite.csv "$odbc_loop" "Driver=SQLite3;Database=$db;StepAPI=1" \
  "$query" "$scratch/odbc_loop_sqlite.csv" bind
command pg_odbc_loop odbc_loop_pg.csv "$odbc_loop" \
  "Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port=$OSTREVANE_PG_PORT;Database=bench;UID=postgres;UseDeclareFetch=1;Fetch=1000" \
  "$query" "$scratch/odbc_loop_pg.csv" bind manual
command psql_copy psql.csv "${pg[@]}" -d bench -c "\\copy ($query) TO '$scratch/psql.csv' CSV"

# The rows of an output as "count md5-of-the-first-column" (a header line
# left out, a compressed file decompressed).
rows_of() {
  local text=cat
  case $1 in
    *.gz) text="gzip -dc" ;;
    *.zst) text="zstd -q -dc" ;;
  esac
  case $1 in
    *.xml*) $text "$1" | grep -o -i '<RECORD ID="[^"]*"' | cut -d'"' -f2 ;;
    *.json*) $text "$1" | sed 's/^{"id":\([0-9]*\),.*/\1/' ;;
    *header*) $text "$1" | tr -d '\r' | tail -n +2 | cut -d, -f1 ;;
    *) $text "$1" | tr -d '\r' | cut -d, -f1 ;;
  esac > "$scratch/keys"
  echo "$(wc -l < "$scratch/keys") $(md5sum < "$scratch/keys" | cut -c1-32)"
}

# Runs a command once: prints "milliseconds peak-KiB".
timed() {
  local s e
  rm -f "$scratch/$(cat "$scratch/$1.out")"
  s=$(date +%s%N)
  /usr/bin/time -f %M -o "$scratch/mem" bash "$scratch/$1.sh" ||
    { echo "$1 failed:" >&2; cat "$scratch/$1.log" >&2; return 1; }
  e=$(date +%s%N)
  echo "$(((e - s) / 1000000)) $(tail -1 "$scratch/mem")"
}

printf '%s rows x 7 columns, %s paired runs, medians (min-max)\n' "$rows" "$runs"
printf '%-34s %9s %9s %22s %10s %10s\n' export "ours s" "other s" "ratio ours/other" "ours MiB" "other MiB"
pair() {  # pair LABEL OURS OTHER
  local label=$1 a=$2 b=$3 i ta tb fa fb
  [[ $label =~ ${ONLY:-.} ]] || return 0
  fa=$(cat "$scratch/$a.out") fb=$(cat "$scratch/$b.out")
  : > "$scratch/pair"
  for ((i = 0; i < runs; i++)); do
    ta=$(timed "$a") || return 1
    tb=$(timed "$b") || return 1
    echo "$ta $tb" >> "$scratch/pair"
  done
  local ra rb
  ra=$(rows_of "$scratch/$fa") rb=$(rows_of "$scratch/$fb")
  if [ "$ra" != "$rb" ]; then
    echo "$label: the outputs differ: $fa has $ra, $fb has $rb" >&2
    return 1
  fi
  python3 - "$label" "$scratch/pair" <<'PY'
import statistics, sys
label, path = sys.argv[1], sys.argv[2]
runs = [list(map(int, line.split())) for line in open(path)]
ratio = [a / b for a, _, b, _ in runs]
med = statistics.median
print(f"{label:<34} {med(r[0] for r in runs) / 1000:9.2f} {med(r[2] for r in runs) / 1000:9.2f} "
      f"{med(ratio):7.2f}x ({min(ratio):.2f}-{max(ratio):.2f})"
      f" {max(r[1] for r in runs) / 1024:10.1f} {max(r[3] for r in runs) / 1024:10.1f}")
PY
}

pair "SQLite -> CSV vs sqlite3 -csv" sqlite_csv sqlite3_csv
pair "SQLite -> CSV vs bare API loop" sqlite_csv bare_loop
pair "PostgreSQL -> CSV vs psql \\copy" pg_csv psql_copy
pair "SQLite ODBC vs native SQLite" sqlite_odbc_csv sqlite_csv
pair "PostgreSQL ODBC vs native PG" pg_odbc_csv pg_csv
pair "SQLite ODBC vs bare driver loop" sqlite_odbc_csv sqlite_odbc_loop
pair "PostgreSQL ODBC vs bare driver loop" pg_odbc_csv pg_odbc_loop
pair "XML vs CSV (SQLite)" sqlite_xml sqlite_csv
pair "CSV header vs CSV (SQLite)" sqlite_csv_header sqlite_csv
pair "JSON Lines vs CSV (SQLite)" sqlite_json sqlite_csv
pair "CSV zstd-3 vs CSV (SQLite)" sqlite_zstd sqlite_csv
pair "CSV gzip-6 vs sqlite3 | gzip -6" sqlite_gzip sqlite3_gzip
