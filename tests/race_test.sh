#!/bin/sh
# race_test.sh PROGRAM: pairs of runs that write the same output at once each leave one
# complete file, the last one renamed into place, and no temporary file.
set -eu
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
head -c 65000 /dev/zero | tr '\0' a >big.txt
echo small >small.txt
"$program" big.txt race && mv race.89t big.ref
"$program" small.txt race && mv race.89t small.ref
for i in $(seq 200); do
  "$program" big.txt race & "$program" small.txt race & wait
  cmp -s race.89t big.ref || cmp -s race.89t small.ref || { echo "pair $i left a broken file"; exit 1; }
done
[ "$(ls -A | wc -l)" = 5 ] || { ls -A; echo "a temporary file was left"; exit 1; }
echo "race_test: 200 pairs, each left a complete file"
