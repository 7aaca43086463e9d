#!/bin/sh
# package_test.sh deb BUILD_DIR_A BUILD_DIR_B: packages two release builds of the
# same source made in two directories, and checks that the two .deb files are
# byte-identical, that lintian finds no error and no warning in them, and that
# the packaged program runs.
# package_test.sh zip BUILD_DIR: checks that the .zip holds the program, its
# README and the licence.
set -eu
kind=$1
dir=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

if [ "$kind" = deb ]; then
  for tree in a b; do
    [ "$tree" = a ] || dir=$3
    cpack -G DEB -B "$out/$tree" --config "$dir/CPackConfig.cmake" >/dev/null
  done
  cmp "$out"/a/sorvel_*.deb "$out"/b/sorvel_*.deb || fail "two builds gave different packages"
  lintian --fail-on error,warning "$out"/a/sorvel_*.deb || fail "lintian rejects the package"
  dpkg-deb -x "$out"/a/sorvel_*.deb "$out/root"
  status=0
  usage=$("$out/root/usr/bin/sorvel") || status=$?
  [ "$status" = 1 ] && [ "$usage" = "Usage: sorvel file.txt [varname]" ] ||
    fail "packaged program answered '$usage' with status $status"
else
  (cd "$dir" && cpack -G ZIP -B "$out" >/dev/null)
  listing=$(cd "$out" && cmake -E tar tf sorvel-*-win64.zip)
  for f in sorvel.exe README.txt LICENSE.txt; do
    echo "$listing" | grep -qx "sorvel-[0-9.]*-win64/$f" || fail "no $f in the zip"
  done
fi
echo "package_test: $kind package is complete"
