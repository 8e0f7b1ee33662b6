#!/usr/bin/env bash
# Installs what is missing, builds, starts the local test servers and runs the
# whole suite: once plain, once under AddressSanitizer + UndefinedBehavior-
# Sanitizer, and the worker-pool tests under ThreadSanitizer; then a short
# run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The project's own builds treat compiler warnings as errors; a user's build
# (scripts/setup alone, or cmake by hand) does not.
werror="-DOSTREVANE_WERROR=ON"
CMAKE_ARGS="$werror ${CMAKE_ARGS:-}" scripts/setup

# A throwaway PostgreSQL cluster and MariaDB server for the backend tests;
# both stopped on every exit.
# shellcheck source=scripts/pg_cluster.sh
source scripts/pg_cluster.sh
# shellcheck source=scripts/mariadb_server.sh
source scripts/mariadb_server.sh
trap 'pg_cluster_stop; mariadb_server_stop' EXIT
pg_cluster_start
mariadb_server_start

jobs=$(nproc)
echo "== tests (plain build)"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== tests (address and undefined-behaviour sanitizers)"
BUILD_DIR=build-asan CMAKE_ARGS="$werror -DOSTREVANE_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug" scripts/setup
ASAN_OPTIONS="detect_leaks=1:suppressions=$root/scripts/asan.supp" LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== worker pool and list runs (thread sanitizer)"
BUILD_DIR=build-tsan CMAKE_ARGS="$werror -DOSTREVANE_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug" scripts/setup
TSAN_OPTIONS="halt_on_error=1:suppressions=$root/scripts/tsan.supp" ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R 'Dispatch|ListRun|ContentDigest|SchedulerRun'

echo "== fuzz targets (10 seconds each)"
scripts/fuzz.sh 10
