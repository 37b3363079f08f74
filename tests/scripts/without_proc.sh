#!/usr/bin/env bash
# With /proc not mounted, as on systems that have none, the program finds its
# folder from the name it was started by (a path, or a name looked up in
# PATH) and reads the recipes beside its real file, not beside a symbolic
# link to it. Runs in a mount namespace of its own; skipped where none can be made.
# Usage: without_proc.sh <path-to-kochbuchpruefer> <source-dir>
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/real" "$work/link"
cp "$1" "$2/examples/Rezept1.txt" "$2/examples/Rezept2.txt" "$work/real/"
printf '7,g,Anderswo\r\n' | tee "$work/link/Rezept1.txt" >"$work/link/Rezept2.txt"
ln -s "$work/real/kochbuchpruefer" "$work/link/kochbuchpruefer"
cat >"$work/runs.sh" <<'RUNS'
umount -l /proc 2>/dev/null || mount -t tmpfs none /proc || exit 77
cd "$1/link" || exit 1
for how in ../real/kochbuchpruefer ./kochbuchpruefer "PATH=/nowhere::/usr/bin kochbuchpruefer"; do
  env $how </dev/null | grep -q Rohrzucker && echo "ok: started as $how" || { echo "FAIL: $how"; exit 1; }
done
RUNS
for namespace in "unshare -m" "unshare -rm"; do
  $namespace true 2>/dev/null || continue
  $namespace bash "$work/runs.sh" "$work"
  status=$?
  [ $status -ne 77 ] && exit $status
done
echo "no mount namespace without /proc here: skipped"
exit 77
