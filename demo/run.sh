#!/usr/bin/env bash
# The orblan demo: a group server and two players on one machine, each player's LAN game
# finding the other's across the server, over UDP and over IPX. See demo/README.md.
#
#   sudo bash demo/run.sh [--duration SECONDS] [--home] [--rebuild]
#
# --home puts each player behind a home router that forwards nothing (demo/netlab.sh).
# Needs root (network namespaces). Runs without a terminal, ends by itself after the
# duration, and removes its namespaces and processes on every exit, Ctrl+C included.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=netlab.sh
source "$top/demo/netlab.sh"

duration=15
rebuild=0
lab=flat
while [ $# -gt 0 ]; do
  case "$1" in
    --duration) duration=${2:-}; shift 2 ;;
    --rebuild) rebuild=1; shift ;;
    --home) lab=home; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done
case "$duration" in ''|*[!0-9]*) echo "demo: --duration takes whole seconds" >&2; exit 2 ;; esac
[ "$duration" -ge 5 ] && [ "$duration" -le 600 ] || { echo "demo: --duration takes 5 to 600 seconds" >&2; exit 2; }

lab_need_root demo
native=$top/build/native

# Install what is missing (quick when nothing is), then build what is missing (both builds
# are incremental; --rebuild runs them anyway).
bash "$top/tools/setup.sh"
# Players run 32-bit Windows programs; a machine that cannot run them plays the 64-bit build.
win_config=win32
if why=$(ORB_WINE_ARCH=win32; source "$top/tools/wine-env.sh"; wine_cannot_run); then
  echo "demo: $why; the players run the 64-bit Windows build instead"
  win_config=win64
fi
win=$top/build/$win_config
env_file=$win/orblan-lab.env
if [ $rebuild -eq 1 ] || [ ! -x "$native/server/orbserver" ]; then
  echo "demo: building the native configuration (orbserver)"
  "$top/tools/build.sh" native
fi
if [ $rebuild -eq 1 ] || [ ! -f "$env_file" ]; then
  echo "demo: building the Windows configuration (orblaunch, orblan, orbws, netquest)"
  "$top/tools/build.sh" "$win_config"
fi
[ -f "$env_file" ] || { echo "demo: $env_file is missing: the Windows build lacks orblan, orbws or SCRIBE.DLL" >&2; exit 1; }
# shellcheck disable=SC1090
source "$env_file"

run=$win/lab/demo
rm -rf "$run"
mkdir -p "$run"
cleanup() {
  trap '' PIPE  # the reader may be gone: cleaning up matters more than telling
  trap - EXIT INT TERM HUP
  lab_down
  echo "demo: hosts removed" 2>/dev/null || true
}
# Ctrl+C: as a console would, hand it to each launcher and game, give them a few seconds
# to end their sessions (the shims leave the game directories), then remove the hosts.
on_interrupt() {
  trap '' INT TERM HUP
  echo "demo: interrupted: ending both sessions"
  local h pid end=$(( $(date +%s) + 10 ))
  for h in a b; do
    for pid in $(lab_program_pids $h orblaunch.exe) $(lab_program_pids $h netquest.exe); do
      kill -INT "$pid" 2>/dev/null || true
    done
  done
  for pid in ${alice_pid:-} ${bob_pid:-}; do
    while kill -0 "$pid" 2>/dev/null && [ "$(date +%s)" -lt "$end" ]; do sleep 0.2; done
  done
  exit 130
}
trap cleanup EXIT
trap on_interrupt INT TERM HUP
trap 'exit 141' PIPE

lab_wine_setup "$win/wine" || { echo "demo: the players need Wine, which cannot run here (above)" >&2; exit 1; }
lab_up "orbdemo$$" "$lab"
echo "demo: hosts ready: server $LAB_SERVER_ADDR ($LAB_SERVER_NAME), alice $LAB_A_ADDR, bob $LAB_B_ADDR"
[ "$lab" = home ] && echo "demo: each behind a home router that forwards nothing: alice's is $LAB_A_PUBLIC, bob's $LAB_B_PUBLIC"
echo "demo: a broadcast of one player's machine does not reach the other: only orblan carries it"

lab_bg srv "$run/server.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0
server_pid=$LAB_LAST_PID
tail -n +1 -f "$run/server.log" --pid "$server_pid" 2>/dev/null | sed -u 's/^/[server] /' &

start_player() {  # HOST NAME
  local host=$1 name=$2 dir=$run/$2
  lab_stage_player "$dir"
  : > "$dir/console.log"
  # orblaunch lies with orblan.dll and orbws.dll; the game in a directory of its own, where
  # orblan places the shim for the session.
  lab_wine "$host" SCRIBE_LOGDIR="$(lab_winpath "$dir/trace")" SCRIBE_LEVEL=2000 -- \
    "$dir/orblan/orblaunch.exe" --server "$LAB_SERVER_NAME" --group demo \
    "$(lab_winpath "$dir/game/netquest.exe")" --name "$name" --machine --duration "$duration" \
    --interval 1000 --expect 1 > "$dir/console.log" 2>&1 &
  lab_track $!
  eval "${name}_pid=$LAB_LAST_PID"
  # Live: orblaunch's messages and the game's events; the transport's own trace lines stay
  # in the console log.
  tail -n +1 -f "$dir/console.log" --pid "$LAB_LAST_PID" 2>/dev/null |
    sed -u -n "/^orblaunch: \|^NQ /s/^/[$name] /p" &
}
sleep 1
start_player a alice
start_player b bob

# The players end by themselves after the duration; the watchdog only guards a hang.
deadline=$(( $(date +%s) + duration + 60 ))
status=0
for who in alice bob; do
  pid_var=${who}_pid
  while kill -0 "${!pid_var}" 2>/dev/null; do
    if [ "$(date +%s)" -ge "$deadline" ]; then echo "demo: $who did not end in time"; status=1; break; fi
    sleep 0.5
  done
  wait "${!pid_var}" 2>/dev/null && rc=0 || rc=$?
  eval "${who}_rc=$rc"
done
sleep 0.3

# What each game saw, in a few lines.
echo
echo "demo: what the games saw"
summary() {  # NAME OTHER OTHER_ADDR
  local log=$run/$1/console.log
  local ipx_node
  ipx_node=$(printf '0000%02X%02X%02X%02X' ${3//./ })
  local udp_from="$3:26900" ipx_from="00000000:$ipx_node:4E51"
  for t in udp ipx; do
    local from=$udp_from
    [ $t = ipx ] && from=$ipx_from
    if grep -q "^NQ peer transport=$t from=$from name=$2" "$log"; then
      echo "  $1 found $2 over $t at $from, as if on one LAN"
    else
      echo "  $1 did NOT find $2 over $t"; status=1
    fi
    if grep -q "^NQ reply transport=$t from=$from name=$2" "$log"; then
      echo "  $1 got $2's direct $t replies from $from"
    else
      echo "  $1 got NO direct $t reply from $2"; status=1
    fi
  done
  if grep -q "OVER VIRTUAL LAN" "$run/$1/trace/"*.log 2>/dev/null; then
    echo "  $1's shim trace shows the broadcasts handed to orblan ($(ls "$run/$1/trace" | head -1))"
  fi
  [ -e "$run/$1/game/wsock32.dll" ] && { echo "  the shim was NOT removed from $1's game directory"; status=1; }
  return 0
}
summary alice bob "$LAB_B_PUBLIC"
summary bob alice "$LAB_A_PUBLIC"
echo "  launchers exited with $alice_rc (alice) and $bob_rc (bob)"
[ "$alice_rc" -eq 0 ] && [ "$bob_rc" -eq 0 ] || status=1
echo "demo: logs are in $run"
if [ $status -eq 0 ]; then echo "demo: success: the two LAN games found each other through orblan"; fi
exit $status
