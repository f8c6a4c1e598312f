#!/bin/sh
# check_lazy_statics.sh TOOL_PREFIX IMAGE NAME OBJECT_LIST
# Fails when a function defined in the objects OBJECT_LIST names, one a line (our own code, as
# linked into IMAGE), calls the C++ runtime's thread-safe guard (__cxa_guard_acquire): a guarded
# local static, whose first use allocates inside the threading library and crashes the process
# when that allocation fails. The runtime's own callers are not ours to mend. The code
# is read from IMAGE; the symbols from IMAGE, or from IMAGE.debug beside it when IMAGE is
# stripped. NAME is the deliverable's name in the report.
prefix="$1"; image="$2"; name="$3"; object_list="$4"
symbols="$image"
if ! "${prefix}nm" "$image" 2>/dev/null | grep -q .; then
  debug="${image%.*}.debug"
  [ -f "$debug" ] || debug="$image.debug"
  [ -f "$debug" ] || { echo "$name: $image has no symbols and no .debug file beside it"; exit 1; }
  symbols="$debug"
fi
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# Every function symbol of the image by address, and the names our objects define.
"${prefix}nm" -n --defined-only "$symbols" | awk '$2 ~ /^[tT]$/ { print $1, $3 }' >"$tmp/functions" || exit 1
tr '\n' '\0' <"$object_list" | xargs -0 "${prefix}nm" --defined-only 2>/dev/null | awk 'NF == 3 && $2 ~ /^[tT]$/ { print $3 }' | sort -u >"$tmp/ours"
[ -s "$tmp/ours" ] || { echo "$name: no functions found in its objects"; exit 1; }
guard=$(awk '$2 == "__cxa_guard_acquire" || $2 == "___cxa_guard_acquire" { print $1; exit }' "$tmp/functions")
[ -n "$guard" ] || { echo "$name: no function calls __cxa_guard_acquire"; exit 0; }

# Call sites whose target is the guard, each named by the function that holds it.
"${prefix}objdump" -d --no-show-raw-insn "$image" |
  awk -v guard="$guard" '
    $2 ~ /^(call|jmp)/ {
      target = $3; sub(/^0x/, "", target); sub(/^0+/, "", target)
      g = guard; sub(/^0+/, "", g)
      if (target == g) { site = $1; sub(/:$/, "", site); print site }
    }' >"$tmp/sites"
[ -s "$tmp/sites" ] || { echo "$name: no function calls __cxa_guard_acquire"; exit 0; }

# Holder of a site: the function with the greatest address not above it.
awk 'NR == FNR { address[NR] = $1; symbol[NR] = $2; count = NR; next }
     {
       site = sprintf("%16s", $1); gsub(/ /, "0", site); holder = ""
       for (i = 1; i <= count; ++i) {
         a = sprintf("%16s", address[i]); gsub(/ /, "0", a)
         if (a <= site) holder = symbol[i]; else break
       }
       print holder
     }' "$tmp/functions" "$tmp/sites" | sort -u >"$tmp/holders"
fail=0
for holder in $(comm -12 "$tmp/holders" "$tmp/ours"); do
  echo "$name: $(echo "$holder" | "${prefix}c++filt" 2>/dev/null || echo "$holder") calls __cxa_guard_acquire (a guarded local static)"
  fail=1
done
[ $fail -eq 0 ] && echo "$name: only the runtime's own functions call __cxa_guard_acquire"
exit $fail
