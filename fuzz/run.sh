#!/usr/bin/env bash
# Builds every fuzz target and runs each for FUZZ_SECONDS seconds (default 60).
# The working corpora grow under BUILD/corpus (seeded from fuzz/seeds); a
# crashing input lands in BUILD/crashes and makes the script fail at the end.
#
# usage: fuzz/run.sh [TARGET...]     (default: every target)
# FUZZ_SECONDS  seconds per target (default 60)
# FUZZ_BUILD    build directory (default build-fuzz in the repository)
set -uo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD:-$repo/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"

cmake -S "$repo/fuzz" -B "$build" -G "${CMAKE_GENERATOR:-Ninja}" -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
targets=("$@")
cmake --build "$build" ${targets[@]:+--target "${targets[@]}"} || exit 1
if [ ${#targets[@]} -eq 0 ]; then
  for binary in "$build"/fuzz_*; do
    [ -x "$binary" ] && targets+=("$(basename "$binary")")
  done
fi

# Inputs long enough to cross the 4096-byte text limit and a refill of the
# 8192-byte stream buffer.
max_len() {
  case "$1" in
    fuzz_field_reader | fuzz_driver) echo 20000 ;;
    *) echo 8192 ;;
  esac
}

mkdir -p "$build/crashes"
failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  seeds="$repo/fuzz/seeds/$target"
  mkdir -p "$corpus"
  dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  log="$build/$target.log"
  echo "== $target ($seconds s)"
  # The sanitizers' leak check runs at the end of each input too.
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
    "$build/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=20 -rss_limit_mb=2048 -print_final_stats=0 \
    -artifact_prefix="$build/crashes/$target-" "${dirs[@]}" >"$log" 2>&1
  status=$?
  if [ $status -ne 0 ]; then
    failed+=("$target")
    grep -E 'check failed|ERROR:|SUMMARY:|runtime error|Test unit written|deadly signal|timeout' "$log" | head -20
    echo "$target FAILED (exit $status); log: $log"
  fi
  grep -E '^Done [0-9]+ runs' "$log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/crashes)"
  exit 1
fi
