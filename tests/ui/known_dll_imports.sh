#!/usr/bin/env bash
# Every executable we ship imports, at load time, only DLLs that Windows takes from System32
# whatever lies beside the executable: its known DLLs (the KnownDLLs list of Windows 10 and 11)
# and ntdll. Everything else is delay-loaded after the entry point has restricted the search.
#   known_dll_imports.sh OBJDUMP EXECUTABLE...
set -euo pipefail
objdump=$1
shift
declare -A known=()
for dll in advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf \
    msvcrt normaliz nsi ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 \
    wldap32 ws2_32; do
    known[$dll]=1
done

status=0
for executable in "$@"; do
    imports=$("$objdump" -p "$executable" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)\.dll$/\1/Ip' |
        tr '[:upper:]' '[:lower:]')
    if [ -z "$imports" ]; then
        echo "FAIL: no import table read from $executable"
        status=1
        continue
    fi
    echo "$executable imports:" $imports
    for dll in $imports; do
        if [ -z "${known[$dll]:-}" ]; then
            echo "FAIL: $executable imports $dll.dll, which Windows would look for beside it first"
            status=1
        fi
    done
done
[ $status -ne 0 ] || echo "PASS: only known DLLs are imported at load time"
exit $status
