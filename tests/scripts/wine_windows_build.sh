#!/usr/bin/env bash
# The Windows build run under Wine: the redirected run byte for byte, recipe
# files with every kind of line end, the console screen and its colours in
# tmux, a key press ending the wait with status 0, and Ctrl+C during printing
# leaving every byte printed so far in the redirected output.
#
# Which build runs is found by trying: the 32-bit build under `wine`; where
# that cannot execute (a kernel without 32-bit support gives "Exec format
# error"), the 64-bit build under 64-bit Wine in a prefix of its own
# ($KP_WINE64_PREFIX, by default ~/.wine64, made with wineboot when missing).
# Usage: wine_windows_build.sh <native kochbuchpruefer> <source dir>
# Exits 77 (skipped), with the reasons, when neither build can run.
set -u

native=${1:?native program path}
src=${2:?source directory}
export WINEDEBUG=-all

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

work=$(mktemp -d)
tmux_socket="wine$$"
cleanup() {
  # A program left waiting in a console outlives the closed terminal under
  # Wine, so the ones started here are ended by their ids.
  local shell_pid child pid_file
  for pid_file in "$work"/*/shell.pid "$work"/*/pid; do
    [ -f "$pid_file" ] || continue
    shell_pid=$(cat "$pid_file")
    for child in $(ps -o pid= --ppid "$shell_pid" 2>/dev/null); do
      kill "$child" 2>/dev/null
    done
    kill -CONT "$shell_pid" 2>/dev/null
    kill "$shell_pid" 2>/dev/null
  done
  tmux -L "$tmux_socket" kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# --- The cross builds, made or brought up to date here ------------------------
# build_windows <build dir> <toolchain file>
build_windows() {
  local build=$1
  mkdir -p "$build"
  (
    # Two runs at once must not build into the same directory together.
    flock 9
    if [ ! -f "$build/CMakeCache.txt" ]; then
      cmake -S "$src" -B "$build" -G "${CMAKE_GENERATOR:-Ninja}" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$2" \
        -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || exit 1
    fi
    cmake --build "$build" >"$work/build.log" 2>&1
  ) 9>"$build/.wine-test.lock"
}

# probe <compiler prefix>: whether a program of that word size runs here
# under "${wine[@]}": a small one is built and tried. Sets probe_reason.
probe() {
  local compiler
  compiler=$(command -v "$1-g++-posix" || command -v "$1-g++") || {
    probe_reason="no $1 cross compiler"
    return 1
  }
  mkdir -p "$work/probe-$1"
  printf 'int main() { return 42; }\n' >"$work/probe-$1/probe.cc"
  "$compiler" -static -o "$work/probe-$1/probe.exe" "$work/probe-$1/probe.cc" \
    >"$work/probe-$1/log" 2>&1 || {
    probe_reason="the $1 cross compiler failed: $(head -c 200 "$work/probe-$1/log")"
    return 1
  }
  (cd / && timeout 300 "${wine[@]}" "$work/probe-$1/probe.exe" </dev/null >/dev/null 2>"$work/probe-$1/err")
  local status=$?
  [ "$status" = 42 ] && return 0
  probe_reason="${wine[*]} could not run it (status $status: $(head -c 200 "$work/probe-$1/err" | tr '\n' ' '))"
  return 1
}

# prepare_wine64_prefix <prefix>: a 64-bit prefix, made once (under a lock,
# as several test runs may start at once).
prepare_wine64_prefix() {
  mkdir -p "$(dirname "$1")"
  (
    flock 9
    [ -f "$1/system.reg" ] && exit 0
    WINEPREFIX=$1 WINEARCH=win64 timeout 300 "${wine[@]}" wineboot --init >/dev/null 2>&1
    # The registry is written when the prefix's server ends.
    WINEPREFIX=$1 timeout 60 "$wineserver" -w >/dev/null 2>&1
    [ -f "$1/system.reg" ]
  ) 9>"$1.lock"
}

build=
# The 32-bit build under wine, where this host can run it.
wine=(wine)
if ! command -v wine >/dev/null 2>&1; then
  reason32="wine is not installed"
elif probe i686-w64-mingw32; then
  build="$src/build-win32"
  toolchain=mingw-i686.cmake
  ran="the 32-bit build (build-win32) under $(command -v wine) ($(wine --version 2>/dev/null))"
else
  reason32="32-bit: $probe_reason"
fi

# Else the 64-bit build under 64-bit Wine, in a prefix of its own.
if [ -z "$build" ]; then
  wine64=
  for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      wine64=$candidate
      break
    fi
  done
  if [ -z "$wine64" ]; then
    reason64="64-bit: no 64-bit Wine (wine64) installed"
  else
    wineserver=$(dirname "$wine64")/wineserver
    [ -x "$wineserver" ] || wineserver=wineserver
    prefix=${KP_WINE64_PREFIX:-${HOME:-$work}/.wine64}
    export WINELOADER=$wine64 WINEARCH=win64 WINEPREFIX=$prefix
    wine=("$wine64")
    if ! prepare_wine64_prefix "$prefix"; then
      reason64="64-bit: the Wine prefix $prefix could not be made"
    elif probe x86_64-w64-mingw32; then
      build="$src/build-win64"
      toolchain=mingw-x86_64.cmake
      ran="the 64-bit build (build-win64) under $wine64 ($("$wine64" --version 2>/dev/null)), prefix $prefix"
    else
      reason64="64-bit: $probe_reason"
    fi
  fi
fi

if [ -z "$build" ]; then
  echo "skipped: no Windows build can run here"
  echo "  $reason32"
  echo "  $reason64"
  exit 77
fi
[ -n "${reason32:-}" ] && echo "note: not the 32-bit build: $reason32"
echo "running $ran"
if ! build_windows "$build" "$toolchain"; then
  cat "$work/configure.log" "$work/build.log" 2>/dev/null | tail -30
  echo "FAIL: the Windows build did not build"
  exit 1
fi
exe="$build/kochbuchpruefer.exe"

# --- Expected output ---------------------------------------------------------
line() { printf '%s\r\n' "$1"; }
heading() {
  line ""
  line " --> KOCHBUCHPRUEFER <--"
  line ""
  line "  Z#   Rezept 1                            Rezept 2"
  line " -----------------------------------------------------------------------------"
}
# row <row> <number1> <short1> <long1> <number2> <short2> <long2>
row() { printf '  %2d   %4d %-2s %-26s  %4d %-2s %-26s\r\n' "$@"; }
unequal_note() {
  line ""
  line ""
  line " Fehler! Die Dateien sind nicht gleich lang!"
  line " Kann nur bis zum Ende der kuerzeren lesen."
}
end_note() {
  line ""
  line ""
  line " Ende der Rezeptdateien erreicht."
  line " Die Abweichungen im 2. Rezept wurden, sofern vorhanden, rot hervorgehoben."
}
prompt() {
  line ""
  line ""
  line " -> Beliebige Taste zum Beenden druecken."
}
worked_output() {
  heading
  row 1 250 g Mehl 250 kg Mehl
  row 2 3 EL Zucker 3 EL Rohrzucker
  row 3 1 Pr Salz 1 Pr Salz
  unequal_note
  prompt
}

# The worked example's recipes with their lines ended by $1.
worked_recipe1() { printf "250,g,Mehl$1"'3,EL,Zucker'"$1"'1,Pr,Salz'"$1"; }
worked_recipe2() { printf "250,kg,Mehl$1"'3,EL,Rohrzucker'"$1"'1,Pr,Salz'"$1"'2,St,Eier'"$1"; }

# A fresh directory holding the program; recipes are written into it after.
new_case() {
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$exe" "$dir/"
  echo "$dir"
}

# run_redirected <dir> <stdin file>: output to <dir>/out, status to <dir>/status.
run_redirected() {
  (cd / && timeout 60 "${wine[@]}" "$1/kochbuchpruefer.exe" <"$2" >"$1/out" 2>"$1/err")
  echo $? >"$1/status"
}

# expect_output <name> <dir> <expected file>
expect_output() {
  local status
  status=$(cat "$2/status")
  if [ "$status" = 124 ]; then
    fail "$1: did not end by itself"
  elif [ "$status" != 0 ]; then
    fail "$1: exit status $status"
  elif ! cmp -s "$3" "$2/out"; then
    fail "$1: output differs (expected, then got):"
    diff <(od -An -c "$3") <(od -An -c "$2/out") | head -20
  else
    pass "$1"
  fi
}

# --- 1. Redirected runs --------------------------------------------------------
start=$(date +%s)
worked_output >"$work/worked.expected"

for ends in 'CRLF:\r\n' 'LF:\n' 'CR:\r'; do
  name=${ends%%:*}
  dir=$(new_case "redirected-$name")
  worked_recipe1 "${ends#*:}" >"$dir/Rezept1.txt"
  worked_recipe2 "${ends#*:}" >"$dir/Rezept2.txt"
  run_redirected "$dir" /dev/null
  expect_output "redirected worked run, $name line ends" "$dir" "$work/worked.expected"
done

# The example recipes are the worked example.
dir=$(new_case examples)
cp "$src/examples/Rezept1.txt" "$src/examples/Rezept2.txt" "$dir/"
run_redirected "$dir" /dev/null
expect_output "the example recipes beside the program" "$dir" "$work/worked.expected"

# A Ctrl-Z byte is data like any other, not the end of the file.
dir=$(new_case ctrl-z)
printf '250,g,Mehl\r\n3,EL,Zu\032cker\r\n1,Pr,Salz\r\n' >"$dir/Rezept1.txt"
printf '250,g,Mehl\r\n3,EL,Zu\032cker\r\n1,Pr,Salz\r\n' >"$dir/Rezept2.txt"
{
  heading
  row 1 250 g Mehl 250 g Mehl
  row 2 3 EL $'Zu\032cker' 3 EL $'Zu\032cker'
  row 3 1 Pr Salz 1 Pr Salz
  end_note
  prompt
} >"$dir/expected"
run_redirected "$dir" /dev/null
expect_output "a Ctrl-Z byte inside a record" "$dir" "$dir/expected"

# Fractional integer fields round half to even in the Windows build too.
dir=$(new_case rounding)
printf '2.5,a,b\r\n3.5,a,b\r\n-2.5,a,b\r\n0.5,a,b\r\n1e3,a,b\r\n' >"$dir/Rezept1.txt"
cp "$dir/Rezept1.txt" "$dir/Rezept2.txt"
{
  heading
  row 1 2 a b 2 a b
  row 2 4 a b 4 a b
  row 3 -2 a b -2 a b
  row 4 0 a b 0 a b
  row 5 1000 a b 1000 a b
  end_note
  prompt
} >"$dir/expected"
run_redirected "$dir" /dev/null
expect_output "fractional numbers round half to even" "$dir" "$dir/expected"

# A directory named like recipe 1 is no recipe file: the run goes as when
# recipe 1 is missing.
dir=$(new_case missing)
worked_recipe2 '\r\n' >"$dir/Rezept2.txt"
run_redirected "$dir" /dev/null
missing_output="$dir/out"
dir=$(new_case directory)
mkdir "$dir/Rezept1.txt"
worked_recipe2 '\r\n' >"$dir/Rezept2.txt"
run_redirected "$dir" /dev/null
if grep -q 'Rezept 2' "$missing_output"; then
  expect_output "a directory in place of recipe 1" "$dir" "$missing_output"
else
  fail "the run with recipe 1 missing printed no table heading"
fi

# A path longer than 260 characters: the program still finds its recipes.
long="$work/long"
for i in 1 2 3 4 5 6 7 8 9 10; do long="$long/ein_verzeichnis_mit_langem_namen_$i"; done
mkdir -p "$long"
cp "$exe" "$long/"
worked_recipe1 '\r\n' >"$long/Rezept1.txt"
worked_recipe2 '\r\n' >"$long/Rezept2.txt"
run_redirected "$long" /dev/null
expect_output "a program path of ${#long} characters" "$long" "$work/worked.expected"

# Standard input from a pipe: a byte is a key press, and the pipe's end ends
# the wait; a look while the pipe is still empty must not block.
dir=$(new_case pipe-key)
worked_recipe1 '\r\n' >"$dir/Rezept1.txt"
worked_recipe2 '\r\n' >"$dir/Rezept2.txt"
(cd / && printf 'x' | timeout 60 "${wine[@]}" "$dir/kochbuchpruefer.exe" >"$dir/out" 2>"$dir/err")
echo $? >"$dir/status"
expect_output "a key byte from a pipe" "$dir" "$work/worked.expected"
(cd / && sleep 2 | timeout 60 "${wine[@]}" "$dir/kochbuchpruefer.exe" >"$dir/out" 2>"$dir/err")
echo $? >"$dir/status"
expect_output "the end of an empty pipe" "$dir" "$work/worked.expected"

# Many rows with LF line ends, across several stream buffers: the same bytes
# as the POSIX build prints.
if [ -x "$native" ]; then
  dir=$(new_case many-rows)
  awk 'BEGIN { for (i = 0; i < 1500; i++) printf "%d,ab,Zeile %d mit etwas mehr Text\n", i, i }' \
    >"$dir/Rezept1.txt"
  awk 'BEGIN { for (i = 0; i < 1500; i++) printf "%d,ab,Zeile %d mit etwas mehr Text\n", i, (i % 7 ? i : i + 1) }' \
    >"$dir/Rezept2.txt"
  mkdir "$dir/native"
  cp "$native" "$dir/Rezept1.txt" "$dir/Rezept2.txt" "$dir/native/"
  timeout 60 "$dir/native/$(basename "$native")" </dev/null >"$dir/expected" 2>/dev/null
  if [ $? -ne 0 ] || [ ! -s "$dir/expected" ]; then
    echo "note: the POSIX build did not run; many-rows case left out"
  else
    run_redirected "$dir" /dev/null
    expect_output "1500 rows with LF line ends, as the POSIX build" "$dir" "$dir/expected"
  fi
fi

# --- 2. The console, in tmux ---------------------------------------------------
if ! command -v tmux >/dev/null 2>&1; then
  echo "note: tmux not installed; console cases left out"
else
  # start_console <name> <dir>: runs the program in a 100 x 30 window.
  start_console() {
    tmux -L "$tmux_socket" new-session -d -x 100 -y 30 -s "$1" \
      "echo \$\$ >'$2/shell.pid'; cd '$2' && ${wine[*]} ./kochbuchpruefer.exe; echo \$? >'$2/status'; sleep 600"
  }
  # wait_for_prompt <session>: until the prompt shows, at most 60 seconds.
  wait_for_prompt() {
    local i
    for i in $(seq 1 120); do
      if tmux -L "$tmux_socket" capture-pane -p -t "$1" | grep -q 'Beliebige Taste'; then
        return 0
      fi
      sleep 0.5
    done
    return 1
  }
  wait_for_status() {
    local i
    for i in $(seq 1 40); do
      [ -s "$1/status" ] && return 0
      sleep 0.5
    done
    return 1
  }
  # The light red cells of a capture with escapes, as "row:column" lines
  # (1-based). Wine's console draws colour 12 as SGR 91 and 7 as the default.
  red_cells() {
    awk '{
      rest = $0; column = 0
      while (length(rest) > 0) {
        if (substr(rest, 1, 1) == "\033") {
          if (match(rest, /^\033\[[0-9;]*m/)) {
            n = split(substr(rest, 3, RLENGTH - 3), p, ";")
            if (n == 0) red = 0
            for (i = 1; i <= n; i++) {
              if (p[i] == 91) red = 1
              else if (p[i] == "" || p[i] == 0 || p[i] == 39 || (p[i] >= 30 && p[i] <= 37) || (p[i] >= 90 && p[i] <= 97)) red = 0
            }
            rest = substr(rest, RLENGTH + 1)
            continue
          }
          rest = substr(rest, 2)
          continue
        }
        column++
        if (red) print NR ":" column
        rest = substr(rest, 2)
      }
    }'
  }

  dir=$(new_case console)
  worked_recipe1 '\r\n' >"$dir/Rezept1.txt"
  worked_recipe2 '\r\n' >"$dir/Rezept2.txt"
  start_console worked "$dir"
  if ! wait_for_prompt worked; then
    fail "console: the prompt did not appear"
    tmux -L "$tmux_socket" capture-pane -p -t worked | head -20
  else
    tmux -L "$tmux_socket" capture-pane -p -t worked | head -15 | sed 's/ *$//' >"$dir/screen"
    tr -d '\r' <"$work/worked.expected" | sed 's/ *$//' >"$dir/screen.expected"
    if cmp -s "$dir/screen.expected" "$dir/screen"; then
      pass "console: the worked run's screen text"
    else
      fail "console: screen text differs"
      diff "$dir/screen.expected" "$dir/screen"
    fi

    tmux -L "$tmux_socket" capture-pane -p -e -t worked | head -15 | red_cells >"$dir/red"
    {
      for c in 49 50 51; do echo "6:$c"; done          # kg and its space
      for c in $(seq 52 61); do echo "7:$c"; done      # Rohrzucker (the fill is trimmed)
      for c in $(seq 1 44); do echo "11:$c"; done      # the unequal-length note
      for c in $(seq 1 43); do echo "12:$c"; done
    } >"$dir/red.expected"
    if cmp -s "$dir/red.expected" "$dir/red"; then
      pass "console: light red exactly where recipe 2 differs and on the note"
    else
      fail "console: colours differ (expected red cells, then got):"
      diff "$dir/red.expected" "$dir/red" | head -20
    fi

    tmux -L "$tmux_socket" send-keys -t worked x
    if ! wait_for_status "$dir"; then
      fail "console: a key did not end the wait"
    elif [ "$(cat "$dir/status")" != 0 ]; then
      fail "console: exit status $(cat "$dir/status") after the key"
    else
      pass "console: a key ends the wait with exit status 0"
    fi
  fi

  # More rows than the window holds: the window scrolls, and the last 29
  # lines stand on the screen with the cursor on the row below the prompt.
  dir=$(new_case console-scroll)
  awk 'BEGIN { for (i = 0; i < 120; i++) printf "%d,ab,Zeile %d\r\n", i, i }' >"$dir/Rezept1.txt"
  cp "$dir/Rezept1.txt" "$dir/Rezept2.txt"
  run_redirected "$dir" /dev/null
  tr -d '\r' <"$dir/out" | tail -29 | sed 's/ *$//' >"$dir/screen.expected"
  echo >>"$dir/screen.expected"
  rm -f "$dir/status"
  start_console scroll "$dir"
  if ! wait_for_prompt scroll; then
    fail "console: the prompt of the long run did not appear"
  else
    tmux -L "$tmux_socket" capture-pane -p -t scroll | sed 's/ *$//' >"$dir/screen"
    if cmp -s "$dir/screen.expected" "$dir/screen"; then
      pass "console: 120 rows scroll through a 30-row window"
    else
      fail "console: screen after scrolling differs"
      diff "$dir/screen.expected" "$dir/screen" | head -20
    fi
    tmux -L "$tmux_socket" send-keys -t scroll Enter
    wait_for_status "$dir" && [ "$(cat "$dir/status")" = 0 ] ||
      fail "console: Enter did not end the long run with status 0"
  fi
fi

# --- 3. Ctrl+C while printing, output redirected ---------------------------
# The console control handler sends the gathered output before the process
# ends. Every line of these recipes is B bytes long. The program is stopped
# (SIGSTOP) once its recipe 1 is read past the point wanted, Ctrl+C is typed
# into its console, and it is let go on. What it had printed when it was
# stopped is known from its read positions in the two recipes (which Wine
# reads through the process's own descriptors): the program reads a recipe in
# blocks of FileStream::kBufferSize through a C runtime stream buffered with
# as much, so the descriptor is at most two blocks (A bytes) ahead of what it
# has taken; it takes a record of each recipe before it prints the row and
# prints the row before it takes the next record. So at read position p the
# records before floor((p - A) / B) are taken, and
# the rows before the last of them (one more kept back for the byte looked at
# past a line end) had been printed. The output must be a byte prefix of the
# whole run's output and hold those rows. Without the handler the file would
# end at a multiple of 64 KiB, short of rows printed before the stop.
if ! command -v tmux >/dev/null 2>&1; then
  echo "note: tmux not installed; Ctrl+C cases left out"
elif [ ! -d /proc/self/fdinfo ]; then
  echo "note: no /proc/<pid>/fdinfo to read positions from; Ctrl+C cases left out"
else
  line_bytes=1000
  rows=20000
  block=$(sed -n 's/.*kBufferSize = \([0-9]*\);.*/\1/p' "$src/src/input/file_stream.h")
  [ -n "$block" ] || fail "interrupt: FileStream::kBufferSize not found"
  ahead=$((2 * ${block:-65536}))
  dir=$(new_case interrupted)
  awk -v b=$line_bytes -v n=$rows 'BEGIN {
    pad = sprintf("%*s", b - 25, ""); gsub(/ /, "x", pad)
    for (i = 1; i <= n; i++) printf "%6d,ab,Zeile %6d %s\r\n", i, i, pad }' >"$dir/Rezept1.txt"
  awk -v b=$line_bytes -v n=$rows 'BEGIN {
    pad = sprintf("%*s", b - 25, ""); gsub(/ /, "y", pad)
    for (i = 1; i <= n; i++) printf "%6d,ab,Zeile %6d %s\r\n", i, (i % 7 ? i : i + 1), pad }' >"$dir/Rezept2.txt"
  recipe_size=$(stat -c %s "$dir/Rezept1.txt")
  [ "$recipe_size" = $((line_bytes * rows)) ] || fail "interrupt recipes: lines are not $line_bytes bytes"

  # The whole run's output: the POSIX build prints the same bytes.
  if [ -x "$native" ]; then
    mkdir "$dir/native"
    cp "$native" "$dir/native/"
    ln "$dir/Rezept1.txt" "$dir/Rezept2.txt" "$dir/native/"
    timeout 120 "$dir/native/$(basename "$native")" </dev/null >"$dir/expected" 2>/dev/null
  else
    (cd / && timeout 300 "${wine[@]}" "$dir/kochbuchpruefer.exe" </dev/null >"$dir/expected" 2>/dev/null)
  fi

  # read_position <pid> <file>: the program's read position in <file>, or
  # nothing while it has no descriptor of it (or stands at its end while it
  # measures the file's length).
  read_position() {
    local fd key value
    for fd in /proc/"$1"/fd/*; do
      [ "$fd" -ef "$2" ] || continue
      while read -r key value; do
        if [ "$key" = pos: ]; then
          [ "$value" -lt "$recipe_size" ] && echo "$value"
          return
        fi
      done <"/proc/$1/fdinfo/${fd##*/}" 2>/dev/null
    done
  }

  # interrupt <name> <file|pipe> <rows>: Ctrl+C once about <rows> rows are printed.
  interrupt() {
    local name=$1 how=$2 target=$3 case_dir="$work/$1"
    local pid= position= p1 p2 taken1 taken2 printed required kept at_stop i deadline
    mkdir -p "$case_dir"
    cp "$exe" "$case_dir/"
    ln "$dir/Rezept1.txt" "$dir/Rezept2.txt" "$case_dir/"
    local run="sh -c 'echo \$\$ >pid; exec ${wine[*]} ./kochbuchpruefer.exe'"
    if [ "$how" = pipe ]; then
      run="$run | (trap '' INT; exec cat >out)"
    else
      run="$run >out"
    fi
    tmux -L "$tmux_socket" new-session -d -x 100 -y 30 -s "$name" \
      "trap : INT; cd '$case_dir' && $run; echo done >status; sleep 600"

    # Until recipe 1 is read past the wanted row; builtins only, so the
    # look keeps up with the program.
    local wanted=$((ahead + (target + 2) * line_bytes))
    deadline=$((SECONDS + 120))
    while [ $SECONDS -lt $deadline ]; do
      if [ -z "$pid" ]; then
        [ -s "$case_dir/pid" ] && read -r pid <"$case_dir/pid"
        continue
      fi
      [ -d "/proc/$pid" ] || break
      position=$(read_position "$pid" "$dir/Rezept1.txt")
      [ -n "$position" ] && [ "$position" -ge "$wanted" ] && break
    done
    if [ -z "$pid" ] || ! kill -STOP "$pid" 2>/dev/null; then
      fail "Ctrl+C, $how: the program was not found running"
      return
    fi
    p1=$(read_position "$pid" "$dir/Rezept1.txt")
    p2=$(read_position "$pid" "$dir/Rezept2.txt")
    at_stop=$(stat -c %s "$case_dir/out")
    tmux -L "$tmux_socket" send-keys -t "$name" C-c
    sleep 0.5
    kill -CONT "$pid"
    for i in $(seq 1 120); do
      [ -s "$case_dir/status" ] && break
      sleep 0.5
    done
    if [ ! -s "$case_dir/status" ]; then
      fail "Ctrl+C, $how: the program did not end"
      return
    fi
    rm -f "$case_dir/pid"  # it has ended: the clean-up must not kill a stranger

    taken1=$(((${p1:-0} - ahead) / line_bytes))
    taken2=$(((${p2:-0} - ahead) / line_bytes))
    printed=$(((taken1 > taken2 ? taken1 : taken2) - 1))
    [ "$printed" -lt 0 ] && printed=0
    required=$(head -n $((5 + printed)) "$dir/expected" | wc -c)
    kept=$(stat -c %s "$case_dir/out")
    echo "      Ctrl+C, $how: $printed rows printed when stopped ($required bytes);" \
      "$at_stop bytes in the $how then, $kept after Ctrl+C"
    if [ "$kept" -ge "$(stat -c %s "$dir/expected")" ]; then
      fail "Ctrl+C, $how: the run ended before Ctrl+C reached it"
    elif ! cmp -s -n "$kept" "$case_dir/out" "$dir/expected"; then
      fail "Ctrl+C, $how: the output is no byte prefix of the whole run's"
      cmp "$case_dir/out" "$dir/expected" | head -3
    elif [ "$printed" -lt "$target" ]; then
      fail "Ctrl+C, $how: stopped after $printed rows, before the $target wanted"
    elif [ "$kept" -lt "$required" ]; then
      fail "Ctrl+C, $how: rows printed before Ctrl+C are missing"
    else
      pass "Ctrl+C, $how: a byte prefix of the output holding every row printed before it"
    fi
  }

  # Early and late in a file, and into a pipe (how early the stop lands
  # depends on how fast the look at the positions keeps up).
  interrupt ctrl-c-early file 370
  interrupt ctrl-c-late file 2600
  interrupt ctrl-c-pipe pipe 1100
fi

echo "Wine cases took $(($(date +%s) - start)) s"
if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
exit 0
