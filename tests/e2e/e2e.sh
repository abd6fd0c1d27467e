#!/usr/bin/env bash
# End-to-end test of orblan: a group server and two players on network namespaces (see
# demo/netlab.sh), each player's NetQuest started by orblaunch under Wine. Checks the whole
# road of a broadcast, the direct replies, the launcher's failures and its clean end, and
# that the hosts cannot find each other without orblan.
#
#   e2e.sh WIN32_BUILD_DIR      (reads WIN32_BUILD_DIR/orblan-lab.env, written by CMake)
#
# Exit 0 all passed, 1 a check failed, 77 skipped (not root, or no orbserver to be had).
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
win=$(cd "${1:?usage: e2e.sh WIN32_BUILD_DIR}" && pwd)
# shellcheck source=../../demo/netlab.sh
source "$top/demo/netlab.sh"
source "$win/orblan-lab.env"

if [ "$(id -u)" -ne 0 ]; then
  echo "e2e: skipped: needs root for its network namespaces"
  exit 77
fi
if [ ! -x "$ORB_ORBSERVER" ]; then
  echo "e2e: $ORB_ORBSERVER is missing; building it"
  if [ -f "$top/build/native/CMakeCache.txt" ]; then
    cmake --build "$top/build/native" --target orbserver -j "${ORB_JOBS:-2}" > /dev/null 2>&1
  else
    "$top/tools/build.sh" native > /dev/null 2>&1
  fi
  [ -x "$ORB_ORBSERVER" ] || { echo "e2e: skipped: no orbserver at $ORB_ORBSERVER and it could not be built"; exit 77; }
fi

status=0
check() {  # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; status=1; fi
}
has() { grep -qF -- "$2" "$1"; }
count() { grep -cF -- "$2" "$1" || true; }

run=$win/lab/e2e
rm -rf "$run"
mkdir -p "$run"
trap 'lab_down' EXIT
trap 'exit 130' INT TERM HUP PIPE
lab_wine_setup "$win/wine" || exit 1
lab_up "orbe2e$$"
server_addr="$LAB_SERVER_NAME:3669"
nq_from_a_udp="$LAB_A_ADDR:26900"   nq_from_a_ipx="00000000:0000CB00710B:4E51"
nq_from_b_udp="$LAB_B_ADDR:26900"   nq_from_b_ipx="00000000:0000CB00710C:4E51"

# wait_for SECONDS FILE TEXT: true once TEXT shows in FILE.
wait_for() {
  local end=$(( $(date +%s) + $1 ))
  while [ "$(date +%s)" -lt "$end" ]; do
    grep -qF -- "$3" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}
# launch HOST NAME [--wait] LAUNCHER_ARGS... : orblaunch in the background, console in
# $run/NAME/console.log; pid in launched_pid.
launch() {
  local host=$1 name=$2
  shift 2
  lab_stage_player "$run/$name"
  lab_wine "$host" SCRIBE_LOGDIR="$(lab_winpath "$run/$name/trace")" SCRIBE_LEVEL=2000 -- \
    "$run/$name/orblan/orblaunch.exe" "$@" > "$run/$name/console.log" 2>&1 &
  lab_track $!
  launched_pid=$!
}
game_of() { lab_winpath "$run/$1/game/netquest.exe"; }

echo "# hosts up: server $LAB_SERVER_ADDR, a $LAB_A_ADDR, b $LAB_B_ADDR"
lab_bg srv "$run/server.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0
server_pid=$LAB_LAST_PID

# --- Without orblan the two hosts share no LAN, and the launcher's failures -------------
lab_stage_player "$run/alone-a"
lab_stage_player "$run/alone-b"
for h in a b; do
  lab_wine "$h" -- "$(game_of "alone-$h")" --name "alone-$h" --machine --transport udp --duration 3 \
    --interval 300 --expect 1 > "$run/alone-$h/console.log" 2>&1 &
  lab_track $!
  eval "alone_$h=\$!"
done
launch a unknown --server nosuch.lab --group g "$(game_of unknown)"
p_unknown=$launched_pid
launch a silent --server "$LAB_SERVER_ADDR:3999" --wait 2 --group g "$(game_of silent)"
p_silent=$launched_pid
launch a nogame --server "$server_addr" --group g "$(lab_winpath "$run/nogame/game/missing.exe")"
p_nogame=$launched_pid
lab_stage_player "$run/noshim"
rm -f "$run/noshim/orblan/orbws.dll"
lab_wine a -- "$run/noshim/orblan/orblaunch.exe" --server "$server_addr" --group g \
  "$(game_of noshim)" > "$run/noshim/console.log" 2>&1 &
lab_track $!
p_noshim=$!

wait "$alone_a"; rc=$?; wait "$alone_b"; rc_b=$?
check "without orblan, a broadcast of one host does not reach the other (games exit 3: $rc, $rc_b)" \
  test "$rc" = 3 -a "$rc_b" = 3 -a "$(count "$run/alone-a/console.log" 'NQ peer')" = 0
check "without orblan, a game hears its own broadcast (the LAN works)" has "$run/alone-a/console.log" "NQ echo transport=udp"
wait "$p_unknown"; rc=$?
check "unknown server name: exit 4 and says so (exit $rc)" test "$rc" = 4
check "unknown server name: message" has "$run/unknown/console.log" "orblaunch: cannot find the server 'nosuch.lab'"
wait "$p_silent"; rc=$?
check "server that does not answer: exit 6 after --wait (exit $rc)" test "$rc" = 6
check "server that does not answer: message" has "$run/silent/console.log" "did not answer within 2 seconds"
check "server that does not answer: no shim placed" test ! -e "$run/silent/game/wsock32.dll"
wait "$p_nogame"; rc=$?
check "missing game: exit 8 (exit $rc)" test "$rc" = 8
check "missing game: message" has "$run/nogame/console.log" "orblaunch: cannot find the game"
wait "$p_noshim"; rc=$?
check "no orbws.dll beside orblan.dll: exit 7 (exit $rc)" test "$rc" = 7
check "no orbws.dll beside orblan.dll: message" has "$run/noshim/console.log" "could not place the Winsock shim wsock32.dll"

# --- Two players in one group --------------------------------------------------------
# Alice plays as many server-and-client games do: her game's port listens on a socket bound
# to her own address and never broadcasts, and she asks from a port the system picks, where
# the answers must come back. Bob plays the classic way: one socket on every address.
launch a alice --server "$server_addr" --group e2e "$(game_of alice)" --name alice --machine \
  --duration 60 --interval 400 --expect 1 --bind-own-address --ask-from-ephemeral
p_alice=$launched_pid
launch b bob --server "$server_addr" --group e2e "$(game_of bob)" --name bob --machine \
  --duration 60 --interval 400 --expect 1 --exit-code 5
p_bob=$launched_pid
A=$run/alice/console.log B=$run/bob/console.log
wait_for 40 "$A" "NQ ask transport=ipx"
ask_a_udp=$(tr -d '\r' < "$A" | sed -n 's/^NQ ask transport=udp address=\([^ ]*\).*/\1/p')
ask_a_ipx=$(tr -d '\r' < "$A" | sed -n 's/^NQ ask transport=ipx address=\([^ ]*\).*/\1/p')

for want in "$A|NQ reply transport=udp from=$nq_from_b_udp name=bob" \
            "$A|NQ reply transport=ipx from=$nq_from_b_ipx name=bob" \
            "$B|NQ reply transport=udp from=$nq_from_a_udp name=alice" \
            "$B|NQ reply transport=ipx from=$nq_from_a_ipx name=alice"; do
  wait_for 40 "${want%%|*}" "${want#*|}" || break
done
check "alice: connected to the server" has "$A" "orblaunch: connected to the group server $server_addr"
check "alice: game started" has "$A" "orblaunch: game started: "
check "alice's game listens on her own address" has "$A" "NQ listen transport=udp address=$nq_from_a_udp"
check "alice asks from other ports than the game's ($ask_a_udp, $ask_a_ipx)" \
  test -n "$ask_a_udp" -a -n "$ask_a_ipx" -a "$ask_a_udp" != "$nq_from_a_udp" -a "$ask_a_ipx" != "$nq_from_a_ipx"
check "alice hears bob's UDP broadcast from bob's address and the broadcast's port" has "$A" "NQ hello transport=udp from=$nq_from_b_udp name=bob"
check "bob hears alice's UDP broadcast from alice's address and the port she asked from" has "$B" "NQ hello transport=udp from=$ask_a_udp name=alice"
check "alice hears bob's IPX broadcast from node 0000 + bob's address" has "$A" "NQ hello transport=ipx from=$nq_from_b_ipx name=bob"
check "bob hears alice's IPX broadcast from node 0000 + alice's address and the socket she asked from" has "$B" "NQ hello transport=ipx from=$ask_a_ipx name=alice"
check "alice gets bob's direct UDP replies where she asked" has "$A" "NQ reply transport=udp from=$nq_from_b_udp name=bob"
check "bob gets alice's direct UDP replies" has "$B" "NQ reply transport=udp from=$nq_from_a_udp name=alice"
check "alice gets bob's direct IPX replies where she asked" has "$A" "NQ reply transport=ipx from=$nq_from_b_ipx name=bob"
check "bob gets alice's direct IPX replies" has "$B" "NQ reply transport=ipx from=$nq_from_a_ipx name=alice"
check "no game saw a link datagram it could not read" test "$(count "$A" 'NQ junk')$(count "$B" 'NQ junk')" = 00

# --- Only this machine may use the link -----------------------------------------------
# Two link datagrams for bob's port carrying NetQuest answers to nobody (bob calls them junk):
# one sent to alice's link port from bob's host, one from alice's own host. Only the second
# may be relayed.
link_to_26900='\xf9\xf9\xf9\xf9\x14\x69\x00\x00\x7f\x00\x00\x01'
forged="NETQUEST/1 REPLY id=0badf00d seq=1 t=1 name=mallory to=00000001"
local_one="NETQUEST/1 REPLY id=0badf00d seq=2 t=1 name=from-alices-host to=00000001"
lab_exec b bash -c "printf '$link_to_26900%s' '$forged' > /dev/udp/$LAB_A_ADDR/3668"
sleep 1
lab_exec a bash -c "printf '$link_to_26900%s' '$local_one' > /dev/udp/127.0.0.1/3668"
junk_of() { tr -d '\r' < "$B" | grep -cE "^NQ junk transport=udp from=$LAB_A_ADDR:[0-9]+ bytes=$1\$" || true; }
end=$(( $(date +%s) + 10 ))
while [ "$(junk_of ${#local_one})" = 0 ] && [ "$(date +%s)" -lt "$end" ]; do sleep 0.2; done
check "a link datagram from alice's own host reaches bob" test "$(junk_of ${#local_one})" = 1
check "a link datagram sent to alice's link port from another host is not relayed" test "$(junk_of ${#forged})" = 0
for who in alice bob; do
  trace=$(ls "$run/$who/trace/"*.log 2>/dev/null | tr '\n' ' ')
  check "$who's shim trace: UDP broadcasts go to the session library" grep -qF "BROADCASTING (TCPIP) OVER VIRTUAL LAN" $trace /dev/null
  check "$who's shim trace: IPX broadcasts go to the session library" grep -qF "BROADCASTING OVER VIRTUAL LAN" $trace /dev/null
  check "$who's shim trace: the far side's broadcasts are unwrapped" grep -qF "broadcast message is now converted" $trace /dev/null
  check "$who's game directory holds the shim during the session" test -f "$run/$who/game/wsock32.dll"
  check "$who's session log names the group" grep -qF "group = 'e2e'" "$run/$who/game/orblan.log"
done

# --- The server goes away: relaying stops, the games go on -----------------------------
kill -TERM "$server_pid"
for f in "$A" "$B"; do wait_for 15 "$f" "orblaunch: connection to the group server $server_addr lost"; done
check "alice's launcher reports the lost connection" has "$A" "connection to the group server $server_addr lost; the game keeps running"
check "bob's launcher reports the lost connection" has "$B" "connection to the group server $server_addr lost; the game keeps running"
sleep 3
for who in alice bob; do
  log=$run/$who/console.log
  after=$(sed -n '/connection to the group server .* lost/,$p' "$log" | grep -c '^NQ hello' || true)
  check "$who hears no more broadcasts once the server is gone ($after after the loss)" test "$after" -le 2
  check "$who's game keeps running without the server" test -n "$(lab_program_pids "$([ $who = alice ] && echo a || echo b)" netquest.exe)"
done
check "the launchers keep running too" kill -0 "$p_alice" "$p_bob"

# --- Ctrl+C ends each session cleanly ---------------------------------------------------
# As a console does: the launcher and the game both get it.
for h in a b; do
  for pid in $(lab_program_pids $h orblaunch.exe) $(lab_program_pids $h netquest.exe); do kill -INT "$pid"; done
done
end=$(( $(date +%s) + 20 ))
while kill -0 "$p_alice" 2>/dev/null || kill -0 "$p_bob" 2>/dev/null; do
  [ "$(date +%s)" -lt "$end" ] || break
  sleep 0.2
done
rc_a=hung rc_b=hung
kill -0 "$p_alice" 2>/dev/null || { wait "$p_alice"; rc_a=$?; }
kill -0 "$p_bob" 2>/dev/null || { wait "$p_bob"; rc_b=$?; }
check "after Ctrl+C alice's launcher exits with the game's code 0 (got $rc_a)" test "$rc_a" = 0
check "after Ctrl+C bob's launcher exits with the game's code 5 (got $rc_b)" test "$rc_b" = 5
for who in alice bob; do
  log=$run/$who/console.log
  check "$who: the game ended by itself and counted its peer" has "$log" "NQ end udp_peers=1 ipx_peers=1"
  check "$who: the launcher says the game ended" has "$log" "orblaunch: game ended with exit code"
  check "$who: the launcher closed the session" has "$log" "orblaunch: session closed"
  check "$who: the shim is gone from the game directory" test ! -e "$run/$who/game/wsock32.dll"
done

if [ $status -ne 0 ]; then
  for f in "$run"/*/console.log "$run/server.log"; do
    echo "----- $f"
    tail -n 40 "$f"
  done
fi
echo "# logs in $run"
exit $status
