#!/bin/sh
# many_entries_test.sh PROGRAM PYTHON GENERATOR: -x takes the 65,535 empty text variables of one
# group file (made by bench/empty_group.py) apart within 64 MiB of address space, as a run of -x
# needs no more whatever the number of entries; each text file is then there and empty.
set -eu
program=$1 python=$2 generator=$3
dir=$(mktemp -d)
trap 'status=$?; rm -rf "$dir"; exit $status' EXIT
cd "$dir"
"$python" "$generator" 65535 many.89g
status=0
(ulimit -v 65536; exec "$program" -x many.89g) >out 2>&1 || status=$?
[ "$status" = 0 ] || { echo "many_entries_test: status $status: $(head -c 200 out)"; exit 1; }
count=$(find . -name 'v*.txt' -size 0 | wc -l)
[ "$count" = 65535 ] || { echo "many_entries_test: $count empty text files, not 65535"; exit 1; }
echo "many_entries_test: 65,535 texts taken out within 64 MiB"
