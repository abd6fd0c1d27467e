#!/usr/bin/env bash
# The group server under a flood of CONNECTs from forged source addresses, and against one
# host holding many sockets, on a small internet of network namespaces (run as root; about
# 90 s; everything stops by itself and is removed at the end):
#
#   <id>-srv  203.0.113.1   orbserver (default flags)
#   <id>-pl   203.0.113.11  two members relaying, and a newcomer (flood_bench players)
#   <id>-atk  203.0.113.66  the forger (raw socket, sources in 198.51.100.0/24), the hog
#   <id>-rt   the router; 198.51.100.0/24 is a black hole behind it
#
# Phase 1: a 30 s forged-CONNECT flood at the highest rate this machine sends; the two
# members relay throughout and a newcomer joins 10 s into it. Printed: the members' loss
# and latency, the newcomer's join time, the server's peak memory, and the bytes the
# server sent to the forged addresses against the bytes it received from them (nftables
# counters in the server's namespace).
# Phase 2: one host opens 1100 sockets that all connect, answer and join; a newcomer from
# elsewhere joins meanwhile.
#
# Usage: sudo bench/server/flood_bench.sh [build dir, default build/native]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/native}
server=$build/server/orbserver
bench=$build/bench/server/flood_bench
[ "$(id -u)" -eq 0 ] || { echo "flood_bench.sh: needs root (network namespaces)" >&2; exit 1; }
for f in "$server" "$bench"; do
  [ -x "$f" ] || { echo "flood_bench.sh: $f is missing (tools/build.sh native)" >&2; exit 1; }
done
command -v nft >/dev/null || { echo "flood_bench.sh: needs nft (nftables)" >&2; exit 1; }

id=fb$$
ns() { echo "$id-$1"; }
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for h in srv pl atk rt; do ip netns del "$(ns $h)" 2>/dev/null || true; done
}
trap cleanup EXIT

ip netns add "$(ns rt)"
ip -n "$(ns rt)" link set lo up
ip netns exec "$(ns rt)" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.conf.all.rp_filter=0
ip -n "$(ns rt)" route add blackhole 198.51.100.0/24
for host in srv:203.0.113.1 pl:203.0.113.11 atk:203.0.113.66; do
  h=${host%%:*} addr=${host#*:}
  ip netns add "$(ns $h)"
  ip -n "$(ns $h)" link set lo up
  ip -n "$(ns $h)" link add eth0 type veth peer name "to-$h" netns "$(ns rt)"
  ip -n "$(ns $h)" addr add "$addr/24" dev eth0
  ip -n "$(ns $h)" link set eth0 up
  ip -n "$(ns $h)" route add default via 203.0.113.254 dev eth0
  ip netns exec "$(ns $h)" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.eth0.rp_filter=0
  ip -n "$(ns rt)" addr add 203.0.113.254/32 dev "to-$h"
  ip -n "$(ns rt)" link set "to-$h" up
  ip -n "$(ns rt)" route add "$addr/32" dev "to-$h"
  ip netns exec "$(ns rt)" sysctl -qw "net.ipv4.conf.to-$h.proxy_arp=1" "net.ipv4.conf.to-$h.rp_filter=0"
done
ip netns exec "$(ns srv)" nft -f - <<'NFT'
table ip flood {
  chain in { type filter hook input priority 0; ip saddr 198.51.100.0/24 udp dport 3669 counter; }
  chain out { type filter hook output priority 0; ip daddr 198.51.100.0/24 udp sport 3669 counter; }
}
NFT

# Starts orbserver in the server's namespace; sets server_pid.
start_server() {
  ip netns exec "$(ns srv)" timeout 150 "$server" --listen 203.0.113.1:3669 --stats-interval 10 \
    > "/tmp/$id-server-$1.log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  sleep 0.5
  orbserver_pid=$(awk '{print $1}' "/proc/$server_pid/task/$server_pid/children")  # timeout's child
}
# Peak resident memory of the server so far, in MB.
peak_mb() { awk '/VmHWM/ {printf "%.1f", $2 / 1024}' "/proc/$orbserver_pid/status"; }
stop_server() {
  kill -INT "$orbserver_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}
# UDP payload bytes counted by the nftables rule of chain $1 (packets * 28 bytes of headers
# taken off), and its packet count.
counted() {
  ip netns exec "$(ns srv)" nft list chain ip flood "$1" |
    awk '/counter/ {for (i = 1; i <= NF; i++) { if ($i == "packets") p = $(i+1); if ($i == "bytes") b = $(i+1) }
                    printf "%d %d", p, b - 28 * p}'
}

echo "== phase 1: forged-CONNECT flood for 30 s; two members relaying, a newcomer at 10 s of it"
start_server flood
ip netns exec "$(ns pl)" timeout 60 "$bench" players 203.0.113.1 3669 40 15 > "/tmp/$id-players.txt" &
players=$!
pids+=("$players")
sleep 5
ip netns exec "$(ns atk)" timeout 40 "$bench" forge 203.0.113.1 3669 30
wait "$players" || true
cat "/tmp/$id-players.txt"
echo "server: peak resident memory $(peak_mb) MB"
read -r in_packets in_bytes <<< "$(counted in)"
read -r out_packets out_bytes <<< "$(counted out)"
drops=$(ip netns exec "$(ns srv)" awk '/^Udp:/ && ++n == 2 {print $6}' /proc/net/snmp)
echo "forged addresses: the server's host received $in_packets datagrams ($in_bytes bytes), the server sent them $out_packets ($out_bytes bytes), ratio $(awk -v o="$out_bytes" -v i="$in_bytes" 'BEGIN { printf "%.3f", i ? o / i : 0 }'); datagrams dropped at full socket buffers: $drops"
stop_server
grep -E "stats:" "/tmp/$id-server-flood.log" | tail -n 1 | sed 's/^/server: /'

echo "== phase 2: one host with 1100 sockets, a newcomer from elsewhere"
start_server hog
( ulimit -n 4096; ip netns exec "$(ns atk)" timeout 40 "$bench" hog 203.0.113.1 3669 1100 25 ) \
  > "/tmp/$id-hog.txt" &
hog=$!
pids+=("$hog")
sleep 5
ip netns exec "$(ns pl)" timeout 30 "$bench" players 203.0.113.1 3669 12 4
wait "$hog" || true
cat "/tmp/$id-hog.txt"
echo "server: peak resident memory $(peak_mb) MB"
stop_server
grep -E "stats:" "/tmp/$id-server-hog.log" | tail -n 1 | sed 's/^/server: /'
rm -f /tmp/$id-*
