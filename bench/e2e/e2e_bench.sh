#!/usr/bin/env bash
# End-to-end latency of a LAN broadcast through orblan, beside direct UDP, in one run, on a
# clean path and on a lossy one; then what an idle session costs.
#
#   sudo bench/e2e/e2e_bench.sh [WIN32_BUILD_DIR] [--seconds N] [--idle-seconds N]
#                               [--only clean|idle|lossy] [--loss FRACTION]
#
# --only runs one part alone (all three by default), e.g. the idle part of two builds in turn.
# Two NetQuest games on two player hosts (demo/netlab.sh) announce themselves over UDP at
# 10 and then 100 broadcasts per second. Every announcement goes game A sendto -> shim ->
# session library -> group server -> session library -> shim -> game B recvfrom; every
# reply goes straight from B to A. Each datagram carries its send time, and both hosts
# share this machine's clock, so the receiving game prints the one-way time of each. The
# script prints p50, p95 and p99 of both paths and the difference, which is what orblan
# adds, and how many announcements a game received twice.
#
# Lossy path: the same again with the lab's router in userspace (lossy_router of the native
# build), which gives every link 30 +/- 10 ms of delay and 1 % loss (--loss) in each direction. A
# broadcast crosses four links (player, server, server, player), a direct reply two, so
# the detour through the server costs about what the direct path costs; the bound printed
# for the broadcasts' p99 is the direct p99, plus the direct p50 for the detour, plus 50 ms.
#
# Idle (on the clean path): one player with a game that announces once a minute. For
# --idle-seconds (60) the CPU time of the launcher's process (orblaunch.exe with the
# session library: its Wine process, from /proc; that host's wineserver beside it), then,
# for 10 s under strace, the pump passes per second: each idle pass reads the server
# endpoint once and finds nothing, so they are counted as the reads that return EAGAIN on
# the socket read most often.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
win=$top/build/win32
seconds=20
idle_seconds=60
loss=0.01
only=
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --idle-seconds) idle_seconds=$2; shift 2 ;;
    --loss) loss=$2; shift 2 ;;
    --only)
      case "$2" in clean|idle|lossy) only=$2 ;; *) echo "e2e_bench: --only takes clean, idle or lossy" >&2; exit 2 ;; esac
      shift 2 ;;
    *) win=$(cd "$1" && pwd); shift ;;
  esac
done
# shellcheck source=../../demo/netlab.sh
source "$top/demo/netlab.sh"
lab_need_root e2e_bench
[ -f "$win/orblan-lab.env" ] || { echo "e2e_bench: build the win32 configuration first (tools/build.sh win32)" >&2; exit 1; }
source "$win/orblan-lab.env"
[ -x "$ORB_ORBSERVER" ] || { echo "e2e_bench: build the native configuration first (orbserver)" >&2; exit 1; }
router=$top/build/native/bench/e2e/lossy_router
[ -x "$router" ] || { echo "e2e_bench: build the native configuration first (lossy_router)" >&2; exit 1; }
command -v strace >/dev/null || { echo "e2e_bench: needs strace, to count the idle pump passes" >&2; exit 1; }

run=$win/lab/bench
rm -rf "$run"
mkdir -p "$run"
trap 'lab_down' EXIT
trap 'exit 130' INT TERM HUP PIPE
lab_wine_setup "$win/wine" || exit
lab_up "orbbench$$"
# server LOG: a group server in the background; its pid in server_pid. stop_server ends it,
# and it writes its totals as its last statistics line.
server() {
  lab_bg srv "$1" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0 \
    --log-level info
  server_pid=$LAB_LAST_PID
}
stop_server() {
  kill -TERM "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
}
server "$run/server.log"

# percentiles FILE: "count p50 p95 p99 mean" of the numbers (us) in FILE, in milliseconds.
percentiles() {
  sort -n "$1" | awk '
    function at(q,   i) { i = int(q * NR + 0.5); if (i < 1) i = 1; if (i > NR) i = NR; return v[i] / 1000 }
    {v[NR]=$1; s+=$1}
    END {
      if (NR == 0) { print "0 - - - -"; exit }
      printf "%d %.2f %.2f %.2f %.2f\n", NR, at(0.50), at(0.95), at(0.99), s / NR / 1000 }'
}

row() { printf '%-6s %-28s %8s %8s %8s %8s %8s\n' "$@"; }

# player WHO HOST DIR GAME-ARGS...: one player's orblaunch and game in the background.
player() {
  local who=$1 host=$2 dir=$3
  shift 3
  lab_stage_player "$dir"
  lab_wine "$host" SCRIBE_LEVEL=0 SCRIBE_LOGDIR="$(lab_winpath "$dir/trace")" -- \
    "$dir/orblan/orblaunch.exe" --server "$LAB_SERVER_NAME" --group bench \
    "$(lab_winpath "$dir/game/netquest.exe")" --name "$who" --machine --transport udp "$@" \
    > "$dir/console.log" 2>&1 &
  lab_track $!
}

# rates LABEL: both rates on the lab as it is now; prints one block per rate.
rates() {
  local label=$1 rate interval who host path skip
  for rate in 10 100; do
    interval=$(( 1000 / rate ))
    local dir=$run/$label/$rate players=()
    for who in alice bob; do
      host=a; [ $who = bob ] && host=b
      player "$who" "$host" "$dir/$who" --interval "$interval" --duration "$seconds"
      players+=("$LAB_LAST_PID")
    done
    wait "${players[@]}"
    # Leave out the first announcements of each game: the other may not have been running yet.
    skip=$(( rate * 3 ))
    for path in hello reply; do
      : > "$dir/$path.us"
      for who in alice bob; do
        grep "^NQ $path transport=udp" "$dir/$who/console.log" |
          sed -n 's/.* seq=\([0-9]*\) latency_us=\(-\{0,1\}[0-9]*\).*/\1 \2/p' |
          awk -v skip="$skip" '$1 > skip {print $2}' >> "$dir/$path.us"
      done
    done
    read -r n_b p50_b p95_b p99_b mean_b < <(percentiles "$dir/hello.us")
    read -r n_d p50_d p95_d p99_d mean_d < <(percentiles "$dir/reply.us")
    row "$rate/s" "broadcast through orblan" "$n_b" "$p50_b" "$p95_b" "$p99_b" "$mean_b"
    row "$rate/s" "direct UDP (the replies)" "$n_d" "$p50_d" "$p95_d" "$p99_d" "$mean_d"
    if [ "$n_b" -gt 0 ] && [ "$n_d" -gt 0 ]; then
      awk -v a="$p50_b" -v b="$p50_d" -v e="$p95_b" -v f="$p95_d" -v c="$p99_b" -v d="$p99_d" \
        'BEGIN { printf "%-6s %-28s %8s %+8.2f %+8.2f %+8.2f\n", "", "added by orblan", "", a - b, e - f, c - d }'
      if [ "$label" = lossy ]; then
        awk -v p99="$p99_b" -v d50="$p50_d" -v d99="$p99_d" 'BEGIN {
          bound = d99 + d50 + 50
          printf "       broadcast p99 %.2f ms against the bound %.2f ms (direct p99 + direct p50 + 50): %s\n",
            p99, bound, p99 <= bound ? "within" : "beyond" }'
      fi
    fi
    # A game prints every announcement it receives: the same sender and number twice is a
    # message the system delivered twice.
    local twice=0 sent
    for who in alice bob; do
      twice=$(( twice + $(grep "^NQ hello transport=udp" "$dir/$who/console.log" |
        sed -n 's/.* name=\([^ ]*\) seq=\([0-9]*\) .*/\1 \2/p' | sort | uniq -d | wc -l) ))
    done
    sent=$(grep -h '^NQ end' "$dir/alice/console.log" "$dir/bob/console.log" |
           sed 's/.*announcements=\([0-9]*\).*/\1/' | awk '{s += $1} END {print s + 0}')
    echo "       announcements sent: $sent; received twice by a game: $twice; raw figures in $dir"
  done
}

# cpu_ticks PID: user + system time of the process, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# idle: one player's idle session.
idle() {
  local dir=$run/idle hz launcher wineserver i t0 w0 t1 w1 passes
  hz=$(getconf CLK_TCK)
  player alice a "$dir/alice" --interval 60000 --duration $(( idle_seconds + 25 ))
  for i in $(seq 300); do
    grep -q "^NQ listen" "$dir/alice/console.log" 2>/dev/null && break
    sleep 0.1
  done
  sleep 3
  launcher=$(lab_program_pids a orblaunch.exe | head -n 1)
  wineserver=$(lab_program_pids a wineserver | head -n 1)
  [ -n "$launcher" ] || { echo "idle: the launcher did not start (see $dir/alice/console.log)"; return; }
  t0=$(cpu_ticks "$launcher"); w0=$(cpu_ticks "${wineserver:-0}")
  sleep "$idle_seconds"
  t1=$(cpu_ticks "$launcher"); w1=$(cpu_ticks "${wineserver:-0}")
  timeout -s INT 10 strace -f -qq -e trace=recvmsg -p "$launcher" -o "$dir/strace.txt" 2>/dev/null
  # Per socket: a pass also reads the refusal probe's socket, which is no second pass.
  passes=$(sed -n 's/.*recvmsg(\([0-9]*\),.*EAGAIN.*/\1/p' "$dir/strace.txt" | sort | uniq -c |
           sort -rn | awk 'NR == 1 {print $1} END {if (NR == 0) print 0}')
  awk -v t="$(( t1 - t0 ))" -v w="$(( w1 - w0 ))" -v hz="$hz" -v s="$idle_seconds" -v p="$passes" 'BEGIN {
    printf "idle   launcher process CPU %.2f s in %d s (%.2f %%); its wineserver %.2f s\n", t / hz, s, 100 * t / hz / s, w / hz
    printf "idle   pump passes: %.1f per second (reads of the server endpoint that found nothing, 10 s)\n", p / 10 }'
  wait "$LAB_LAST_PID"
}

# part NAME: whether this run includes that part.
part() { [ -z "$only" ] || [ "$only" = "$1" ]; }

[ "$only" = idle ] || row rate path samples "p50 ms" "p95 ms" "p99 ms" "mean ms"
if part clean; then
  echo "-- clean path"
  rates clean
fi
if part idle; then
  echo "-- idle session ($idle_seconds s)"
  idle
fi
part lossy || exit 0
echo "-- lossy path: every link 30 +/- 10 ms and $(awk -v l="$loss" 'BEGIN { print l * 100 }') % loss each way"
lab_lossy_links "$router" "$run/router.log" 30 10 "$loss" || exit 1
stop_server
server "$run/server-lossy.log"  # its own totals for the lossy runs
rates lossy
stop_server
# Resends on the lossy runs: the session libraries' from their trace files, the server's from its
# totals, with those whose acknowledgement came sooner after them than any round trip the
# path had shown (the first copy was only late).
player_resends=$(cat "$run"/lossy/*/*/orblan/orblan-trace.log | grep -c 'being resent')
player_copies=$(cat "$run"/lossy/*/*/orblan/orblan-trace.log | grep -c 'sent early again')
player_repeats=$(grep 'stats:' "$run/server-lossy.log" | tail -n 1 | sed -n 's/.* duplicates=\([0-9]*\).*/\1/p')
stats=$(grep 'stats:' "$run/server-lossy.log" | tail -n 1)
field() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<< "$stats"; }
echo "       resends: session libraries $player_resends (the server received $player_repeats repeats of what it had: resends and early copies); server $(field resends) of $(field out) datagrams out, $(field spurious_resends) of them not needed"
echo "       early copies (a second copy 10 ms after the first while a path shows loss): session libraries $player_copies; server $(field copies)"
echo "Wine on both ends; both paths pass the shim and Wine's sockets alike, so the difference"
echo "is the relay: the link hop to the session library, its passes, the server, and the"
echo "receiving session library's passes."
