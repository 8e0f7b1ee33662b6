#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang into build-fuzz/ and runs each
# one for SECONDS (default 60) from its seed corpus in fuzz/corpus/<target>/.
# The corpus is copied to a scratch folder first, so what a run learns does
# not end up in the repository. Fails on any finding: a crash, a sanitizer
# report, an exception other than the program's errors, a broken oracle, a
# timeout or running out of memory; the input is kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
if [ -z "$cxx" ] || [ -z "$cc" ]; then
  echo "fuzz: clang is missing (scripts/setup installs it)" >&2
  exit 1
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CXX=$cxx CC=$cc cmake -S fuzz -B build-fuzz "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build-fuzz -j"$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build-fuzz/findings
# The targets write their input to scratch files, and settings files are
# synced to disk on save: memory-backed storage keeps that from dominating.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  exe=build-fuzz/$target
  if [ ! -x "$exe" ]; then
    echo "fuzz: $target has a corpus but no target" >&2
    failed+=("$target")
    continue
  fi
  mkdir -p "$scratch/$target"
  cp "$seeds"* "$scratch/$target/"
  log=build-fuzz/findings/$target.log
  status=0
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/findings/$target-" \
    "$scratch/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $target FAILED after ${runs:-?} executions (exit $status), see $log:"
    grep -E 'ERROR|oracle failed|runtime error|Test unit written' "$log" | head -5 || true
    failed+=("$target")
  else
    echo "fuzz: $target ${runs:-?} executions in ${seconds}s"
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
