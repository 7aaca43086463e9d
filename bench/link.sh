#!/usr/bin/env bash
# The CPU cost of the link protocols' state machines for the largest text variable's send.
# Needs g++. RUNS=n sets the number of sends (2000 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 -I"$root/src" -o "$work/link_bench" "$root/bench/link_bench.cpp" \
    "$root/src/core/link/dbus_link.cpp" "$root/src/core/link/dusb_link.cpp" "$root/src/core/link/dusb_framing.cpp" \
    "$root/src/core/link/link_machine.cpp"
"$work/link_bench" "${RUNS:-2000}"
