# Shared by the terminal scripts: the program runs in tmux on a private
# socket, one directory a run with the program and the example recipes.
# Source it with the script's name: . lib/terminal_harness.sh <name> "$@"
# Sets program, source_dir, work, socket; defines check, prepare, screen,
# wait_for_text, wait_for_status, status_is, modes_kept and prompt.
harness_name=$1
program=$2
source_dir=$3
command -v tmux >/dev/null 2>&1 || { echo "tmux not installed: skipped"; exit 77; }

work=$(mktemp -d)
socket="kp-$harness_name-$$"
cleanup() { tmux -L "$socket" kill-server >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
failures=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# One directory per run: the program and its two recipe files.
prepare() { # name
  mkdir -p "$work/$1"
  cp "$program" "$work/$1/"
  cp "$source_dir/examples/Rezept1.txt" "$source_dir/examples/Rezept2.txt" "$work/$1/"
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
