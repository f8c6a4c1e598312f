#!/bin/sh
# check_release_image.sh OBJDUMP FILE SOURCE_DIR BUILD_DIR
# Passes when FILE is a deliverable as it ships: no debug sections and no symbol table, a
# .gnu_debuglink through which objdump finds FILE.debug (name and checksum) with its debug
# information, the linker's hardening on (ASLR, DEP/NX; high-entropy ASLR on x86_64), and neither
# FILE nor its debug file naming the checkout or the build folder.
objdump="$1"; file="$2"; source_dir="$3"; build_dir="$4"
fail=0
sections=$("$objdump" -h "$file") || { echo "cannot read $file"; exit 1; }
if echo "$sections" | grep -qE '^ *[0-9]+ \.debug_'; then echo "debug sections left in $file"; fail=1; fi
echo "$sections" | grep -qE '^ *[0-9]+ \.gnu_debuglink ' || { echo "no .gnu_debuglink in $file"; fail=1; }
if "$objdump" -t "$file" | grep -q '^\['; then echo "symbol table left in $file"; fail=1; fi

# objdump follows the link only to a debug file of the right name whose checksum matches.
debug="$file.debug"
found=$("$objdump" --dwarf=follow-links --dwarf=info "$file" 2>&1 | grep -m 1 "loaded from")
case "$found" in
  *"loaded from $(basename "$debug"))"*|*"loaded from $debug)"*) ;;
  *) echo "objdump does not find $(basename "$debug") through the link: ${found:-no debug information}"; fail=1 ;;
esac
units=$("$objdump" --dwarf=follow-links --dwarf=info "$file" 2>/dev/null | grep -c DW_TAG_compile_unit)
[ "$units" -gt 0 ] || { echo "no compile units through the link"; fail=1; }

headers=$("$objdump" -p "$file")
for flag in DYNAMIC_BASE NX_COMPAT; do
  echo "$headers" | grep -qE "^[[:space:]]+$flag\$" || { echo "$flag is off"; fail=1; }
done
if echo "$headers" | grep -q "file format pei-x86-64"; then
  echo "$headers" | grep -qE "^[[:space:]]+HIGH_ENTROPY_VA\$" || { echo "HIGH_ENTROPY_VA is off"; fail=1; }
fi

for f in "$file" "$debug"; do
  for dir in "$source_dir" "$build_dir"; do
    if grep -qaF "$dir/" "$f"; then echo "$(basename "$f") names $dir"; fail=1; fi
  done
done
[ $fail -eq 0 ] && echo "$(basename "$file"): stripped, $units compile units in $(basename "$debug")"
exit $fail
