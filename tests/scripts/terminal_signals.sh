#!/usr/bin/env bash
# The program on a real terminal (tmux), ended from outside: Ctrl+C ends it
# by SIGINT with the terminal's modes as they were; a hangup or
# termination during the wait ends it normally with status 0.
# Usage: terminal_signals.sh <path-to-kochbuchpruefer> <source-dir>
set -u
program=$1
source_dir=$2
command -v tmux >/dev/null 2>&1 || { echo "tmux not installed: skipped"; exit 77; }

work=$(mktemp -d)
socket="kp-signals-$$"
cleanup() { tmux -L "$socket" kill-server >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
failures=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

prepare() { # name
  mkdir -p "$work/$1"
  cp "$program" "$work/$1/"
  cp "$source_dir/examples/Rezept1.txt" "$source_dir/examples/Rezept2.txt" "$work/$1/"
}
start() { # name: the program's pid goes to the file pid
  local dir="$work/$1"
  tmux -L "$socket" new-session -d -s "$1" -x 100 -y 40 \
    "trap : INT; cd '$dir' && stty -g > before && sh -c 'echo \$\$ > pid; exec ./kochbuchpruefer'; echo \$? > status; stty -g > after; sleep 600"
}
screen() { tmux -L "$socket" capture-pane -p -t "$1" "${@:2}"; }
wait_for_text() { # name text
  for _ in $(seq 1 100); do screen "$1" | grep -qF -- "$2" && return 0; sleep 0.05; done
  return 1
}
wait_for_status() { # name
  for _ in $(seq 1 100); do [ -s "$work/$1/status" ] && return 0; sleep 0.05; done
  return 1
}
status_is() { [ "$(cat "$work/$1/status" 2>/dev/null)" = "$2" ]; }
modes_kept() { cmp -s "$work/$1/before" "$work/$1/after"; }

prompt="Beliebige Taste"

prepare interrupt
start interrupt
check "prompt shown" wait_for_text interrupt "$prompt"
tmux -L "$socket" send-keys -t interrupt C-c
check "Ctrl+C ends it" wait_for_status interrupt
check "ended by SIGINT (status 130)" status_is interrupt 130
check "terminal modes unchanged after Ctrl+C" modes_kept interrupt

for signal in HUP TERM; do
  name="sig$signal"
  prepare "$name"
  start "$name"
  wait_for_text "$name" "$prompt"
  kill -s "$signal" "$(cat "$work/$name/pid")"
  check "SIG$signal during the wait ends it" wait_for_status "$name"
  check "SIG$signal exit status 0" status_is "$name" 0
  check "SIG$signal terminal modes unchanged" modes_kept "$name"
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; screen interrupt; exit 1; }
echo "all checks passed"
