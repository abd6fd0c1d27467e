#!/usr/bin/env bash
# Installs what building and testing orblan need, from Debian's packages.
# Idempotent: when everything is present it only checks and returns quickly.
set -euo pipefail

native_pkgs=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
             clang libclang-rt-14-dev valgrind iproute2 nftables binutils)
win_pkgs=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
          binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine64 wine wine32:i386)

# One dpkg-query for all of them: it lists those installed; the rest are missing.
all=("${native_pkgs[@]}" "${win_pkgs[@]}")
# Each is printed plain and arch-qualified, so "cmake" and "wine32:i386" both match.
installed=" $(dpkg-query -W -f='${Package}=${db:Status-Status} ${Package}:${Architecture}=${db:Status-Status} ' \
  "${all[@]}" 2>/dev/null || true) "  # exits 1 when a package is unknown, as on a fresh machine
missing=()
for p in "${all[@]}"; do
  case "$installed" in *" $p=installed "*) ;; *) missing+=("$p") ;; esac
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
# Package lists are stale or absent on a fresh machine.
if [ $need_update -eq 1 ] || [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e lock -e partial)" ] \
   || ! apt-get install -s -qq "${missing[@]}" >/dev/null 2>&1; then
  # A mirror in the middle of a sync fails an index or two for a minute: try again, then go
  # on with the lists that did arrive (the install below says so if they are not enough).
  for try in 1 2 3 4 5 6; do
    apt-get update -qq && break
    [ $try -lt 6 ] || { echo "setup: apt-get update failed; installing from the lists it has" >&2; break; }
    sleep 30
  done
fi
install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
echo "setup: installing ${missing[*]}"
install && exit 0
# Without the index of the release's updates for one architecture, the i386 libraries Wine
# needs cannot match the versions of their amd64 twins; the release's own versions can.
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
[ -n "$codename" ] || exit 1
echo "setup: installing again with $codename's own package versions" >&2
install -t "$codename"
