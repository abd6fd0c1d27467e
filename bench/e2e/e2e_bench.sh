#!/usr/bin/env bash
# End-to-end latency of a LAN broadcast through orblan, beside direct UDP, in one run.
#
#   sudo bench/e2e/e2e_bench.sh [WIN32_BUILD_DIR] [--seconds N]
#
# Two NetQuest games on two player hosts (demo/netlab.sh) announce themselves over UDP at
# 10 and then 100 broadcasts per second. Every announcement goes game A sendto -> shim ->
# session library -> group server -> session library -> shim -> game B recvfrom; every
# reply goes straight from B to A. Each datagram carries its send time, and both hosts
# share this machine's clock, so the receiving game prints the one-way time of each. The
# script prints p50 and p99 of both paths and the difference, which is what orblan adds.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
win=$top/build/win32
seconds=20
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    *) win=$(cd "$1" && pwd); shift ;;
  esac
done
# shellcheck source=../../demo/netlab.sh
source "$top/demo/netlab.sh"
lab_need_root e2e_bench
[ -f "$win/orblan-lab.env" ] || { echo "e2e_bench: build the win32 configuration first (tools/build.sh win32)" >&2; exit 1; }
source "$win/orblan-lab.env"
[ -x "$ORB_ORBSERVER" ] || { echo "e2e_bench: build the native configuration first (orbserver)" >&2; exit 1; }

run=$win/lab/bench
rm -rf "$run"
mkdir -p "$run"
trap 'lab_down' EXIT
trap 'exit 130' INT TERM HUP PIPE
lab_wine_setup "$win/wine" || exit 1
lab_up "orbbench$$"
lab_bg srv "$run/server.log" "$ORB_ORBSERVER" --listen "$LAB_SERVER_ADDR:3669" --stats-interval 0 \
  --log-level warn

# percentiles FILE: "count p50 p99 mean" of the numbers in FILE, in milliseconds.
percentiles() {
  sort -n "$1" | awk '{v[NR]=$1; s+=$1} END {
    if (NR == 0) { print "0 - - -"; exit }
    i50 = int(0.50 * NR + 0.5); if (i50 < 1) i50 = 1
    i99 = int(0.99 * NR + 0.5); if (i99 < 1) i99 = 1; if (i99 > NR) i99 = NR
    printf "%d %.2f %.2f %.2f\n", NR, v[i50] / 1000, v[i99] / 1000, s / NR / 1000 }'
}

printf '%-6s %-28s %8s %8s %8s %8s\n' rate path samples "p50 ms" "p99 ms" "mean ms"
for rate in 10 100; do
  interval=$(( 1000 / rate ))
  players=()
  for who in alice bob; do
    host=a; [ $who = bob ] && host=b
    lab_stage_player "$run/$rate/$who"
    lab_wine "$host" SCRIBE_LEVEL=0 SCRIBE_LOGDIR="$(lab_winpath "$run/$rate/$who/trace")" -- \
      "$run/$rate/$who/orblan/orblaunch.exe" --server "$LAB_SERVER_NAME" --group bench \
      "$(lab_winpath "$run/$rate/$who/game/netquest.exe")" --name "$who" --machine --transport udp \
      --interval "$interval" --duration "$seconds" > "$run/$rate/$who/console.log" 2>&1 &
    lab_track $!
    players+=($!)
  done
  wait "${players[@]}"
  # Leave out the first announcements of each game: the other may not have been running yet.
  skip=$(( rate * 3 ))
  for path in hello reply; do
    : > "$run/$rate/$path.us"
    for who in alice bob; do
      grep "^NQ $path transport=udp" "$run/$rate/$who/console.log" |
        sed -n 's/.* seq=\([0-9]*\) latency_us=\(-\{0,1\}[0-9]*\).*/\1 \2/p' |
        awk -v skip="$skip" '$1 > skip {print $2}' >> "$run/$rate/$path.us"
    done
  done
  read -r n_b p50_b p99_b mean_b < <(percentiles "$run/$rate/hello.us")
  read -r n_d p50_d p99_d mean_d < <(percentiles "$run/$rate/reply.us")
  printf '%-6s %-28s %8s %8s %8s %8s\n' "$rate/s" "broadcast through orblan" "$n_b" "$p50_b" "$p99_b" "$mean_b"
  printf '%-6s %-28s %8s %8s %8s %8s\n' "$rate/s" "direct UDP (the replies)" "$n_d" "$p50_d" "$p99_d" "$mean_d"
  if [ "$n_b" -gt 0 ] && [ "$n_d" -gt 0 ]; then
    awk -v a="$p50_b" -v b="$p50_d" -v c="$p99_b" -v d="$p99_d" \
      'BEGIN { printf "%-6s %-28s %8s %+8.2f %+8.2f\n", "", "added by orblan", "", a - b, c - d }'
  fi
  sent=$(grep -h '^NQ end' "$run/$rate/alice/console.log" "$run/$rate/bob/console.log" |
         sed 's/.*announcements=\([0-9]*\).*/\1/' | awk '{s += $1} END {print s + 0}')
  echo "       announcements sent: $sent; raw figures in $run/$rate"
done
echo "Wine on both ends; both paths pass the shim and Wine's sockets alike, so the difference"
echo "is the relay: the link hop to the session library, the wait for the sender's next 20 ms"
echo "pump tick, the server, and the wait for the receiver's next pump tick."
