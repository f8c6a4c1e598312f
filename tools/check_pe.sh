#!/bin/sh
# check_pe.sh OBJDUMP FILE gui|console|dll [EXPORT...]
# Passes when FILE is a PE32 i386 image of that subsystem exporting every EXPORT undecorated.
objdump="$1"; file="$2"; kind="$3"; shift 3
headers=$("$objdump" -p "$file") || { echo "cannot read $file"; exit 1; }
fail=0
echo "$headers" | grep -q "file format pei-i386" || { echo "not PE32 i386"; fail=1; }
echo "$headers" | grep -qE "^Magic[[:space:]]+010b" || { echo "not a PE32 optional header"; fail=1; }
case "$kind" in
  gui)     echo "$headers" | grep -qE "^Subsystem[[:space:]]+0+2[[:space:]]" || { echo "not GUI subsystem"; fail=1; } ;;
  console) echo "$headers" | grep -qE "^Subsystem[[:space:]]+0+3[[:space:]]" || { echo "not console subsystem"; fail=1; } ;;
  dll)     echo "$headers" | grep -qE "^[[:space:]]DLL$" || { echo "not a DLL"; fail=1; } ;;
esac
# The export name table lists "[ordinal] name" rows.
exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
for name in "$@"; do
  echo "$exports" | grep -qE "\] $name\$" || { echo "missing undecorated export $name"; fail=1; }
done
exit $fail
