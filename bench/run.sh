#!/usr/bin/env bash
# Compares one whole run of sorvel on its largest accepted input with cp of the
# same file: user-space instructions (callgrind), wall time (median of paired,
# alternating runs) and peak memory. Needs cmake, g++ and valgrind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-400}
(cd "$root" && cmake --workflow --preset release >/dev/null)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Static, so that its own small memory does not show in the peak of the processes it starts.
g++ -O2 -static -std=c++20 -o "$work/paired" "$root/bench/paired.cpp"

# 65,507 bytes of text lines ending in CR LF: the largest text the calculator takes.
python3 - "$work/largest.txt" <<'PY'
import sys
text = b"".join(b"Line %d: the quick brown fox jumps over the lazy dog.\r\n" % i for i in range(1300))
open(sys.argv[1], "wb").write(text[:65505] + b"\r\n")
PY

cd "$work"
sorvel=("$root/build/release/sorvel" largest.txt)
cp=("$(command -v cp)" largest.txt copy.txt)
"${sorvel[@]}"
echo "input $(stat -c %s largest.txt) bytes, output $(stat -c %s largest.89t) bytes"

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 | awk '/Collected/ {print $4}'
}
i_sorvel=$(instructions "${sorvel[@]}")
i_cp=$(instructions "${cp[@]}")
echo "instructions: sorvel $i_sorvel, cp $i_cp, ratio $(awk "BEGIN {printf \"%.3f\", $i_sorvel / $i_cp}")"
echo "paired runs ($runs each; first is sorvel, second cp):"
"$work/paired" "$runs" "${sorvel[@]}" -- "${cp[@]}"

echo "in-process throughput:"
g++ -O3 -std=c++20 -I"$root/src" -o "$work/throughput" "$root/bench/throughput.cpp" \
  "$root/build/release/libsorvel_core.a" -lbenchmark -lpthread
"$work/throughput" --benchmark_min_time=0.2 2>/dev/null
