#!/usr/bin/env bash
# A 7-column export from MariaDB through the whole program, beside the
# command-line client writing the same rows (`mariadb --quick -B -e ...`) and
# the same export through the MariaDB ODBC driver and a bare ODBC loop through
# that driver with bound row arrays (bench/odbc_loop.cc) (run by hand, never by
# the tests). Every round runs the three one after the other; the figures are the
# median and the spread (lowest-highest) of the rounds' wall times, and the
# peak memory (largest resident set) of each.
#
# Usage: bench/mysql_export.sh [build-dir] [rounds] [rows...]
#        defaults: build, 5 rounds, 1000000 and 5000000 rows
# With OSTREVANE_MYSQL_PORT and OSTREVANE_MYSQL_SOCKET set the running server
# is used; otherwise a throwaway one is started (scripts/mariadb_server.sh)
# and stopped at the end. Data and files go to bench/out/mysql/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
rounds=${2:-5}
shift $(($# > 2 ? 2 : $#))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000 5000000)
exe=$root/$build/ostrevane
odbc_loop=$root/$build/odbc_loop
cmake --build "$build" --target ostrevane odbc_loop >/dev/null
out=$root/bench/out/mysql
mkdir -p "$out"
cd "$out"

if [ -z "${OSTREVANE_MYSQL_PORT:-}" ]; then
  # shellcheck source=scripts/mariadb_server.sh
  source "$root/scripts/mariadb_server.sh"
  trap mariadb_server_stop EXIT
  mariadb_server_start
fi
client=(mariadb --no-defaults -uroot --socket="$OSTREVANE_MYSQL_SOCKET")
"${client[@]}" -e "CREATE DATABASE IF NOT EXISTS bench"

printf '[Ostrevane]\r\nthread_count=1\r\ncommand_timeout=0\r\n' > settings.ini
udl() {  # name connection-string
  { printf '\xff\xfe'; printf '[oledb]\r\n%s\r\n' "$2" | iconv -f UTF-8 -t UTF-16LE; } > "$1"
}
udl native.udl "Provider=MySQL;Data Source=127.0.0.1:$OSTREVANE_MYSQL_PORT;Initial Catalog=bench;User ID=root"
udl odbc.udl "Provider=ODBC;Driver={MariaDB Unicode};Server=127.0.0.1;Port=$OSTREVANE_MYSQL_PORT;Database=bench;UID=root"
export OSTREVANE_HOME=$out

# Wall seconds and peak KB of one command, appended to a figures file.
measure() {  # figures-file command...
  local file=$1
  shift
  /usr/bin/time -f '%e %M' -o time.txt "$@" >/dev/null
  cat time.txt >> "$file"
}
# "median (lowest-highest) s, peak N MiB" of a figures file.
summary() {
  sort -n "$1" | awk '{ t[NR] = $1; if ($2 > m) m = $2 }
    END { mid = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2;
          printf "%.2f s (%.2f-%.2f), peak %.0f MiB", mid, t[1], t[NR], m / 1024 }'
}

for rows in "${sizes[@]}"; do
  table=t$rows
  if [ "$("${client[@]}" -N -B -e "SELECT COUNT(*) FROM bench.$table" 2>/dev/null || echo 0)" != "$rows" ]; then
    echo "== making $rows rows"
    "${client[@]}" bench -e "DROP TABLE IF EXISTS $table;
      CREATE TABLE $table (id INT, name VARCHAR(30), price DECIMAL(10,2), qty INT,
                           sold DATETIME, ok TINYINT(1), note VARCHAR(40)) ENGINE=InnoDB;
      INSERT INTO $table SELECT seq, CONCAT('name ', seq), (seq % 10000) / 100, seq % 97,
        FROM_UNIXTIME(1700000000 + seq * 37), seq % 2,
        IF(seq % 5 = 0, NULL, CONCAT('note; with separator ', seq % 13))
      FROM seq_1_to_$rows;"
  fi
  sql="SELECT id, name, price, qty, sold, ok, note FROM $table"
  echo "$sql" > export.sql
  echo "-udl:native.udl -sql:export.sql -tocsv:native.csv -csvcp:0 -csvformat:," > native.txt
  echo "-udl:odbc.udl -sql:export.sql -tocsv:odbc.csv -csvcp:0 -csvformat:," > odbc.txt
  rm -f f_native f_client f_odbc f_loop
  for r in $(seq 1 "$rounds"); do
    measure f_native "$exe" -list:native.txt
    measure f_client sh -c '"$@" > client.tsv' sh "${client[@]}" --quick -B bench -e "$sql"
    if [ -z "${SKIP_ODBC:-}" ]; then
      measure f_odbc "$exe" -list:odbc.txt
      measure f_loop "$odbc_loop" "Driver={MariaDB Unicode};Server=127.0.0.1;Port=$OSTREVANE_MYSQL_PORT;Database=bench;UID=root" \
        "$sql" odbc_loop.csv bind
    fi
    echo "   round $r: program $(tail -1 f_native | cut -d' ' -f1) s," \
         "client $(tail -1 f_client | cut -d' ' -f1) s"
  done
  echo "== $rows rows x 7 columns, $rounds rounds"
  echo "   program, native (CSV): $(summary f_native)   $(awk 'END { print NR }' native.csv) lines"
  echo "   mariadb --quick -B:    $(summary f_client)   $(awk 'END { print NR - 1 }' client.tsv) lines"
  if [ -s f_odbc ]; then
    echo "   program, ODBC (CSV):   $(summary f_odbc)   $(awk 'END { print NR }' odbc.csv) lines"
    echo "   bare ODBC loop:        $(summary f_loop)   $(awk 'END { print NR }' odbc_loop.csv) lines"
  fi
  paste -d' ' <(cut -d' ' -f1 f_native) <(cut -d' ' -f1 f_client) |
    awk '{ r[NR] = $1 / $2 } END { n = asort(r);
      printf "   program/client per round: median %.2fx (%.2f-%.2fx)\n",
        (n % 2) ? r[(n + 1) / 2] : (r[n / 2] + r[n / 2 + 1]) / 2, r[1], r[n] }'
done
