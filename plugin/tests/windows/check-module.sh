#!/usr/bin/env bash
# Reads the built 32-bit module with binutils: its format, its exports and the resources
# compiled into it (string table, settings dialog, manifest).
#   check-module.sh BrennicMeshImport.dli RESOURCES_FOLDER
set -uo pipefail
module=$1
resources=$2
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres

passed=0 failed=0
check() { # check WHAT COMMAND...
    if "${@:2}" >/dev/null 2>&1; then
        passed=$((passed + 1)); echo "ok $1"
    else
        failed=$((failed + 1)); echo "FAIL $1"
    fi
}
has() { grep -qxF -- "$1" <<<"$2"; } # has LINE TEXT: TEXT holds LINE exactly

headers=$($objdump -p "$module")
check "PE32 for i386" grep -q "file format pei-i386" <<<"$headers"
check "optional header magic 010b (PE32)" grep -qP "^Magic\s+010b\s+\(PE32\)" <<<"$headers"
check "export directory names the module BrennicMeshImport.dli" grep -qP "^Name\s+[0-9a-f]+ BrennicMeshImport\.dli$" <<<"$headers"
check "ordinal base 1" grep -qP "^Ordinal Base\s+1$" <<<"$headers"

# Names with their ordinals (table index + base 1), and the address table's ordinals.
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -nE 's/^\s*\[\s*([0-9]+)\] (\S+)$/\2 \1/p' |
        awk '{print $1, $2 + 1}' | sort)
check "exports by name and ordinal" test "$names" = "$(printf '%s\n' 'LibClassDesc 3' 'LibDescription 1' 'LibInitialize 6' \
    'LibNumberClasses 2' 'LibShutdown 7' 'LibVersion 4')"
addresses=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" | sed -nE 's/.*\+base\[\s*([0-9]+)\].*/\1/p' | xargs)
check "ordinals 1 to 4, 6 and 7; 5 unassigned" test "$addresses" = "1 2 3 4 6 7"

rc=$($windres -i "$module" -O rc 2>/dev/null)
dialog=$(sed -n '/^101 DIALOGEX/,/^END/p' <<<"$rc")
check "dialog 101 in English (United States)" grep -qx "LANGUAGE 9, 1" <<<"$(sed -n '/Name: 101\./,/^101 DIALOGEX/p' <<<"$rc")"
check "dialog at 0, 0, 131 x 156 dialog units" has "101 DIALOGEX 0, 0, 131, 156" "$dialog"
check "dialog style 0x90C800C0" has "STYLE 0x90c800c0" "$dialog"
check "dialog extended style WS_EX_TOOLWINDOW" has "EXSTYLE 0x80" "$dialog"
check "dialog caption" has 'CAPTION "Brennic Models Importer"' "$dialog"
# windres leaves out weight 0, not italic and DEFAULT_CHARSET; a help id, menu or class would show.
check "dialog font MS Sans Serif 8, weight 0, upright, DEFAULT_CHARSET" has 'FONT 8, "MS Sans Serif"' "$dialog"
check "dialog has no menu or class" test -z "$(grep -E '^(MENU|CLASS)|HELP' <<<"$dialog")"
# windres prints a control of a predefined class (by number) with the keyword of its kind.
controls=$(sed -n '/^BEGIN/,/^END/p' <<<"$dialog" | grep -vE '^(BEGIN|END)' | sed -E 's/^\s+//')
check "four controls" test "$(wc -l <<<"$controls")" -eq 4
check "warning text: static, no id, visible child" grep -qE '^LTEXT ".+", -1, [0-9]+, [0-9]+, [0-9]+, [0-9]+, 0x50000000$' <<<"$(sed -n 1p <<<"$controls")"
check "group box" test "$(sed -n 2p <<<"$controls")" = 'GROUPBOX "Import settings", -1, 7, 49, 117, 78, 0x50000007'
check "Include lods checkbox" test "$(sed -n 3p <<<"$controls")" = 'AUTOCHECKBOX "Include lods", 1001, 8, 70, 116, 10, 0x50010003'
check "Lets GO ! push button" test "$(sed -n 4p <<<"$controls")" = 'PUSHBUTTON "Lets GO !", 1002, 7, 135, 117, 14, 0x50010000'

# Predefined classes by number: 0xFFFF then 0x0080 (button) or 0x0082 (static), little-endian.
resource_bytes=$($objdump -s -j .rsrc "$module" | sed -nE 's/^ [0-9a-f]+ ((([0-9a-f]{2}){1,4} ){1,4}).*/\1/p' | tr -d ' \n')
check "three button controls by class number" test "$(grep -o 'ffff8000' <<<"$resource_bytes" | wc -l)" -eq 3
check "one static control by class number" test "$(grep -o 'ffff8200' <<<"$resource_bytes" | wc -l)" -eq 1
check "no class given by name" test -z "$(grep -io '42005500540054004f004e00' <<<"$resource_bytes")"

# The string table holds exactly the texts of StringTable.inc, ids resolved through resource.h.
expected=$(sed -nE 's/^STRING_RESOURCE\((\w+), (".*")\)$/\1 \2/p' "$resources/StringTable.inc" | while read -r name text; do
    echo "  $(sed -nE "s/^#define $name ([0-9]+)$/\1/p" "$resources/resource.h"), $text"
done)
strings=$(sed -n '/^STRINGTABLE/,/^END/p' <<<"$rc" | grep -E '^  [0-9]+, ')
check "string table ids 1 to 5 as written" test "$strings" = "$expected"
check "string 3 is MeshImport" has '  3, "MeshImport"' "$strings"

manifest=$(sed -n '/^2 24/,/^END/p' <<<"$rc")
check "manifest as resource type 24, id 2" test -n "$manifest"
check "manifest requests asInvoker without UI access" grep -q 'requestedExecutionLevel level=""asInvoker"" uiAccess=""false""' <<<"$manifest"
check "every resource in English (United States)" test "$(grep -c '^LANGUAGE' <<<"$rc")" -eq "$(grep -c '^LANGUAGE 9, 1$' <<<"$rc")"

echo "$passed passed, $failed failed"
((failed == 0))
