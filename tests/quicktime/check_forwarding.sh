#!/bin/sh
# check_forwarding.sh OBJDUMP LIST FILE PREFIX
# The 32-bit forwarding entries as built: every entry of LIST whose symbol starts with PREFIX
# must, in FILE, compare the hook slot with 0, move its own routine code into EAX and then jump
# indirectly through the dispatcher slot; all entries use the same two slots, the hook slot 12
# bytes after the dispatcher slot (dispatcher, two more entry slots, then the hook).
objdump="$1"; list="$2"; file="$3"; prefix="$4"
"$objdump" -d -M intel --no-show-raw-insn "$file" > "$file.entries.txt" || { echo "cannot disassemble $file"; exit 1; }
tr ';' '\n' < "$list" | awk -v prefix="$prefix" '
  NF == 2 && index($1, prefix) == 1 { code = tolower($2); sub(/^0x0*/, "0x", code); print "_" $1, code }
' > "$file.expected.txt"
[ -s "$file.expected.txt" ] || { echo "no entries for $prefix in $list"; exit 1; }
awk '
  function hex(text,    value, i) {
    value = 0
    for (i = 3; i <= length(text); i++) value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
    return value
  }
  FNR == NR { code[$1] = $2; count++; next }
  /^[0-9a-f]+ <.*>:$/ {
    name = $2; sub(/^</, "", name); sub(/>:$/, "", name)
    current = (name in code) ? name : ""
    step = 0
    next
  }
  current != "" && step == 0 && /cmp +DWORD PTR ds:0x[0-9a-f]+,0x0$/ {
    hook[current] = $NF; sub(/,0x0$/, "", hook[current]); sub(/.*ds:/, "", hook[current]); step = 1; next
  }
  current != "" && step == 2 && /mov +eax,0x[0-9a-f]+$/ {
    value = $NF; sub(/^eax,/, "", value); moved[current] = value; step = 3; next
  }
  current != "" && step == 1 && /jne / { step = 2; next }
  current != "" && step == 3 && /jmp +DWORD PTR ds:0x[0-9a-f]+$/ {
    target = $NF; sub(/.*ds:/, "", target); jumped[current] = target; current = ""; next
  }
  END {
    fail = 0
    for (name in code) {
      if (!(name in jumped)) { print name ": no hook test, mov of its code into EAX and indirect jump"; fail = 1; continue }
      if (moved[name] != code[name]) { print name ": moves " moved[name] " into EAX, not " code[name]; fail = 1 }
      if (slot == "") { slot = jumped[name]; hookSlot = hook[name] }
      if (jumped[name] != slot) { print name ": jumps through " jumped[name] ", not " slot; fail = 1 }
      if (hook[name] != hookSlot) { print name ": tests " hook[name] ", not " hookSlot; fail = 1 }
      checked++
    }
    if (hex(hookSlot) != hex(slot) + 12) { print "hook slot " hookSlot " is not 12 bytes after " slot; fail = 1 }
    if (!fail) print checked " entries checked"
    exit fail
  }
' "$file.expected.txt" "$file.entries.txt"
