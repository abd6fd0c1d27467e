#!/usr/bin/env bash
# Makes the Wine prefix that every test, demo and benchmark prefix of a build tree is copied
# from, once: wine-template.sh ROOT  (the template is ROOT/template; ORB_WINE_ARCH as in
# wine-env.sh). Exit 0 ready, 1 Wine could not make it, 77 this machine cannot run that Wine.
set -euo pipefail
root=${1:?usage: wine-template.sh ROOT}
source "$(dirname "$0")/wine-env.sh"
mkdir -p "$root"

if why=$(wine_cannot_run); then
  echo "wine: $why" >&2
  exit 77
fi

template="$root/template"
(
  flock 9
  if [ ! -f "$template/.orb-ready" ]; then
    echo "wine: creating a $WINEARCH Wine prefix (once per build tree, about half a minute)" >&2
    rm -rf "$template"
    WINEPREFIX="$template" WINEDLLOVERRIDES="mscoree,mshtml=" "$ORB_WINE" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$template" wineserver -w || true
    [ -f "$template/system.reg" ] || { echo "wine: could not create a Wine prefix" >&2; exit 1; }
    touch "$template/.orb-ready"
  fi
) 9>"$root/.template.lock"
