#!/usr/bin/env bash
# Checks the import tables of built Windows binaries: each may import only Windows system
# DLLs (the C and C++ runtimes are linked in statically), and a file marked :no-winsock (the
# shim, which loads the real Winsock at run time) may not import Winsock at all.
#
#   check-imports.sh FILE[:no-winsock] ...
#
# OBJDUMP overrides the objdump used (default i686-w64-mingw32-objdump).
set -uo pipefail
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

# Lower-case names of the DLLs that every Windows installation has.
system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  comctl32.dll comdlg32.dll msvcrt.dll ntdll.dll ws2_32.dll wsock32.dll mswsock.dll shlwapi.dll
  version.dll winmm.dll iphlpapi.dll secur32.dll crypt32.dll rpcrt4.dll userenv.dll dnsapi.dll
  imm32.dll psapi.dll dbghelp.dll setupapi.dll mpr.dll netapi32.dll uxtheme.dll "
winsock_dlls=" wsock32.dll ws2_32.dll mswsock.dll "

[ $# -gt 0 ] || { echo "check-imports: no files given" >&2; exit 2; }
failed=0 checked=0
for arg in "$@"; do
  file=${arg%:no-winsock}
  no_winsock=0
  [ "$file" != "$arg" ] && no_winsock=1
  name=$(basename "$file")
  if [ ! -f "$file" ]; then
    echo "FAIL $name: not built ($file)"
    failed=1
    continue
  fi
  if ! out=$("$objdump" -p "$file" 2>&1); then
    echo "FAIL $name: $objdump could not read it: $(printf '%s' "$out" | head -n 1)"
    failed=1
    continue
  fi
  imports=$(printf '%s\n' "$out" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr -d '\r')
  bad=()
  for dll in $imports; do
    lower=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    case "$system_dlls" in
      *" $lower "*) ;;
      *) bad+=("$dll (not a Windows system DLL)") ;;
    esac
    if [ $no_winsock -eq 1 ]; then
      case "$winsock_dlls" in
        *" $lower "*) bad+=("$dll (this file must load Winsock at run time, not import it)") ;;
      esac
    fi
  done
  checked=$((checked + 1))
  if [ ${#bad[@]} -gt 0 ]; then
    failed=1
    for b in "${bad[@]}"; do echo "FAIL $name imports $b"; done
  else
    echo "ok   $name: $(printf '%s ' $imports)"
  fi
done
if [ $failed -ne 0 ]; then
  echo "check-imports: some binaries import what a Windows machine may not have (see FAIL lines)"
  exit 1
fi
echo "check-imports: $checked binaries import only Windows system DLLs"
