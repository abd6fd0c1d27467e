#!/usr/bin/env bash
# Two players behind home routers, through the whole system: which way the games' datagrams
# to each other went, and what the way through the server costs over the direct path.
#
#   sudo bench/e2e/nat_bench.sh [WIN32_BUILD_DIR] [--seconds N] [--rate R]
#
# Two NetQuest games (demo/netlab.sh "home" labs: each player behind a router of its own
# that masquerades and forwards nothing) announce themselves over UDP R times a second for
# N seconds. Every announcement is a broadcast (through the server); every answer is a
# datagram to one member, which orblan carries directly when the two session libraries
# opened a direct path and through the server otherwise. Two labs, one after the other:
#   home         ordinary home routers: the probes open a direct path
#   home-random  routers with a random port per destination: no direct path can open
# Each datagram carries its send time and both hosts share this machine's clock, so the
# receiving game prints the one-way time of each. The launchers' closing lines count the
# datagrams each game sent directly and through the server.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
win=$top/build/win32
seconds=20
rate=20
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    *) win=$(cd "$1" && pwd); shift ;;
  esac
done
# shellcheck source=../../demo/netlab.sh
source "$top/demo/netlab.sh"
lab_need_root nat_bench
lab_can_home || { echo "nat_bench: needs nftables' nft (tools/setup.sh installs it)" >&2; exit 1; }
[ -f "$win/orblan-lab.env" ] || { echo "nat_bench: build the win32 configuration first (tools/build.sh win32)" >&2; exit 1; }
source "$win/orblan-lab.env"
[ -x "$ORB_ORBSERVER" ] || { echo "nat_bench: build the native configuration first (orbserver)" >&2; exit 1; }

run=$win/lab/nat-bench
rm -rf "$run"
mkdir -p "$run"
trap 'lab_down' EXIT
trap 'exit 130' INT TERM HUP PIPE
lab_wine_setup "$win/wine" || exit

# percentiles FILE: "count p50 p99 mean" of the numbers in FILE (microseconds), in ms.
percentiles() {
  sort -n "$1" | awk '{v[NR]=$1; s+=$1} END {
    if (NR == 0) { print "0 - - -"; exit }
    i50 = int(0.50 * NR + 0.5); if (i50 < 1) i50 = 1
    i99 = int(0.99 * NR + 0.5); if (i99 < 1) i99 = 1; if (i99 > NR) i99 = NR
    printf "%d %.2f %.2f %.2f\n", NR, v[i50] / 1000, v[i99] / 1000, s / NR / 1000 }'
}

# play LAB: both games for $seconds in a fresh lab; results in $run/LAB.
play() {
  local lab=$1 dir=$run/$1 who host players=()
  mkdir -p "$dir"
  lab_up "orbnb$$" "$lab"
  lab_bg srv "$dir/server.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0 \
    --log-level warn
  local server=$LAB_LAST_PID
  for who in alice bob; do
    host=a; [ $who = bob ] && host=b
    lab_stage_player "$dir/$who"
    lab_wine "$host" SCRIBE_LEVEL=0 SCRIBE_LOGDIR="$(lab_winpath "$dir/$who/trace")" -- \
      "$dir/$who/orblan/orblaunch.exe" --server "$LAB_SERVER_NAME" --group bench \
      "$(lab_winpath "$dir/$who/game/netquest.exe")" --name "$who" --machine --transport udp \
      --interval $(( 1000 / rate )) --duration "$seconds" > "$dir/$who/console.log" 2>&1 &
    lab_track $!
    players+=($!)
  done
  wait "${players[@]}"
  kill -TERM "$server"
  wait "$server" 2>/dev/null
  lab_down
}

for lab in home home-random; do play "$lab"; done

printf '%-12s %-30s %8s %8s %8s %8s\n' lab "datagrams" samples "p50 ms" "p99 ms" "mean ms"
skip=$(( rate * 3 ))  # the first announcements: the other game may not run yet
for lab in home home-random; do
  dir=$run/$lab
  for path in hello reply; do
    : > "$dir/$path.us"
    for who in alice bob; do
      grep "^NQ $path transport=udp" "$dir/$who/console.log" |
        sed -n 's/.* seq=\([0-9]*\) latency_us=\(-\{0,1\}[0-9]*\).*/\1 \2/p' |
        awk -v skip="$skip" '$1 > skip {print $2}' >> "$dir/$path.us"
    done
  done
  read -r n_h p50_h p99_h mean_h < <(percentiles "$dir/hello.us")
  read -r n_r p50_r p99_r mean_r < <(percentiles "$dir/reply.us")
  printf '%-12s %-30s %8s %8s %8s %8s\n' "$lab" "broadcasts (server)" "$n_h" "$p50_h" "$p99_h" "$mean_h"
  printf '%-12s %-30s %8s %8s %8s %8s\n' "$lab" "answers to one member" "$n_r" "$p50_r" "$p99_r" "$mean_r"
  eval "p50_$(echo "$lab" | tr - _)=$p50_r p99_$(echo "$lab" | tr - _)=$p99_r"
  # "... the game sent A datagrams directly and B through the server, and received ..."
  sed -n 's/.*the game sent \([0-9]*\) datagrams directly and \([0-9]*\) through the server.*/\1 \2/p' \
    "$dir/alice/console.log" "$dir/bob/console.log" |
    awk -v lab="$lab" '{d += $1; s += $2} END {
      t = d + s; printf "%-12s game datagrams to one member: %d directly, %d through the server (%.1f%% direct)\n",
        lab, d, s, t ? 100 * d / t : 0 }'
done
awk -v a="${p50_home_random:-}" -v b="${p50_home:-}" -v c="${p99_home_random:-}" -v d="${p99_home:-}" 'BEGIN {
  if (a == "" || b == "" || a == "-" || b == "-") { print "no figures to compare"; exit }
  printf "the way through the server adds over the direct path: p50 %+.2f ms, p99 %+.2f ms\n", a - b, c - d }'
echo "Wine on both ends, at $rate announcements a second for $seconds s per lab; raw figures in $run."
echo "A direct datagram passes the two session libraries (each runs a pass as soon as it arrives); one through"
echo "the server also passes the server and its second hop."
