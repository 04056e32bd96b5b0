#!/usr/bin/env bash
# Every shipped .exe imports system DLLs only (the C++ runtime is linked in); lampup.exe may
# also import the maker's two token libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
system='^(KERNEL32|USER32|GDI32|SHELL32|ADVAPI32|COMCTL32|COMDLG32|OLE32|OLEAUT32|SHLWAPI|VERSION|msvcrt|api-ms-win-.*)\.dll$'
status=0
for dir in build/win32 build/win64; do
  for exe in "$dir"/bin/logonagent.exe "$dir"/bin/lampup.exe; do
    [ -f "$exe" ] || continue
    allowed=$system
    case "$exe" in *lampup.exe) allowed="$system|^(XobComm|XOBAPI)\.dll\$" ;; esac
    while read -r dll; do
      if ! echo "$dll" | grep -qiE "$allowed"; then
        echo "check-imports: $exe imports $dll" >&2; status=1
      fi
    done < <(objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  done
done
[ $status -eq 0 ] && echo "check-imports: shipped programs import system DLLs only"
exit $status
