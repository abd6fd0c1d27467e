#!/usr/bin/env bash
# The import-table check must fail on what a Windows machine would lack and on a shim that
# imports Winsock, and pass a clean file. A stand-in objdump prints each case's table.
set -u
checker=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/objdump" <<'FAKE'
#!/usr/bin/env bash
case "$(basename "$2")" in
  clean.dll)   printf '\tDLL Name: KERNEL32.dll\r\n\tDLL Name: msvcrt.dll\n' ;;
  runtime.dll) printf '\tDLL Name: KERNEL32.dll\n\tDLL Name: libstdc++-6.dll\n' ;;
  threads.exe) printf '\tDLL Name: libwinpthread-1.dll\n' ;;
  sock.dll)    printf '\tDLL Name: KERNEL32.dll\n\tDLL Name: WS2_32.dll\n' ;;
  wsock.dll)   printf '\tDLL Name: WSOCK32.dll\n' ;;
  broken.dll)  echo "objdump: broken.dll: file format not recognized" >&2; exit 1 ;;
esac
FAKE
chmod +x "$work/objdump"
for f in clean.dll runtime.dll threads.exe sock.dll wsock.dll broken.dll; do touch "$work/$f"; done
export OBJDUMP="$work/objdump"
fails=0
expect() {  # expect pass|fail WHAT ARGS...
  local want=$1 what=$2; shift 2
  local out rc
  out=$("$checker" "$@" 2>&1); rc=$?
  if { [ "$want" = pass ] && [ $rc -ne 0 ]; } || { [ "$want" = fail ] && [ $rc -eq 0 ]; }; then
    echo "WRONG: $what: expected $want, got rc=$rc"
    printf '%s\n' "$out"
    fails=$((fails + 1))
  fi
}
expect pass "system DLLs only" "$work/clean.dll"
expect pass "Winsock is a system DLL for others" "$work/sock.dll"
expect pass "the shim without Winsock" "$work/clean.dll:no-winsock"
expect fail "a runtime DLL" "$work/clean.dll" "$work/runtime.dll"
expect fail "winpthreads" "$work/threads.exe"
expect fail "the shim importing ws2_32" "$work/sock.dll:no-winsock"
expect fail "the shim importing wsock32" "$work/wsock.dll:no-winsock"
expect fail "a file objdump cannot read" "$work/broken.dll"
expect fail "a file not built" "$work/missing.dll"
expect fail "no files" 
out=$("$checker" "$work/runtime.dll" 2>&1)
case "$out" in
  *"FAIL runtime.dll imports libstdc++-6.dll"*) ;;
  *) echo "WRONG: the failure does not name the file and the import: $out"; fails=$((fails + 1)) ;;
esac
[ $fails -eq 0 ] && echo "check-imports: all cases behave" || exit 1
