#!/usr/bin/env bash
# Makes the 32-bit Wine prefix that every test, demo and benchmark prefix of a build tree is
# copied from, once: wine-template.sh ROOT  (the template is ROOT/template).
# Exit 0 ready, 1 Wine could not make it, 77 this machine cannot run 32-bit x86 programs.
set -euo pipefail
root=${1:?usage: wine-template.sh ROOT}
mkdir -p "$root"

# Wine's 32-bit half is 32-bit Linux code: a kernel whose IA-32 emulation is off refuses it
# (ENOEXEC), and every Windows program would fail the same way. Say so once, plainly.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "wine: this machine cannot run 32-bit x86 programs (its kernel's IA-32 emulation is" \
       "off), so Wine cannot run the Windows programs here" >&2
  exit 77
fi

template="$root/template"
(
  flock 9
  if [ ! -f "$template/.orb-ready" ]; then
    echo "wine: creating a Wine prefix (once per build tree, about half a minute)" >&2
    rm -rf "$template"
    WINEPREFIX="$template" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$template" wineserver -w || true
    [ -f "$template/system.reg" ] || { echo "wine: could not create a Wine prefix" >&2; exit 1; }
    touch "$template/.orb-ready"
  fi
) 9>"$root/.template.lock"
