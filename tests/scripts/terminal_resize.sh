#!/usr/bin/env bash
# The program on a real terminal (tmux) whose window is made taller, shorter,
# or taller and then shorter while a 20,000-row table prints: the screen must
# end with the table's last rows in order, the closing notes and the prompt,
# and nothing below the prompt.
# Usage: terminal_resize.sh <path-to-kochbuchpruefer> <source-dir>
set -u
. "$(dirname "$0")/lib/terminal_harness.sh" resize "$@"

start() { # name
  local dir="$work/$1"
  awk 'BEGIN { for (i = 1; i <= 20000; i++) printf "%d,g,Mehl%d\r\n", i, i }' > "$dir/Rezept1.txt"
  cp "$dir/Rezept1.txt" "$dir/Rezept2.txt"
  (cd "$dir" && ./kochbuchpruefer < /dev/null > redirected)
  # The pane's shell waits at a gate before it starts the program, so that
  # the program starts only once the tmux server is held (see below).
  mkfifo "$dir/gate"
  tmux -L "$socket" new-session -d -s "$1" -x 100 -y 30 \
    "cd '$dir' && read _ < gate; ./kochbuchpruefer; echo \$? > status; sleep 600"
}

# Asked of tmux while its server runs; the functions below hold it.
server=
shell=

# Whether the program still has recipe 1 open short of its end, that is,
# whether it has rows left to print.
still_reading() { # name
  local dir="$work/$1" pid fd pos
  pid=$(pgrep -P "$shell" -x kochbuchpruefer) || return 1
  for fd in /proc/"$pid"/fd/*; do
    [ "$(readlink "$fd")" = "$dir/Rezept1.txt" ] || continue
    pos=$(awk '$1 == "pos:" { print $2 }' /proc/"$pid"/fdinfo/"${fd##*/}")
    [ "$pos" -lt "$(stat -c %s "$dir/Rezept1.txt")" ] && return 0
  done
  return 1
}

# Lets the pane's shell start the program while the tmux server is held: the
# program fills the terminal and waits, far from the end of its table.
start_printing() { # name
  server=$(tmux -L "$socket" display-message -p '#{pid}')
  shell=$(tmux -L "$socket" display-message -p -t "$1" '#{pane_pid}')
  kill -STOP "$server"
  echo go > "$work/$1/gate"
  for _ in $(seq 1 100); do still_reading "$1" && return 0; sleep 0.05; done
  return 1
}

# Resizes the window while the table is still printing: the tmux server is
# held (the program, blocked on its full terminal, cannot finish) while the
# resize is asked for, and runs again to carry it out. False when the program
# had no rows left to print.
resize_while_printing() { # name height
  kill -STOP "$server"
  still_reading "$1" || { kill -CONT "$server"; return 1; }
  tmux -L "$socket" resize-window -t "$1" -x 100 -y "$2" &
  sleep 0.2
  kill -CONT "$server"
  wait $!
}

# The screen the run must end with: the last lines of the table as written to
# a file, down to the prompt, and the empty row of the cursor below it.
expected_screen() { # name height
  tr -d '\r' < "$work/$1/redirected" | sed 's/ *$//' | tail -n "$(($2 - 1))"
  echo
}

final_screen_is_right() { # name height
  local shown
  shown=$(screen "$1")
  [ "$(tmux -L "$socket" display-message -p -t "$1" '#{pane_height}')" = "$2" ] || return 1
  [ "$shown" = "$(expected_screen "$1" "$2")" ] && return 0
  diff <(echo "$shown") <(expected_screen "$1" "$2") | head -20
  return 1
}

run_case() { # name heights...
  local name=$1; shift
  local height
  prepare "$name"
  start "$name"
  check "$name: table printing" start_printing "$name"
  for height in "$@"; do
    check "$name: resized to $height rows while printing" resize_while_printing "$name" "$height"
  done
  kill -CONT "$server"
  for _ in $(seq 1 600); do screen "$name" | grep -qF -- "$prompt" && break; sleep 0.05; done
  sleep 0.3
  check "$name: last rows, notes and prompt, nothing below" final_screen_is_right "$name" "$height"
  tmux -L "$socket" send-keys -t "$name" x
  check "$name: a key ends it" wait_for_status "$name"
  check "$name: exit status 0" status_is "$name" 0
}

run_case grow 45
run_case shrink 20
run_case grow_then_shrink 45 36

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
