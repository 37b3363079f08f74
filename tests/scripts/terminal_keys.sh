#!/usr/bin/env bash
# The program on a real terminal (tmux): the worked run's screen and colours,
# a letter or F1 ending the wait with status 0 and the terminal's modes as
# they were, and keys typed while the table prints neither echoed nor lost
# to the shell.
# Usage: terminal_keys.sh <path-to-kochbuchpruefer> <source-dir>
set -u
. "$(dirname "$0")/lib/terminal_harness.sh" keys "$@"

start() { # name columns
  local dir="$work/$1"
  tmux -L "$socket" new-session -d -s "$1" -x "${2:-100}" -y 40 \
    "cd '$dir' && stty -g > before && ./kochbuchpruefer; echo \$? > status; stty -g > after; sleep 600"
}

# The worked run, then a letter.
prepare letter
start letter
check "prompt shown" wait_for_text letter "$prompt"
row1=$(screen letter | sed -n 6p)
row2=$(screen letter | sed -n 7p)
check "heading" grep -qF -- "--> KOCHBUCHPRUEFER <--" <<<"$(screen letter)"
check "row 1 text" test "$row1" = "   1    250 g  Mehl                         250 kg Mehl"
check "row 2 text" test "$row2" = "   2      3 EL Zucker                         3 EL Rohrzucker"
check "row 1 columns 49-51 are the unit" test "${row1:48:3}" = "kg "
check "row 2 columns 52-77 are the long text" test "${row2:51}" = "Rohrzucker"
coloured=$(screen letter -e)
check "unit of row 1 in light red" grep -qF -- $'\e[91mkg \e[39mMehl' <<<"$coloured"
check "long text of row 2 in light red" grep -qF -- $'\e[91mRohrzucker' <<<"$coloured"
check "unequal-length note in light red" grep -qF -- $'\e[91m Fehler! Die Dateien sind nicht gleich lang!' <<<"$coloured"
check "row 3 without colour" bash -c 'grep -F "   3      1 Pr Salz" <<<"$1" | grep -vq $'"'"'\e\[9'"'"'' _ "$coloured"
tmux -L "$socket" send-keys -t letter x
check "a letter ends it" wait_for_status letter
check "exit status 0" status_is letter 0
check "terminal modes unchanged" modes_kept letter
check "the letter did not reach the shell" bash -c "! tmux -L '$socket' capture-pane -p -t letter | grep -qx 'x'"

# F1 ends the wait too.
prepare f1
start f1
wait_for_text f1 "$prompt"
tmux -L "$socket" send-keys -t f1 F1
check "F1 ends it" wait_for_status f1
check "F1 exit status 0" status_is f1 0
check "F1 terminal modes unchanged" modes_kept f1

# Keys typed while a long table prints are not echoed; the first ends the wait.
prepare typing
awk 'BEGIN { for (i = 1; i <= 30000; i++) printf "%d,g,Mehl%d\r\n", i, i }' > "$work/typing/Rezept1.txt"
cp "$work/typing/Rezept1.txt" "$work/typing/Rezept2.txt"
start typing
wait_for_text typing "Mehl"
tmux -L "$socket" send-keys -t typing "qqq"
sleep 0.2
during=$(screen typing -S -300)
if grep -qF -- "$prompt" <<<"$during"; then
  echo "note: the table was printed before the keys came; echo check not meaningful"
else
  check "typed keys not echoed" bash -c '! grep -q qqq <<<"$1"' _ "$during"
fi
for _ in $(seq 1 300); do [ -s "$work/typing/status" ] && break; sleep 0.05; done
check "typed keys end the wait" wait_for_status typing
check "typing exit status 0" status_is typing 0
check "typing terminal modes unchanged" modes_kept typing

# NO_COLOR: no colour (tmux's own 39 and 49 are the defaults), recipe 2's
# differing fields underlined.
prepare nocolour
tmux -L "$socket" new-session -d -s nocolour -x 100 -y 40 "cd '$work/nocolour' && NO_COLOR=1 ./kochbuchpruefer; sleep 600"
wait_for_text nocolour "$prompt"
plain=$(screen nocolour -e)
check "NO_COLOR: no colour" bash -c '! grep -qE $'"'"'\e\[([0-9;]*;)?(3[0-8]|4[0-8]|9[0-7]|10[0-7])[;m]'"'"' <<<"$1"' _ "$plain"
check "NO_COLOR: differing fields underlined" bash -c '[[ $1 == *"$2"*"$3"* ]]' _ "$plain" $'\e[4mkg \e[0m' $'\e[4mRohrzucker'

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; screen letter; exit 1; }
echo "all checks passed"
