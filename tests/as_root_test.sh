#!/bin/sh
# as_root_test.sh PROGRAM: what only root can set up. A link that another user planted in a
# sticky, world-writable directory is not followed; a file in a directory that takes no new file
# (immutable, which binds root too) is written in place alone, and said to be cut short when that
# fails, but refused in a group; and a file system with no inode left keeps the old output.
# Skipped (status 77) where it cannot run.
set -eu
program=$1
[ "$(id -u)" = 0 ] || { echo "as_root_test: skipped: not run as root"; exit 77; }
dir=$(mktemp -d)
trap 'status=$?; chattr -i "$dir/fixed" 2>/dev/null; umount "$dir/full" 2>/dev/null; rm -rf "$dir"; exit $status' EXIT
cd "$dir"
fail() { echo "as_root_test: $*"; exit 1; }
expect() { # STATUS MESSAGE COMMAND...: the command's status and standard output
  want=$1 message=$2; shift 2
  status=0; got=$("$@") || status=$?
  [ "$status" = "$want" ] && [ "$got" = "$message" ] || fail "$* gave $status, '$got'"
}

printf abc >t.txt && "$program" t.txt t && mkdir sticky victim && echo secret >victim/v.txt
cp t.89t sticky/ && chmod 1777 sticky && ln -s ../victim/v.txt sticky/t.txt && chown -h nobody sticky/t.txt
(cd sticky && expect 5 "ERROR: unable to create t.txt" "$program" -x -F t.89t)
[ "$(cat victim/v.txt)" = secret ] || fail "the link was followed"

mkdir fixed && head -c 600 /dev/zero | tr '\0' a >a.txt && echo old >fixed/a.89t && echo old >fixed/a.txt && echo old >fixed/t.txt
"$program" -g ab.89g t.txt a.txt
if chattr +i fixed 2>/dev/null; then
  (cd fixed && expect 5 "ERROR: unable to create a temporary file beside a.txt" "$program" -x -F ../ab.89g)
  [ "$(cat fixed/a.txt fixed/t.txt)" = "$(printf 'old\nold')" ] || fail "a group written in place in part"
  (cd fixed && expect 0 "" "$program" ../a.txt a) && "$program" a.txt a && cmp -s a.89t fixed/a.89t || fail "a write in place that fits"
  # A file-size limit of 512 bytes fails the write.
  expect 5 "ERROR: unable to write fixed/a.89t; it is now cut short" sh -c "ulimit -f 1; exec '$program' a.txt fixed/a"
  chattr -i fixed
else
  echo "as_root_test: no immutable directory here: writes in place not tried"
fi

mkdir full
mount -t tmpfs -o size=1m,nr_inodes=3 tmpfs full || { echo "as_root_test: skipped: no tmpfs mount"; exit 77; }
echo old >full/t.89t && : >full/last
(cd full && expect 5 "ERROR: unable to write t.89t" "$program" ../t.txt t)
[ "$(cat full/t.89t)" = old ] || fail "the old file was not kept with no inode left"
echo "as_root_test: a planted link refused, the old file kept with no inode left"
