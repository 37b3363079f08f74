#!/usr/bin/env bash
# The program on a real terminal (tmux), ended from outside: Ctrl+C ends it
# by SIGINT with the terminal's modes as they were; a hangup or
# termination during the wait ends it normally with status 0.
# Usage: terminal_signals.sh <path-to-kochbuchpruefer> <source-dir>
set -u
. "$(dirname "$0")/lib/terminal_harness.sh" signals "$@"

start() { # name: the program's pid goes to the file pid
  local dir="$work/$1"
  tmux -L "$socket" new-session -d -s "$1" -x 100 -y 40 \
    "trap : INT; cd '$dir' && stty -g > before && sh -c 'echo \$\$ > pid; exec ./kochbuchpruefer'; echo \$? > status; stty -g > after; sleep 600"
}

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
