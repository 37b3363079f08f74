#!/usr/bin/env bash
# The program on a real terminal (tmux): on a 60-column terminal a 77-column
# row wraps onto the next line, and recipe texts holding escape sequences
# (clear screen, cursor moves, window title, clipboard) are shown, not obeyed.
# Usage: terminal_layout.sh <path-to-kochbuchpruefer> <source-dir>
set -u
. "$(dirname "$0")/lib/terminal_harness.sh" layout "$@"

start() { # name columns
  local dir="$work/$1"
  tmux -L "$socket" new-session -d -s "$1" -x "$2" -y 40 \
    "cd '$dir' && ./kochbuchpruefer; echo \$? > status; sleep 600"
}
line() { screen "$1" | sed -n "$2p"; }

# On 60 columns every longer row goes on at the start of the next line; the
# expected screen is the redirected output cut into 60-column lines.
prepare narrow
(cd "$work/narrow" && ./kochbuchpruefer < /dev/null > redirected)
expected=$(tr -d '\r' < "$work/narrow/redirected" | awk '{
  n = length($0)
  if (n == 0) { print ""; next }
  for (i = 1; i <= n; i += 60) { piece = substr($0, i, 60); sub(/ +$/, "", piece); print piece }
  if (n % 60 == 0) print ""
}')
start narrow 60
check "prompt shown on 60 columns" wait_for_text narrow "$prompt"
check "a 77-column row wraps at column 60" test "$(line narrow 7)" = "   1    250 g  Mehl                         250 kg Mehl"
check "row 2 goes on in the next line" test "$(line narrow 10)" = "r"
check "whole screen as the wrapped output" \
  test "$(screen narrow | head -n "$(wc -l <<<"$expected")")" = "$expected"
tmux -L "$socket" send-keys -t narrow x
check "narrow run ends with status 0" wait_for_status narrow

# Escape sequences inside recipe texts.
prepare escapes
printf '1,g,A\033[2JB\r\n2,g,\033]0;HACKED\007C\r\n3,g,\033[1;1HD\r\n4,g,\033]52;c;aGFja2Vk\007E\r\n' \
  > "$work/escapes/Rezept1.txt"
cp "$work/escapes/Rezept1.txt" "$work/escapes/Rezept2.txt"
# Let applications set the clipboard, so that an obeyed OSC 52 would show.
tmux -L "$socket" set-option -g set-clipboard on >/dev/null 2>&1
start escapes 100
check "prompt shown after escape texts" wait_for_text escapes "$prompt"
shown=$(screen escapes)
check "heading not cleared away" grep -qF -- "--> KOCHBUCHPRUEFER <--" <<<"$shown"
check "clear-screen text shown as characters" grep -qF -- "A?[2JB" <<<"$shown"
check "title text shown as characters, BEL too" grep -qF -- "?]0;HACKED?C" <<<"$shown"
check "cursor-move text shown as characters" grep -qF -- "?[1;1HD" <<<"$shown"
check "row 3 still in its own row" test "$(line escapes 8 | cut -c1-4)" = "   3"
title=$(tmux -L "$socket" display-message -p -t escapes '#{pane_title}')
check "window title unchanged" test "$title" != "HACKED"
buffers=$(tmux -L "$socket" list-buffers 2>/dev/null)
check "clipboard untouched" test -z "$buffers"
tmux -L "$socket" send-keys -t escapes x
check "escape run ends with status 0" wait_for_status escapes

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; screen narrow; screen escapes; exit 1; }
echo "all checks passed"
