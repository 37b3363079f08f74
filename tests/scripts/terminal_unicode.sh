#!/usr/bin/env bash
# The program in tmux (100 columns, UTF-8 locale) with recipes as people
# write them: umlauts, ß, €, CJK, emoji, combining marks, fields whose byte
# count would cut a character, a Windows-1252 and a DOS code page 850 file.
# On every row recipe 2's number ends at column 47, as in an ASCII row,
# measured with Python's unicodedata rather than the program's own widths;
# the letters read right in every encoding; differing fields are light red.
# Usage: terminal_unicode.sh <path-to-kochbuchpruefer> <source-dir>
set -u
. "$(dirname "$0")/lib/terminal_harness.sh" unicode "$@"
command -v python3 >/dev/null 2>&1 || { echo "python3 not installed: skipped"; exit 77; }

start() { # name
  tmux -L "$socket" new-session -d -s "$1" -x 100 -y 40 \
    "cd '$work/$1' && LANG=C.UTF-8 LC_ALL= LC_CTYPE= ./kochbuchpruefer; sleep 600"
}

# Recipe 1's fields hold the hard texts; recipe 2's numbers are 9001 on.
for name in utf8 windows dos; do prepare "$name"; done
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
texts = [("Mehl", "g"), ("Möhren, süß geraspelt", "EL"), ("Öl", "l"), ("Preis in €", "€"),
         ("寿司 mit Lachs und Reis aus Japan", "寿"), ("🍰 Kuchen", "Pk"), ("Cafe\u0301 au lait", "St"),
         ("a" * 25 + "äb", "ab"), ("a" * 25 + "寿司", "x寿"), ("e\u0301" * 30, "e\u0301e\u0301e\u0301")]
def write(path, rows, encoding):
    with open(path, "w", encoding=encoding, newline="") as f:
        f.writelines(f'{number},"{short}","{long}"\r\n' for number, short, long in rows)
write(f"{work}/utf8/Rezept1.txt", [(i + 1, s, l) for i, (l, s) in enumerate(texts)], "utf-8")
write(f"{work}/utf8/Rezept2.txt", [(9001 + i, s, l if i else "Moehren") for i, (l, s) in enumerate(texts)], "utf-8")
german = [("Möhren, süß geraspelt", "EL"), ("Äpfel und Öl", "g"), ("Grüße aus Köln", "l")]
for name, encoding in (("windows", "cp1252"), ("dos", "cp850")):
    write(f"{work}/{name}/Rezept1.txt", [(i + 1, s, l) for i, (l, s) in enumerate(german)], encoding)
    write(f"{work}/{name}/Rezept2.txt", [(9001 + i, s, l) for i, (l, s) in enumerate(german)], encoding)
PY
for name in utf8 windows dos; do start "$name"; done
for name in utf8 windows dos; do check "$name: prompt shown" wait_for_text "$name" "$prompt"; done

columns() { # name rows: each table row's display column where recipe 2's number ends
  screen "$1" | python3 -c '
import sys, unicodedata
def width(text):
    return sum(0 if unicodedata.combining(c) or unicodedata.category(c) in ("Mn", "Me", "Cf")
               else 2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
ends = []
for line in sys.stdin:
    at = line.find(" 90")
    if line.startswith("  ") and at > 20:
        ends.append(width(line[:at + 5]))
print(" ".join(map(str, ends)))'
}
check "utf8: recipe 2's number ends at column 47 on all 10 rows" \
  test "$(columns utf8)" = "47 47 47 47 47 47 47 47 47 47"
for name in windows dos; do
  check "$name: recipe 2's number ends at column 47 on all 3 rows" test "$(columns "$name")" = "47 47 47"
  check "$name: the letters read right" grep -qF "Möhren, süß geraspelt" <<<"$(screen "$name")"
done
check "utf8: the letters read right" grep -qF "Möhren, süß geraspelt" <<<"$(screen utf8)"
check "utf8: a wide character that would straddle the field's end is left out" \
  grep -qF "$(printf 'a%.0s' $(seq 25)) " <<<"$(screen utf8)"
check "utf8: the differing long text in light red" grep -qF -- $'\e[91mMoehren' <<<"$(screen utf8 -e)"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; screen utf8; screen windows; screen dos; exit 1; }
echo "all checks passed"
