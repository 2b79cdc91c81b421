#!/usr/bin/env bash
# Checks the resources linked into fwupgrade.exe, as windres decompiles them:
# the dialog template and icon group exactly as in expected-resources.rc, and
# the icon's image exactly programs/win32/fwupgrade.ico, which make_icon.py must
# reproduce byte for byte.
#   check-resources.sh EXE WINDRES LABEL   (results appended to $FWUP_RESULTS)
set -uo pipefail
cd "$(dirname "$0")/../.."
exe=$1
windres=$2
label=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

record() { echo "$1 $2" >>"$FWUP_RESULTS"; echo "  $1 $2"; }

# The icon's data words, one per line, from a decompiled resource script.
icon_words() { sed -n '/RT_ICON \*\//,/^END/p' "$1" | grep -o '0x[0-9a-fA-F]*L'; }

if ! "$windres" -J coff -i "$exe" -O rc >"$scratch/linked.rc" 2>"$scratch/err"; then
  record FAIL "resources-$label: windres cannot read $exe: $(cat "$scratch/err")"
  exit 0
fi

sed '/RT_ICON \*\//,/^END/{/^  0x/d}' "$scratch/linked.rc" >"$scratch/shape.rc"
grep -v '^#' tests/wine/expected-resources.rc >"$scratch/expected.rc"
if diff -u "$scratch/expected.rc" "$scratch/shape.rc" >"$scratch/diff"; then
  record PASS "resources-$label: dialog 101 and icon group 102 exactly as expected-resources.rc, nothing else"
else
  record FAIL "resources-$label: the linked resources differ"
  sed 's/^/    /' "$scratch/diff"
fi

# The same icon file compiled on its own gives the reference words.
printf '1 ICON "%s"\n' "$PWD/programs/win32/fwupgrade.ico" >"$scratch/icon.rc"
if "$windres" -J rc -O coff -i "$scratch/icon.rc" -o "$scratch/icon.o" &&
  "$windres" -J coff -i "$scratch/icon.o" -O rc >"$scratch/icon-only.rc" &&
  [ -n "$(icon_words "$scratch/icon-only.rc")" ] &&
  [ "$(icon_words "$scratch/linked.rc")" = "$(icon_words "$scratch/icon-only.rc")" ]; then
  record PASS "resources-$label: the icon's image is programs/win32/fwupgrade.ico"
else
  record FAIL "resources-$label: the icon's image is not programs/win32/fwupgrade.ico"
fi

# Only once per run: the committed icon is what its script makes.
if [ "$label" = win64 ]; then
  if python3 programs/win32/make_icon.py "$scratch/made.ico" && cmp -s "$scratch/made.ico" programs/win32/fwupgrade.ico; then
    record PASS "icon: programs/win32/make_icon.py reproduces fwupgrade.ico"
  else
    record FAIL "icon: programs/win32/make_icon.py does not reproduce fwupgrade.ico"
  fi
fi
