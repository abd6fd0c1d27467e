#!/usr/bin/env bash
# Cost of the shim's sendto and recvfrom, and of its broadcast path, beside Wine's own
# wsock32, measured in one Wine process (ratios only carry over to Windows).
#
#   sudo bench/shim/shim_bench.sh [WIN32_BUILD_DIR] [--calls N] [--rounds R]
#
# Runs in a network namespace of its own (the benchmark binds 127.0.0.1:3668) through
# tools/wine-run.sh, in build/win32/wine/work/shim_bench. Stops by itself: R rounds of N
# calls per figure (default 2000 x 5, about a minute).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
win=$top/build/win32
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --calls|--rounds) args+=("$1" "$2"); shift 2 ;;
    *) win=$(cd "$1" && pwd); shift ;;
  esac
done
list=$win/bench/shim/shim_bench.files
[ -f "$list" ] || { echo "shim_bench: build the win32 configuration first (tools/build.sh win32)" >&2; exit 1; }
mapfile -t files < "$list"
for f in "${files[@]}"; do
  [ -f "$f" ] || { echo "shim_bench: $f is missing; build the win32 configuration" >&2; exit 1; }
done
work=$win/wine/work/shim_bench
exec "$top/tools/wine-run.sh" --root "$win/wine" --netns shimbench --addr 203.0.113.7/24 \
  --overrides "wsock32=n,b" --workdir "$work" \
  --copy "${files[0]}=shim_bench.exe" --copy "${files[1]}=orbws.dll" --copy "${files[2]}=SCRIBE.DLL" \
  -- "$work/shim_bench.exe" "${args[@]+"${args[@]}"}"
