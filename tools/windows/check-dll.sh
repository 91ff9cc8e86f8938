#!/usr/bin/env bash
# The DLL's binary contract, read from its PE headers:
#   - it exports exactly the four entry points a COM server has;
#   - it imports only system DLLs (SQLite and the runtimes are linked in);
#   - it carries its type library as resource TYPELIB 1.
#
#   tools/windows/check-dll.sh OBJDUMP Brellin.dll
set -euo pipefail

objdump=$1
dll=$2
headers=$("$objdump" -p "$dll")

fail() {
    echo "FAILED: $dll: $*" >&2
    exit 1
}

exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' | sort | tr '\n' ' ')
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] ||
    fail "exports are '$exports'"

imports=$(echo "$headers" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
for import in $imports; do
    case "$import" in
        ADVAPI32.DLL | KERNEL32.DLL | MSVCRT.DLL | OLE32.DLL | OLEAUT32.DLL | USER32.DLL) ;;
        *) fail "imports $import, which is not a system DLL" ;;
    esac
done

echo "$headers" | sed -n '/The .rsrc Resource Directory section/,$p' | grep -A2 ': TYPELIB,' |
    grep -q 'Entry: ID: 0x000001,' || fail "no type library resource (TYPELIB 1)"

echo "$dll: exports $exports; imports $imports; type library resource 1"
