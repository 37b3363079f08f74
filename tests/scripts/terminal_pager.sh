#!/usr/bin/env bash
# On a real terminal (tmux): the program beside less, which may take the
# terminal's modes before or after it (so each order also on purpose), and
# with its output in a file; the table fits the screen or not (then less
# reads the keys). Ended by q and other keys, each run leaves the modes as
# they were. KP_PAGER_RUNS rounds, 1 unless said.
# Usage: terminal_pager.sh <path-to-kochbuchpruefer> <source-dir>
set -u
. "$(dirname "$0")/lib/terminal_harness.sh" pager "$@"
command -v less >/dev/null 2>&1 || { echo "less not installed: skipped"; exit 77; }

n=0
for _ in $(seq 1 "${KP_PAGER_RUNS:-1}"); do
  for rows in 3 100; do
    for how in "P | less -R" "P | (sleep 0.3; less -R)" "(sleep 0.3; P) | less -R" "P > out"; do
      name=run$((n += 1))
      prepare "$name"
      [ "$rows" = 3 ] || seq 1 "$rows" | sed 's/$/,g,Mehl\r/' | tee "$work/$name/Rezept1.txt" >"$work/$name/Rezept2.txt"
      tmux -L "$socket" new-session -d -s "$name" -x 100 -y 40 \
        "cd '$work/$name' && stty -g > before && ${how//P/./kochbuchpruefer}; stty -g > after; sleep 600"
      for _ in $(seq 1 100); do grep -qs KOCHBUCHPRUEFER "$work/$name/out" <(screen "$name") && break; sleep 0.05; done
      # The first key goes to whichever reads it; less ends at a q.
      for key in q x q q; do
        tmux -L "$socket" send-keys -t "$name" "$key"
        for _ in $(seq 1 10); do [ -s "$work/$name/after" ] && break 2; sleep 0.05; done
      done
      for _ in $(seq 1 60); do [ -s "$work/$name/after" ] && break; sleep 0.05; done
      check "$rows rows, $how: modes as before" modes_kept "$name"
    done
  done
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
