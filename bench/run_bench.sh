#!/usr/bin/env bash
# Times the built program on generated recipe pairs beside the awk script a
# user would write and a plain `cat` of the same files, all in one run: into
# a file, into /dev/null and into a pipe read as fast as it comes.
#
# Then the terminal cases: 10^5 rows into a tmux pane of 80x25 until the
# prompt, and into a pseudo-terminal read as fast as it comes (script(1)),
# an ASCII table and one of UTF-8 texts, each beside `cat` of the program's
# own redirected table in the same place; and the instructions per row of
# the redirected table and of the pseudo-terminal's.
#
# usage: bench/run_bench.sh BUILD_DIR      (BUILD_DIR holds kochbuchpruefer and the bench tools)
# BENCH_SIZES   record counts to run (default "10000 1000000 10000000")
# BENCH_REPEAT  runs per case, the median counts (default 5; 1 from 10^7 records)
# BENCH_SEED    generator seed (default 1729)
# BENCH_TTY_ROWS  rows of the terminal case (default 100000; 0 leaves it out)
# BENCH_PTY_ROWS  rows of the pseudo-terminal case (default 100000; 0 leaves it out)
# BENCH_CG_ROWS   rows counted under callgrind (default 100000; 0 leaves it out)
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

# Every case of one size runs once a round, round after round, so that the
# machine's drift hits all alike; each case's median counts, and its largest
# peak.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

results="$scratch/results.txt"
: >"$results"
printf '%-9s %-22s %9s %12s %9s %9s %10s %8s %8s\n' \
  records case "wall s" "rows/s" "in MB/s" "RSS KiB" "ns/row" "awk/x" "x/cat"
for n in $sizes; do
  dir="$(pair_dir "$n")"
  bytes=$(($(stat -c %s "$dir/Rezept1.txt") + $(stat -c %s "$dir/Rezept2.txt")))
  repeat="${BENCH_REPEAT:-$([ "$n" -ge 10000000 ] && echo 1 || echo 5)}"
  # Warm the page cache so every case reads from memory.
  cat "$dir/Rezept1.txt" "$dir/Rezept2.txt" >/dev/null

  declare -A wall=() rss=() status=() cmd=() out=()
  cases=(program-devnull program-file cat-file program-pipe)
  cmd[program-devnull]="'$dir/kochbuchpruefer'"
  out[program-devnull]=/dev/null
  cmd[program-file]="'$dir/kochbuchpruefer'"
  out[program-file]="$scratch/program.out"
  cmd[cat-file]="cat '$dir/Rezept1.txt' '$dir/Rezept2.txt'"
  out[cat-file]="$scratch/cat.out"
  # Into a pipe read as fast as it comes.
  cmd[program-pipe]="'$dir/kochbuchpruefer' | cat >/dev/null"
  out[program-pipe]=/dev/null
  if [ "$have_peer" = 1 ]; then
    cases+=(awk-file awk-pipe)
    cmd[awk-file]="sh '$peer' '$dir'"
    out[awk-file]="$scratch/awk.out"
    cmd[awk-pipe]="sh '$peer' '$dir' | cat >/dev/null"
    out[awk-pipe]=/dev/null
  fi
  for name in "${cases[@]}"; do : >"$scratch/times-$name"; rss[$name]=0; status[$name]=0; done
  for ((i = 0; i < repeat; i++)); do
    for name in "${cases[@]}"; do
      read -r seconds kib code _ <<<"$("$measure" /dev/null "${out[$name]}" sh -c "${cmd[$name]}")"
      echo "$seconds" >>"$scratch/times-$name"
      [ "$kib" -gt "${rss[$name]}" ] && rss[$name]="$kib"
      [ "$code" -ne 0 ] && status[$name]="$code"
    done
  done
  for name in "${cases[@]}"; do wall[$name]="$(median <"$scratch/times-$name")"; done
  out_bytes=$(stat -c %s "$scratch/program.out")

  for name in program-devnull program-file awk-file cat-file program-pipe awk-pipe; do
    [ -n "${wall[$name]:-}" ] || continue
    awk -v n="$n" -v name="$name" -v w="${wall[$name]}" -v kib="${rss[$name]}" -v b="$bytes" \
      -v awk_w="${wall[awk-file]:-}" -v awk_pipe_w="${wall[awk-pipe]:-}" -v cat_w="${wall[cat-file]}" -v st="${status[$name]}" '
      BEGIN {
        peer_w = name ~ /pipe$/ ? awk_pipe_w : awk_w
        vs_awk = (peer_w == "" || name ~ /^(awk|cat)/) ? "-" : sprintf("%.1f", peer_w / w)
        vs_cat = (name ~ /^cat/) ? "-" : sprintf("%.1f", w / cat_w)
        mark = st == 0 ? "" : sprintf("  (exit %d)", st)
        printf "%-9d %-22s %9.4f %12.0f %9.1f %9d %10.1f %8s %8s%s\n",
          n, name, w, n / w, b / w / 1e6, kib, w / n * 1e9, vs_awk, vs_cat, mark
      }' | tee -a "$results"
  done
  echo "          (input $((bytes / 1000)) kB, program output $((out_bytes / 1000)) kB)"
  unset wall rss status cmd out
done

# The targets, judged from this run's figures.
echo
awk -v first="${sizes%% *}" -v last="${sizes##* }" '
  $2 == "program-file" { w[$1] = $3; r[$1] = $6; ns[$1] = $7 }
  $2 == "awk-file" { a[$1] = $3 }
  $2 == "program-pipe" { wp[$1] = $3 }
  $2 == "awk-pipe" { ap[$1] = $3 }
  END {
    if ((1000000 in w) && (1000000 in a))
      printf "awk script / program at 10^6 records: %.1fx into a file, ", a[1000000] / w[1000000]
    if ((1000000 in wp) && (1000000 in ap))
      printf "%.1fx into a pipe", ap[1000000] / wp[1000000]
    if (1000000 in a) printf " (target at least 5x)\n"
    printf "peak RSS: %d KiB at %d records, %d KiB at %d records (target under 4096 KiB and equal)\n",
      r[first], first, r[last], last
    if (1000000 in ns)
      printf "time per row: %.1f ns at 10^6, %.1f ns at %d records (target flat)\n",
        ns[1000000], ns[last], last
  }' "$results"

# --- The terminal: rows drawn into tmux 80x25, timed until the prompt --------
tty_rows="${BENCH_TTY_ROWS:-100000}"
if [ "$tty_rows" -gt 0 ] && command -v tmux >/dev/null 2>&1; then
  dir="$(pair_dir "$tty_rows")"
  table="$scratch/table-$tty_rows.txt"
  "$dir/kochbuchpruefer" </dev/null >"$table"
  socket="kp-bench-$$"
  trap 'tmux -L "$socket" kill-server >/dev/null 2>&1 || true' EXIT
  # in_pane NAME CMD...: "SECONDS PEAK_KIB EXIT WRITES" of CMD with its output
  # on a fresh 80x25 pane and its input at its end (so the final wait ends at
  # once: the time is the time until the prompt).
  in_pane() {
    local name="$1" result="$scratch/pane-$1.txt"
    shift
    rm -f "$result"
    tmux -L "$socket" kill-server >/dev/null 2>&1 || true
    tmux -L "$socket" new-session -d -s "$name" -x 80 -y 25 \
      "cd '$dir' && '$measure' /dev/null \$(tty) $* > '$result.part'; mv '$result.part' '$result'; sleep 60"
    for _ in $(seq 1 1200); do
      [ -s "$result" ] && break
      sleep 0.1
    done
    tmux -L "$socket" kill-server >/dev/null 2>&1 || true
    cat "$result" 2>/dev/null || echo "0 0 1 0"
  }
  tty_repeat="${BENCH_REPEAT:-3}"
  declare -A twall=() twrites=()
  for ((i = 0; i < tty_repeat; i++)); do
    # Side by side: each round runs both, so that load hits both alike.
    for name in program-tty cat-tty; do
      if [ "$name" = program-tty ]; then
        line="$(in_pane "$name" ./kochbuchpruefer)"
      else
        line="$(in_pane "$name" cat "'$table'")"
      fi
      read -r seconds kib status writes <<<"$line"
      if [ -z "${twall[$name]:-}" ] || awk -v a="$seconds" -v b="${twall[$name]}" 'BEGIN { exit !(a < b) }'; then
        twall[$name]="$seconds"
        twrites[$name]="$writes"
      fi
    done
  done
  echo
  printf '%-9s %-22s %9s %12s %12s %8s\n' rows "terminal (tmux 80x25)" "wall s" "write calls" "writes/row" "x/cat"
  for name in program-tty cat-tty; do
    awk -v n="$tty_rows" -v name="$name" -v w="${twall[$name]}" -v c="${twrites[$name]}" \
      -v cat_w="${twall[cat-tty]}" 'BEGIN {
        vs_cat = (name ~ /^cat/) ? "-" : sprintf("%.1f", w / cat_w)
        printf "%-9d %-22s %9.4f %12d %12.4f %8s\n", n, name, w, c, c / n, vs_cat
      }'
  done
  echo "terminal at most 2x cat: $(awk -v a="${twall[program-tty]}" -v b="${twall[cat-tty]}" \
    'BEGIN { printf "%.1fx", a / b }')"
fi

# --- A pseudo-terminal read as fast as it comes ------------------------------
# The program draws cells (TERM=xterm-256color) in a UTF-8 locale. Read by
# kp_pty_reader, which answers the start-up cursor query as a terminal does,
# and by script(1), which answers none: the query then waits its 100 ms.
# Paired runs, medians.
pty_rows="${BENCH_PTY_ROWS:-100000}"
if [ "$pty_rows" -gt 0 ] && command -v script >/dev/null 2>&1; then
  ascii="$(pair_dir "$pty_rows")"
  # The same recipes with umlauts and sharp s, in UTF-8.
  utf8="$build/data/$pty_rows-seed$seed-utf8"
  if [ ! -f "$utf8/Rezept2.txt" ]; then
    mkdir -p "$utf8"
    for f in Rezept1.txt Rezept2.txt; do
      sed 's/ue/\xc3\xbc/g; s/oe/\xc3\xb6/g; s/ae/\xc3\xa4/g; s/Ue/\xc3\x9c/g' "$ascii/$f" >"$utf8/$f"
    done
  fi
  cp -f "$program" "$utf8/kochbuchpruefer"
  pty_time() { # reader, command string -> wall seconds
    if [ "$1" = script ]; then
      "$measure" /dev/null /dev/null env TERM=xterm-256color LANG=C.UTF-8 LC_ALL= \
        script -q -c "$2" /dev/null | awk '{ print $1 }'
    else
      env TERM=xterm-256color LANG=C.UTF-8 LC_ALL= "$build/kp_pty_reader" sh -c "$2" |
        awk '{ print $1 }'
    fi
  }
  echo
  printf '%-9s %-30s %9s %9s %8s\n' rows "pseudo-terminal" "program s" "cat s" "x/cat"
  pty_repeat="${BENCH_REPEAT:-7}"
  for reader in answering script; do
    for kind in ascii utf8; do
      dir="${!kind}"
      table="$scratch/pty-table-$kind.txt"
      "$dir/kochbuchpruefer" </dev/null >"$table"
      : >"$scratch/pty-program.txt"
      : >"$scratch/pty-cat.txt"
      for ((i = 0; i < pty_repeat; i++)); do
        pty_time "$reader" "cd '$dir' && ./kochbuchpruefer </dev/null" >>"$scratch/pty-program.txt"
        pty_time "$reader" "cat '$table'" >>"$scratch/pty-cat.txt"
      done
      p="$(median <"$scratch/pty-program.txt")"
      c="$(median <"$scratch/pty-cat.txt")"
      awk -v n="$pty_rows" -v k="$kind table, $reader" -v p="$p" -v c="$c" \
        'BEGIN { printf "%-9d %-30s %9.4f %9.4f %8.1f\n", n, k, p, c, p / c }'
    done
  done
  if command -v valgrind >/dev/null 2>&1; then
    # Instructions per row on the pseudo-terminal, the ASCII table, less a
    # pair of one row.
    pty_instructions() { # DIR -> total instructions of one run on the pseudo-terminal
      local out="$scratch/callgrind-pty.out"
      env TERM=xterm-256color LANG=C.UTF-8 LC_ALL= script -q -c \
        "cd '$1' && valgrind --tool=callgrind --callgrind-out-file='$out' ./kochbuchpruefer </dev/null" \
        /dev/null >/dev/null 2>&1
      awk '/^totals:/ { print $2 }' "$out"
    }
    many="$(pty_instructions "$ascii")"
    few="$(pty_instructions "$(pair_dir 1)")"
    awk -v many="$many" -v few="$few" -v n="$pty_rows" 'BEGIN {
      printf "instructions per row on the pseudo-terminal (callgrind, %d rows less 1 row): %.0f\n", n, (many - few) / (n - 1)
    }'
  fi
fi

# --- Instructions per row of the redirected table --------------------------
cg_rows="${BENCH_CG_ROWS:-100000}"
if [ "$cg_rows" -gt 0 ] && command -v valgrind >/dev/null 2>&1; then
  # Counted on cg_rows rows (callgrind runs some 50 times slower than the
  # program), less the count of a pair of one row: start-up, heading and
  # closing notes are not the row's.
  count_instructions() { # DIR -> total instructions of one redirected run
    local out="$scratch/callgrind.out"
    valgrind --tool=callgrind --callgrind-out-file="$out" "$1/kochbuchpruefer" \
      </dev/null >/dev/null 2>/dev/null
    awk '/^totals:/ { print $2 }' "$out"
  }
  big="$(pair_dir "$cg_rows")"
  one="$(pair_dir 1)"
  many="$(count_instructions "$big")"
  cp "$scratch/callgrind.out" "$scratch/callgrind-$cg_rows.out"
  few="$(count_instructions "$one")"
  echo
  awk -v many="$many" -v few="$few" -v n="$cg_rows" 'BEGIN {
    printf "instructions per row, redirected (callgrind, %d rows less 1 row): %.0f\n", n, (many - few) / (n - 1)
  }'
  # Where they go: exclusive counts by source file group (C library apart).
  if command -v callgrind_annotate >/dev/null 2>&1; then
    callgrind_annotate --auto=no --threshold=100 "$scratch/callgrind-$cg_rows.out" 2>/dev/null |
      awk -v n="$cg_rows" '
        /^ *[0-9,]+ +\(/ && !/PROGRAM TOTALS/ {
          count = $1; gsub(",", "", count)
          where = $0; sub(/^[^)]*\) +/, "", where); sub(/ \[.*$/, "", where)
          file = substr(where, 1, index(where, ":") - 1)
          fn = substr(where, index(where, ":") + 1)
          # A project file names its subsystem (the lent buffer of
          # text_printer.h belongs to the console); code inlined from elsewhere
          # (the standard library) goes to the function it was inlined into.
          if (file ~ /src\/console\/(console|text_printer)|console_device/ || (file !~ /src\// && fn ~ /Console::/))
            group = "console writer and colours"
          else if (file ~ /src\/console\/template_/ || (file !~ /src\// && fn ~ /Template/))
            group = "template printer"
          else if (file ~ /src\/input\/|file_stream/ || (file !~ /src\// && fn ~ /FieldReader|FileTable|FileStream|parse/))
            group = "field reader and files"
          else if (file ~ /src\/driver\// || (file !~ /src\// && fn ~ /runComparison|compareTexts/))
            group = "driver"
          else if (file ~ /libc|sysdeps|^\.\/string/)
            group = "C library (memcpy, memchr, ...)"
          else
            group = "other"
          sum[group] += count
        }
        END { for (g in sum) printf "  %-34s %8.0f\n", g, sum[g] / n }' | sort -k1,1
  fi
fi
