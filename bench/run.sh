#!/usr/bin/env bash
# Compares whole runs of sorvel with cp of the same file, on the largest text the
# calculator takes of each kind of content: user-space instructions (callgrind)
# for every kind, then wall time (median of paired, alternating runs) and peak
# memory for prose. Needs cmake, g++, python3 and valgrind. SORVEL=path measures
# another build of the program instead of a fresh release build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-400}
if [ -z "${SORVEL:-}" ]; then
  (cd "$root" && cmake --workflow --preset release >/dev/null)
  SORVEL=$root/build/release/sorvel
fi
SORVEL=$(realpath "$SORVEL")
CP=$(command -v cp)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Static, so that its own small memory does not show in the peak of the processes it starts.
g++ -O2 -static -std=c++20 -o "$work/paired" "$root/bench/paired.cpp"
cd "$work"
python3 "$root/bench/texts.py" . >kinds.tsv

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 | awk '/Collected/ {print $4}'
}
row() { # WHAT FILE [SORVEL OPTION...]
  local what=$1 file=$2
  shift 2
  local s c
  "$SORVEL" "$@" "$file" out >/dev/null
  s=$(instructions "$SORVEL" "$@" "$file" out)
  c=$(instructions "$CP" "$file" copy.txt)
  printf '| %s | %s | %s | %s |\n' "$what" "$s" "$c" "$(awk "BEGIN {printf \"%.2f\", $s / $c}")"
}

echo "user-space instructions of a whole run (callgrind), sorvel FILE against cp FILE COPY:"
echo
echo "| content of the text (65,507 bytes stored) | sorvel | cp | ratio |"
echo "|---|---|---|---|"
while IFS=$'\t' read -r name what; do
  row "$what" "$name.txt"
done <kinds.tsv
row "UTF-8 prose with accents, Greek letters and signs (one in 12), sorvel -u" utf8.txt -u
row "UTF-8 prose with formulas (one in 5), sorvel -u" utf8-fifth.txt -u
row "UTF-8, dense lines of Greek letters and signs (one in 4), sorvel -u" utf8-dense.txt -u
row "UTF-8, the same dense lines ending LF, sorvel -u" utf8-dense-lf.txt -u
row "UTF-8, nothing but Greek letters and signs (2 and 3 bytes), sorvel -u" utf8-signs.txt -u
row "UTF-8, short lines θ=1 CR LF, sorvel -u" utf8-short.txt -u
row "French prose, accents, quotes and dashes (one in 6), sorvel -u" french.txt -u
row "the same in Windows-1252, sorvel --encoding=windows-1252" french-1252.txt --encoding=windows-1252
row "the same in UTF-16, sorvel --encoding=utf-16" french-16.txt --encoding=utf-16
row "the same UTF-8, sorvel --encoding=auto" french.txt --encoding=auto
row "the same Windows-1252, sorvel --encoding=auto" french-1252.txt --encoding=auto

echo
echo "prose with CR LF lines, $runs paired runs each (wall times are rough on a busy machine):"
"$work/paired" "$runs" "$SORVEL" prose-crlf.txt out -- "$CP" prose-crlf.txt copy.txt |
  sed 's/^first /sorvel/; s/^second/cp    /'

echo
echo "sorvel -x of a group of 65,535 empty text variables (1.9 MB), peak memory and times:"
python3 "$root/bench/empty_group.py" 65535 many.89g
mkdir many && cd many
/usr/bin/time -f "peak %M KiB resident, %e s wall, %U s user, %S s system" "$SORVEL" -x ../many.89g

echo
echo "many texts at once: peak memory of --each, -g and -s; --each of 1,000 new small texts against cp:"
python3 "$root/bench/each.py" "$SORVEL" 21
