#!/bin/sh
# check_untidy_tree.sh CONVERTER
#
# Converts the demo tree after making it untidy as a copied old tree can be:
# a note beside the recordings, a recording whose extension is upper case,
# and a data file cut to 50,000 bytes (its header intact). The note stays,
# the upper-case recording converts, the cut file is named as failed and
# the run exits 1.
set -u
convert=$1
"$convert" >/dev/null || { echo "the demo tree did not convert"; exit 1; }
day1=demo-data/ZERoza/cam01/20240315
day2=demo-data/ZERoza/cam02/20240315
echo note >"$day1/readme.txt"
mv "$day2/0001_20240315100200.nmd" "$day2/0001_20240315100200.NMD"
truncate -s 50000 "$day1/0001_20240315100200.nmd"

out=$("$convert" demo-data)
rc=$?
echo "$out"
fail() { echo "FAILED: $1"; exit 1; }
[ "$rc" -eq 1 ] || fail "exit code $rc, not 1"
[ "$(cat "$day1/readme.txt")" = note ] || fail "the note is gone"
[ -f "$day1/0001_20240315100200.nmd" ] || fail "the cut file is gone"
echo "$out" | grep -q '^- File Count = 6$' || fail "the upper-case recording was not counted"
echo "$out" | grep -q '^- Other files left alone = 1$' || fail "the note was not reported"
echo "$out" | grep -qF -- "- File failed, kept: $(pwd)/$day1/0001_20240315100200.nmd (file ends before its last chunk)" ||
    fail "the cut file was not named"
echo "$out" | grep -q '^Converted 5 of 6 files$' || fail "not every good file converted"
