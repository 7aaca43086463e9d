#!/bin/sh
# package_test.sh deb|zip BUILD_DIR: packages the build with cpack and checks
# that the package holds the program and its documentation, and that the
# packaged Linux program runs.
set -eu
kind=$1
build=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

if [ "$kind" = deb ]; then
  (cd "$build" && cpack -G DEB -B "$out" >/dev/null)
  dpkg-deb -x "$out"/sorvel_*_*.deb "$out/root"
  [ -f "$out/root/usr/share/man/man1/sorvel.1" ] || fail "no man page"
  status=0
  usage=$("$out/root/usr/bin/sorvel") || status=$?
  [ "$status" = 1 ] && [ "$usage" = "Usage: sorvel file.txt [varname]" ] ||
    fail "packaged program answered '$usage' with status $status"
else
  (cd "$build" && cpack -G ZIP -B "$out" >/dev/null)
  listing=$(cd "$out" && cmake -E tar tf sorvel-*-win64.zip)
  for f in sorvel.exe README.txt; do
    echo "$listing" | grep -qx "sorvel-[0-9.]*-win64/$f" || fail "no $f in the zip"
  done
fi
echo "package_test: $kind package is complete"
