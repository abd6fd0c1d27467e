#!/usr/bin/env bash
# End-to-end test of orblan: a group server and two players on network namespaces (see
# demo/netlab.sh), each player's NetQuest started by orblaunch under Wine. Checks the whole
# road of a broadcast, the direct replies, the launcher's failures and its clean end, that
# the hosts cannot find each other without orblan, that a server restart is survived, that
# a wsock32.dll of the game's own is kept, and a group's joins, leaves and refusals; then the
# same two players behind home routers that forward nothing, whose replies reach each other
# through the server.
#
#   e2e.sh WIN32_BUILD_DIR      (reads WIN32_BUILD_DIR/orblan-lab.env, written by CMake)
#
# Exit 0 all passed, 1 a check failed, 77 skipped (not root, no orbserver to be had, or a
# machine that cannot run 32-bit programs, so no Wine).
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
has_line() { grep -F -- "$2" "$1" | grep -qF -- "$3"; }  # one line holding both texts
count() { grep -cF -- "$2" "$1" || true; }

run=$win/lab/e2e
rm -rf "$run"
mkdir -p "$run"
trap 'lab_down' EXIT
trap 'exit 130' INT TERM HUP PIPE
lab_wine_setup "$win/wine" || exit  # 77, skipped, where Wine cannot run
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
launch a refused --server "$LAB_SERVER_ADDR:3999" --group g "$(game_of refused)"
p_refused=$launched_pid
# A server that does not answer at all: one that is stopped.
lab_bg srv "$run/stopped-server.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3998" --stats-interval 0
stopped_pid=$LAB_LAST_PID
wait_for 10 "$run/stopped-server.log" "listening on" && kill -STOP "$stopped_pid"
launch a silent --server "$LAB_SERVER_ADDR:3998" --wait 6 --group g "$(game_of silent)"
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
wait "$p_refused"; rc=$?
check "nothing listening at the server's port: exit 6 (exit $rc)" test "$rc" = 6
check "nothing listening at the server's port: says it was refused" has "$run/refused/console.log" "refused the connection: nothing listens on UDP port 3999"
check "nothing listening at the server's port: fails before the first progress line" test "$(count "$run/refused/console.log" "still waiting")" = 0
wait "$p_silent"; rc=$?
kill -CONT "$stopped_pid" 2>/dev/null; kill -TERM "$stopped_pid" 2>/dev/null
check "server that does not answer: exit 6 after --wait (exit $rc)" test "$rc" = 6
check "server that does not answer: message" has "$run/silent/console.log" "did not answer within 6 seconds"
check "server that does not answer: the wait shows progress" has "$run/silent/console.log" "still waiting for the group server $LAB_SERVER_ADDR:3998 to answer (5 of 6 s)"
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
# alice's game came with a wsock32.dll of its own: the session must give it back.
lab_stage_player "$run/alice"
printf 'the game'"'"'s own wsock32.dll\n' > "$run/original-wsock32.dll"
cp "$run/original-wsock32.dll" "$run/alice/game/wsock32.dll"
launch_staged() {  # like launch, for a player already staged
  local host=$1 name=$2
  shift 2
  lab_wine "$host" SCRIBE_LOGDIR="$(lab_winpath "$run/$name/trace")" SCRIBE_LEVEL=2000 -- \
    "$run/$name/orblan/orblaunch.exe" "$@" > "$run/$name/console.log" 2>&1 &
  lab_track $!
  launched_pid=$!
}
launch_staged a alice --server "$server_addr" --group e2e --name alice "$(game_of alice)" \
  --name alice --machine --duration 75 --interval 400 --expect 1 --bind-own-address --ask-from-ephemeral
p_alice=$launched_pid
wait_for 40 "$run/alice/console.log" "orblaunch: joined group 'e2e'"
launch b bob --server "$server_addr" --group e2e --name bob "$(game_of bob)" --name bob --machine \
  --duration 75 --interval 400 --expect 1 --exit-code 5
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
  check "$who's game directory holds the shim during the session" cmp -s "$ORB_ORBWS" "$run/$who/game/wsock32.dll"
  check "$who: joined the group and sees both players" has "$run/$who/console.log" "in group 'e2e' (2 of 32 players): "
  check "$who: the console holds the launcher's and the game's lines only" \
    test "$(grep -cvE '^(orblaunch: |NQ )' "$run/$who/console.log")" = 0
  check "$who: the connection's trace went to orblan-trace.log beside the launcher" test -s "$run/$who/orblan/orblan-trace.log"
done
check "alice, alone at first, is told so" has "$A" "orblaunch: you are alone in group 'e2e' so far"
check "alice is told bob joined" has "$A" "orblaunch: bob joined the group"
check "the server logs each join with player and group" has "$run/server.log" "(bob, $LAB_B_ADDR:"
check "the player's own wsock32.dll waits beside the shim" cmp -s "$run/original-wsock32.dll" "$run/alice/game/wsock32.dll.orblan-saved"

# --- One session per machine -----------------------------------------------------------
launch a second --server "$server_addr" --group e2e "$(game_of second)"
wait "$launched_pid"; rc=$?
check "a second session on alice's machine: exit 10 (exit $rc)" test "$rc" = 10
check "a second session on alice's machine: says why" has "$run/second/console.log" "another orblan session is using port 3668 on this machine"
check "a second session on alice's machine: no game started" test "$(count "$run/second/console.log" "game started")" = 0
check "a second session on alice's machine: alice still plays" kill -0 "$p_alice"

# --- The server restarts: relaying stops, the games go on, the sessions come back -------
kill -TERM "$server_pid"
for f in "$A" "$B"; do wait_for 15 "$f" "orblaunch: connection to the group server $server_addr lost"; done
check "alice's launcher reports the lost connection" has "$A" "connection to the group server $server_addr lost; the game keeps running"
check "bob's launcher reports the lost connection" has "$B" "connection to the group server $server_addr lost; the game keeps running"
sleep 3
for who in alice bob; do
  log=$run/$who/console.log
  after=$(sed -n '/connection to the group server .* lost/,$p' "$log" | grep -c '^NQ hello' || true)
  check "$who hears no more broadcasts while the server is gone ($after after the loss)" test "$after" -le 2
  check "$who's game keeps running without the server" test -n "$(lab_program_pids "$([ $who = alice ] && echo a || echo b)" netquest.exe)"
done
check "the launchers keep running too" kill -0 "$p_alice" "$p_bob"
lab_bg srv "$run/server-again.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0
server_pid=$LAB_LAST_PID
for f in "$A" "$B"; do wait_for 40 "$f" "orblaunch: connected to the group server $server_addr again; back in group 'e2e'"; done
for who in alice bob; do
  log=$run/$who/console.log
  check "$who's launcher reconnects by itself and says so" has "$log" "connected to the group server $server_addr again; back in group 'e2e'"
  check "$who's launcher told of failed attempts while the server was down" has "$log" "connecting again to $server_addr failed (the server is not running)"
done
heard_again() { sed -n '/group server .* again; back in group/,$p' "$1" | grep -q "^NQ hello transport=udp from=$2"; }
end=$(( $(date +%s) + 20 ))
until heard_again "$A" "$nq_from_b_udp" && heard_again "$B" "$ask_a_udp"; do
  [ "$(date +%s)" -lt "$end" ] || break
  sleep 0.2
done
check "after the restart alice hears bob's broadcasts again, game not restarted" heard_again "$A" "$nq_from_b_udp"
check "after the restart bob hears alice's broadcasts again, game not restarted" heard_again "$B" "$ask_a_udp"
check "the restarted server has both back in the group" test "$(count "$run/server-again.log" "joined group 'e2e'")" = 2

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
  check "$who: the server let $who go as the session ended" has_line "$run/server-again.log" "($who, " "ended its session, left group 'e2e'"
done
check "bob: the shim is gone from the game directory" test ! -e "$run/bob/game/wsock32.dll"
check "alice: the game's own wsock32.dll is back, byte for byte" cmp -s "$run/original-wsock32.dll" "$run/alice/game/wsock32.dll"
check "alice: nothing is left aside" test ! -e "$run/alice/game/wsock32.dll.orblan-saved"

# --- A group of two: leaving frees the place at once; the server's refusals -------------
small="$LAB_SERVER_ADDR:3670"
lab_bg srv "$run/small-server.log" "$ORB_ORBSERVER" --listen "$small" --max-group-members 2 --max-groups 1 --stats-interval 0
wait_for 10 "$run/small-server.log" "listening on"
quick() { echo --machine --duration "$1" --interval 300; }  # a short game that expects nobody
launch a x1 --server "$small" --group Full --name x1 "$(game_of x1)" $(quick 40)
p_x1=$launched_pid
wait_for 30 "$run/x1/console.log" "orblaunch: game started"
launch b x2 --server "$small" --group " full" --name x2 "$(game_of x2)" $(quick 3)
wait "$launched_pid"; rc=$?
check "x2 joins the group of x1 despite case and spaces (exit $rc)" has "$run/x2/console.log" "in group 'Full' (2 of 2 players): "
launch b x3 --server "$small" --group FULL --name x3 "$(game_of x3)" $(quick 3)
wait "$launched_pid"; rc=$?
check "x3 takes the place x2 left, right away (exit $rc)" has "$run/x3/console.log" "orblaunch: joined group 'Full'"
check "the server let x2 go as its session ended" has_line "$run/small-server.log" "(x2, " "ended its session, left group 'Full'"
check "x1 is told who came and went" has "$run/x1/console.log" "orblaunch: x2 left the group"
check "x1 is told x3 joined" has "$run/x1/console.log" "orblaunch: x3 joined the group"
launch b x4 --server "$small" --group other --name x4 "$(game_of x4)" $(quick 3)
wait "$launched_pid"; rc=$?
check "a join the server refuses: exit 9 (exit $rc)" test "$rc" = 9
check "a join the server refuses: one line naming group and reason" has "$run/x4/console.log" "orblaunch: cannot join group 'other' on $small: the server is full (the server holds its maximum of 1 groups)"
check "a join the server refuses: no game started" test "$(count "$run/x4/console.log" "game started")" = 0
check "the server logs the refusal" has_line "$run/small-server.log" "(x4, $LAB_B_ADDR:" "refused from group 'other'"
for pid in $(lab_program_pids a orblaunch.exe) $(lab_program_pids a netquest.exe); do kill -INT "$pid"; done
wait "$p_x1"

# --- Behind home routers that forward nothing and open no direct path -------------------
# Each player behind a router of its own that masquerades with a new random port for every
# destination: the game must still be told the other's public address, and every reply
# must reach the other game through the group server.
if ! lab_can_home; then
  check "home routers can be made (nftables' nft, installed by tools/setup.sh)" false
else
  lab_down
  lab_up "orbe2n$$" home-random
  lab_bg srv "$run/home-server.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0
  home_server=$LAB_LAST_PID
  launch a home-alice --server "$server_addr" --group home "$(game_of home-alice)" --name alice \
    --machine --duration 25 --interval 400 --expect 1 --tcp-port 2300
  p_alice=$launched_pid
  launch b home-bob --server "$server_addr" --group home "$(game_of home-bob)" --name bob \
    --machine --duration 25 --interval 400 --expect 1
  p_bob=$launched_pid
  rc_a=hung rc_b=hung
  end=$(( $(date +%s) + 90 ))
  while kill -0 "$p_alice" 2>/dev/null || kill -0 "$p_bob" 2>/dev/null; do
    [ "$(date +%s)" -lt "$end" ] || break
    sleep 0.5
  done
  kill -0 "$p_alice" 2>/dev/null || { wait "$p_alice"; rc_a=$?; }
  kill -0 "$p_bob" 2>/dev/null || { wait "$p_bob"; rc_b=$?; }
  kill -TERM "$home_server"
  wait_for 10 "$run/home-server.log" "stats:"
  A=$run/home-alice/console.log B=$run/home-bob/console.log
  b_ipx="00000000:0000CB007116:4E51" a_ipx="00000000:0000CB007115:4E51"
  check "home: alice hears bob at his router's address over UDP" has "$A" "NQ hello transport=udp from=$LAB_B_PUBLIC:26900 name=bob"
  check "home: bob hears alice at her router's address over IPX" has "$B" "NQ hello transport=ipx from=$a_ipx name=alice"
  check "home: alice gets bob's UDP replies though nothing is forwarded" has "$A" "NQ reply transport=udp from=$LAB_B_PUBLIC:26900 name=bob"
  check "home: bob gets alice's UDP replies" has "$B" "NQ reply transport=udp from=$LAB_A_PUBLIC:26900 name=alice"
  check "home: alice gets bob's IPX replies" has "$A" "NQ reply transport=ipx from=$b_ipx name=bob"
  check "home: bob gets alice's IPX replies" has "$B" "NQ reply transport=ipx from=$a_ipx name=alice"
  check "home: no game was ever told a home address" test "$(grep '^NQ' "$A" "$B" | grep -c '198\.51\.100\.')" = 0
  check "home: both games reached their goal (exit $rc_a, $rc_b)" test "$rc_a" = 0 -a "$rc_b" = 0
  check "home: alice is told where the server sees her" has "$A" "orblaunch: the group server sees this machine at $LAB_A_PUBLIC:"
  check "home: alice is told bob's datagrams go through the server" has "$A" "orblaunch: no direct path to member"
  check "home: bob is told likewise" has "$B" "orblaunch: no direct path to member"
  check "home: alice's game opened TCP to bob's address" has "$A" "NQ tcp to=$LAB_B_PUBLIC:2300"
  check "home: alice is told that TCP to bob needs a forwarded port" has "$A" "orblaunch: the game opens a TCP connection to member"
  relayed=$(sed -n 's/.* unicast: in=[0-9]* relayed=\([0-9]*\).*/\1/p' "$run/home-server.log" | tail -n 1)
  check "home: the server carried the replies (relayed unicast: ${relayed:-none})" test "${relayed:-0}" -gt 10
fi

if [ $status -ne 0 ]; then
  for f in "$run"/*/console.log "$run/server.log" "$run/home-server.log"; do
    echo "----- $f"
    tail -n 40 "$f"
  done
fi
echo "# logs in $run"
exit $status
