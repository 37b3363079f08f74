#!/usr/bin/env bash
# Times the built program on generated recipe pairs beside the awk script a
# user would write and a plain `cat` of the same files, all in one run.
#
# usage: bench/run_bench.sh BUILD_DIR      (BUILD_DIR holds kochbuchpruefer and the bench tools)
# BENCH_SIZES   record counts to run (default "10000 1000000 10000000")
# BENCH_REPEAT  runs per case, the fastest counts (default 3; 1 from 10^7 records)
# BENCH_SEED    generator seed (default 1729)
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
program="$build/kp/kochbuchpruefer"
[ -x "$program" ] || program="$build/kochbuchpruefer"
measure="$build/kp_measure"
generate="$build/kp_generate_recipes"
peer="$repo/../shared/bench/awk_peer.sh"
sizes="${BENCH_SIZES:-10000 1000000 10000000}"
seed="${BENCH_SEED:-1729}"
scratch="$build/out"
mkdir -p "$scratch"

for tool in "$program" "$measure" "$generate"; do
  [ -x "$tool" ] || { echo "missing $tool: build it first" >&2; exit 1; }
done
have_peer=1
[ -f "$peer" ] || { have_peer=0; echo "note: $peer not found, the awk column stays empty" >&2; }

# Pairs are cached by size and seed: regenerating 10^7 records each run would
# cost more than the runs themselves.
pair_dir() {
  local dir="$build/data/$1-seed$seed"
  if [ ! -f "$dir/Rezept1.txt" ] || [ ! -f "$dir/Rezept2.txt" ]; then
    mkdir -p "$dir"
    "$generate" "$1" "$seed" "$dir"
  fi
  # The program reads the pair from its own directory.
  cp -f "$program" "$dir/kochbuchpruefer"
  echo "$dir"
}

# best_of REPEAT STDOUT CMD...: prints "SECONDS PEAK_KIB EXIT" of the fastest run
# and the largest peak seen.
best_of() {
  local repeat="$1" out="$2"
  shift 2
  local best="" peak=0 code=0 line seconds kib status
  for ((i = 0; i < repeat; i++)); do
    line="$("$measure" /dev/null "$out" "$@")"
    read -r seconds kib status <<<"$line"
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best="$seconds"
    fi
    [ "$kib" -gt "$peak" ] && peak="$kib"
    [ "$status" -ne 0 ] && code="$status"
  done
  echo "$best $peak $code"
}

results="$scratch/results.txt"
: >"$results"
printf '%-9s %-22s %9s %12s %9s %9s %10s %8s %8s\n' \
  records case "wall s" "rows/s" "in MB/s" "RSS KiB" "ns/row" "awk/x" "x/cat"
for n in $sizes; do
  dir="$(pair_dir "$n")"
  bytes=$(($(stat -c %s "$dir/Rezept1.txt") + $(stat -c %s "$dir/Rezept2.txt")))
  repeat="${BENCH_REPEAT:-$([ "$n" -ge 10000000 ] && echo 1 || echo 3)}"
  # Warm the page cache so every case reads from memory.
  cat "$dir/Rezept1.txt" "$dir/Rezept2.txt" >/dev/null

  declare -A wall=() rss=() status=()
  run_case() {
    local name="$1" out="$2"
    shift 2
    read -r wall[$name] rss[$name] status[$name] <<<"$(best_of "$repeat" "$out" "$@")"
  }
  run_case program-devnull /dev/null "$dir/kochbuchpruefer"
  run_case program-file "$scratch/program.out" "$dir/kochbuchpruefer"
  out_bytes=$(stat -c %s "$scratch/program.out")
  if [ "$have_peer" = 1 ]; then
    run_case awk-file "$scratch/awk.out" sh "$peer" "$dir"
  fi
  run_case cat-file "$scratch/cat.out" cat "$dir/Rezept1.txt" "$dir/Rezept2.txt"

  for name in program-devnull program-file awk-file cat-file; do
    [ -n "${wall[$name]:-}" ] || continue
    awk -v n="$n" -v name="$name" -v w="${wall[$name]}" -v kib="${rss[$name]}" -v b="$bytes" \
      -v awk_w="${wall[awk-file]:-}" -v cat_w="${wall[cat-file]}" -v st="${status[$name]}" '
      BEGIN {
        vs_awk = (awk_w == "" || name ~ /^(awk|cat)/) ? "-" : sprintf("%.1f", awk_w / w)
        vs_cat = (name ~ /^cat/) ? "-" : sprintf("%.1f", w / cat_w)
        mark = st == 0 ? "" : sprintf("  (exit %d)", st)
        printf "%-9d %-22s %9.4f %12.0f %9.1f %9d %10.1f %8s %8s%s\n",
          n, name, w, n / w, b / w / 1e6, kib, w / n * 1e9, vs_awk, vs_cat, mark
      }' | tee -a "$results"
  done
  echo "          (input $((bytes / 1000)) kB, program output $((out_bytes / 1000)) kB)"
  unset wall rss status
done

# The targets, judged from this run's figures.
echo
awk -v first="${sizes%% *}" -v last="${sizes##* }" '
  $2 == "program-file" { w[$1] = $3; r[$1] = $6; ns[$1] = $7 }
  $2 == "awk-file" { a[$1] = $3 }
  END {
    if ((1000000 in w) && (1000000 in a))
      printf "awk script / program at 10^6 records: %.1fx (target at least 5x)\n", a[1000000] / w[1000000]
    printf "peak RSS: %d KiB at %d records, %d KiB at %d records (target under 4096 KiB and equal)\n",
      r[first], first, r[last], last
    if (1000000 in ns)
      printf "time per row: %.1f ns at 10^6, %.1f ns at %d records (target flat)\n",
        ns[1000000], ns[last], last
  }' "$results"
