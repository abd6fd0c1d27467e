#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests, in a prefix inside the build tree.
#
#   wine-run.sh --root DIR [--arch win32|win64] [--netns NAME --addr CIDR] [--workdir DIR] [--copy SRC=NAME]...
#               [--overrides STR] [--env K=V]... -- PROGRAM.exe [ARGS...]
#
# --root     where prefixes live (one template, created once, copied per network namespace)
# --arch     the Windows build's architecture (default win32); exit 77 where it cannot run
# --netns    run inside a fresh network namespace NAME (removed afterwards), with loopback up
#            and a veth pair whose first end has address CIDR and carries an on-link default
#            route, so 255.255.255.255 is routable. Both ends stay inside the namespace.
# --workdir  a directory made empty, filled with the --copy files, and used as working directory
# --copy     copy SRC into the working directory under NAME (e.g. orbws.dll=wsock32.dll)
# --overrides extra WINEDLLOVERRIDES entries, appended to "mscoree,mshtml="
set -euo pipefail

root="" netns="" addr="" workdir="" overrides="" copies=() envs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root=$2; shift 2 ;;
    --arch) export ORB_WINE_ARCH=$2; shift 2 ;;
    --netns) netns=$2; shift 2 ;;
    --addr) addr=$2; shift 2 ;;
    --workdir) workdir=$2; shift 2 ;;
    --copy) copies+=("$2"); shift 2 ;;
    --overrides) overrides=$2; shift 2 ;;
    --env) envs+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "wine-run: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -n "$root" ] && [ $# -ge 1 ] || { echo "usage: wine-run.sh --root DIR [...] -- PROGRAM [ARGS]" >&2; exit 2; }
mkdir -p "$root"
root=$(cd "$root" && pwd)

source "$(dirname "$0")/wine-env.sh"
base_overrides="mscoree,mshtml="
export WINEDLLOVERRIDES="$base_overrides${overrides:+;$overrides}"

template="$root/template"
bash "$(dirname "$0")/wine-template.sh" "$root"  # exits 77 (skipped) where Wine cannot run

if [ -n "$netns" ]; then
  prefix="$root/prefix-$netns"
  # Namespaces are machine-wide: several build trees may run the same test at once.
  netns="$netns-$(printf '%s' "$root" | md5sum | cut -c1-6)"
else
  prefix="$root/prefix-default"
fi
(
  flock 9
  if [ ! -f "$prefix/.orb-ready" ]; then
    rm -rf "$prefix"
    cp -a "$template" "$prefix"
  fi
) 9>"$root/.prefix.lock"
export WINEPREFIX="$prefix"

if [ -n "$workdir" ]; then
  rm -rf "$workdir"
  mkdir -p "$workdir"
  for c in "${copies[@]+"${copies[@]}"}"; do
    cp -f "${c%%=*}" "$workdir/${c#*=}"
  done
  cd "$workdir"
fi

run=(env "${envs[@]+"${envs[@]}"}" "$ORB_WINE" "$@")
if [ -z "$netns" ]; then
  exec "${run[@]}"
fi

[ "$(id -u)" -eq 0 ] || { echo "wine-run: network namespaces need root" >&2; exit 1; }
cleanup() {
  ip netns exec "$netns" env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  ip netns del "$netns" 2>/dev/null || true
}
ip netns del "$netns" 2>/dev/null || true
trap cleanup EXIT INT TERM
ip netns add "$netns"
ip -n "$netns" link set lo up
if [ -n "$addr" ]; then
  ip -n "$netns" link add orb0 type veth peer name orb1
  ip -n "$netns" addr add "$addr" dev orb0
  ip -n "$netns" link set orb1 up
  ip -n "$netns" link set orb0 up
  ip -n "$netns" route add default dev orb0
fi
set +e
ip netns exec "$netns" "${run[@]}"
rc=$?
exit $rc
