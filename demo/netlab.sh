# netlab.sh: a small internet on one machine, for the demo, the end-to-end tests and the
# end-to-end benchmark. Source it, then call lab_up. It builds:
#
#   <id>-srv  203.0.113.1    the group server's host
#   <id>-a    203.0.113.11   player A
#   <id>-b    203.0.113.12   player B
#   <id>-net  the router between them (203.0.113.254 on every link, proxy ARP, forwarding)
#
# Each host is a network namespace with one veth link to the router. The hosts share one
# /24 on paper but no link layer: a broadcast of A reaches the router and stops there, as it
# would at an internet provider, so the only way A's LAN game can find B's is through
# orblan and the group server. Unicast between the hosts is routed. Nothing is created in
# the root namespace, and no traffic leaves these namespaces.
#
# With "lab_up ID home", the players sit behind home routers instead, as almost every player
# does: each router has a public address on the router's segment and a home network of its
# own, masquerades what leaves it (nftables), and lets nothing in that the home did not ask
# for, like a home router with no port forwarded:
#
#   <id>-ra   203.0.113.21 outside, 198.51.100.1 at home    <id>-a 198.51.100.2   player A
#   <id>-rb   203.0.113.22 outside, 198.51.100.65 at home   <id>-b 198.51.100.66  player B
#
# "lab_up ID home-random" gives the routers a new random port for every destination (a
# "symmetric" NAT), so that no direct path between the players can ever be opened.
# LAB_A_ADDR and LAB_B_ADDR are then the home addresses; LAB_A_PUBLIC and LAB_B_PUBLIC the
# routers' outside ones (in the flat lab they are the same).
#
# Name look-ups inside the hosts use their own /etc/hosts ("orbserver.lab" is the server)
# and a resolver on 127.0.0.1 where nothing answers, so an unknown name fails at once and
# no query leaves the host.
#
# Each player host runs Windows programs under Wine with a prefix of its own, whose
# wineserver starts inside that host's namespace.

LAB_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LAB_SERVER_ADDR=203.0.113.1
LAB_A_ADDR=203.0.113.11
LAB_B_ADDR=203.0.113.12
LAB_A_PUBLIC=$LAB_A_ADDR
LAB_B_PUBLIC=$LAB_B_ADDR
LAB_ROUTER_ADDR=203.0.113.254
LAB_HOSTS=(srv a b net)  # every namespace of the lab, for lab_down
LAB_SERVER_NAME=orbserver.lab
LAB_ID=""
LAB_PIDS=()
LAB_LOCK_FD=9  # replaced by lab_wine_setup; closed in every program the lab starts, so that
               # no wineserver or server left behind could hold the lock

# lab_need_root WHO: explains and exits when the namespaces cannot be made.
lab_need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1: needs root, to create the network namespaces of its hosts (try: sudo $0)" >&2
    exit 1
  fi
  command -v ip >/dev/null || { echo "$1: needs iproute2 (the ip command)" >&2; exit 1; }
}

# lab_can_home: true when the home routers can be made (nftables' nft command).
lab_can_home() { command -v nft >/dev/null; }

# lab_host_addr HOST: the address of srv, a or b.
lab_host_addr() {
  case "$1" in
    srv) echo "$LAB_SERVER_ADDR" ;;
    a) echo "$LAB_A_ADDR" ;;
    b) echo "$LAB_B_ADDR" ;;
  esac
}

lab_ns() { echo "$LAB_ID-$1"; }

# lab_exec HOST CMD...: runs CMD inside that host.
lab_exec() {
  local host=$1
  shift
  ip netns exec "$(lab_ns "$host")" "$@" {LAB_LOCK_FD}>&-
}

# lab_names NS: the host's own /etc/hosts and resolver, read by "ip netns exec" in place of
# the machine's.
lab_names() {
  mkdir -p "/etc/netns/$1"
  printf '127.0.0.1 localhost\n%s %s\n' "$LAB_SERVER_ADDR" "$LAB_SERVER_NAME" > "/etc/netns/$1/hosts"
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "/etc/netns/$1/resolv.conf"
}

# lab_host_on_net HOST ADDR [IFNAME]: a namespace with one veth link to the router's segment.
lab_host_on_net() {
  local host=$1 addr=$2 ifname=${3:-eth0} ns
  ns=$(lab_ns "$host")
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip -n "$ns" link add "$ifname" type veth peer name "to-$host" netns "$(lab_ns net)"
  ip -n "$ns" addr add "$addr/24" dev "$ifname"
  ip -n "$ns" link set "$ifname" up
  # A default route makes 255.255.255.255 routable, as on any LAN machine.
  ip -n "$ns" route add default via "$LAB_ROUTER_ADDR" dev "$ifname"
  ip -n "$(lab_ns net)" addr add "$LAB_ROUTER_ADDR/32" dev "to-$host"
  ip -n "$(lab_ns net)" link set "to-$host" up
  ip -n "$(lab_ns net)" route add "$addr/32" dev "to-$host"
  ip netns exec "$(lab_ns net)" sysctl -qw "net.ipv4.conf.to-$host.proxy_arp=1"
  ip netns exec "$(lab_ns net)" sysctl -qw "net.ipv4.conf.to-$host.rp_filter=0"
  lab_names "$ns"
}

# lab_home ROUTER HOST PUBLIC HOME RANDOM: a home router on the router's segment at PUBLIC
# and at HOME (a /26) on the home network, with HOST behind it.
lab_home() {
  local router=$1 host=$2 public=$3 home=$4 random=$5 rns hns
  lab_host_on_net "$router" "$public" wan
  rns=$(lab_ns "$router")
  hns=$(lab_ns "$host")
  ip netns exec "$rns" sysctl -qw net.ipv4.ip_forward=1
  ip netns add "$hns"
  ip -n "$hns" link set lo up
  ip -n "$hns" link add eth0 type veth peer name lan netns "$rns"
  ip -n "$rns" addr add "$home/26" dev lan
  ip -n "$rns" link set lan up
  ip -n "$hns" addr add "$(lab_host_addr "$host")/26" dev eth0
  ip -n "$hns" link set eth0 up
  ip -n "$hns" route add default via "$home" dev eth0
  lab_names "$hns"
  # What leaves through the outside gets the router's address; from outside, only answers
  # to what the home sent come in, to the router itself or through it.
  ip netns exec "$rns" nft -f - <<NFT
table ip home {
  chain post { type nat hook postrouting priority srcnat; oifname "wan" masquerade $random; }
  chain input { type filter hook input priority filter; policy accept;
    iifname "wan" ct state established,related accept; iifname "wan" drop; }
  chain forward { type filter hook forward priority filter; policy accept;
    iifname "wan" ct state established,related accept; iifname "wan" drop; }
}
NFT
}

# lab_up ID [home|home-random]: creates the hosts and the router (see the top of this
# file). ID must be unique on the machine (it names the namespaces) and at most 10
# characters.
lab_up() {
  LAB_ID=$1
  local mode=${2:-flat}
  ip netns add "$(lab_ns net)"
  ip -n "$(lab_ns net)" link set lo up
  ip netns exec "$(lab_ns net)" sysctl -qw net.ipv4.ip_forward=1
  ip netns exec "$(lab_ns net)" sysctl -qw net.ipv4.conf.all.rp_filter=0
  lab_host_on_net srv "$LAB_SERVER_ADDR"
  case "$mode" in
    flat)
      LAB_HOSTS=(srv a b net)
      lab_host_on_net a "$LAB_A_ADDR"
      lab_host_on_net b "$LAB_B_ADDR"
      ;;
    home|home-random)
      local random=""
      [ "$mode" = home-random ] && random="random"
      LAB_HOSTS=(srv ra rb a b net)
      LAB_A_ADDR=198.51.100.2 LAB_B_ADDR=198.51.100.66
      LAB_A_PUBLIC=203.0.113.21 LAB_B_PUBLIC=203.0.113.22
      lab_home ra a "$LAB_A_PUBLIC" 198.51.100.1 "$random"
      lab_home rb b "$LAB_B_PUBLIC" 198.51.100.65 "$random"
      ;;
    *) echo "netlab: unknown lab '$mode'" >&2; return 1 ;;
  esac
}

# lab_bg HOST LOG CMD...: starts CMD inside HOST in the background, its output into LOG;
# the pid goes to LAB_LAST_PID and into the list that lab_down ends. CMD runs in a session
# of its own, so a Ctrl+C at the terminal reaches it only through lab_down (the group
# server outlives the sessions that are still ending).
lab_bg() {
  local host=$1 log=$2
  shift 2
  : > "$log"  # there at once, for a reader that follows it
  ip netns exec "$(lab_ns "$host")" setsid "$@" > "$log" 2>&1 {LAB_LOCK_FD}>&- &
  LAB_LAST_PID=$!
  LAB_PIDS+=("$LAB_LAST_PID")
}

# lab_program_pids HOST NAME: Unix pids of the processes in HOST whose command line holds
# NAME (e.g. netquest.exe: Wine shows a Windows program's own command line).
lab_program_pids() {
  local pid
  for pid in $(ip netns pids "$(lab_ns "$1")" 2>/dev/null); do
    tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -qiF "$2" && echo "$pid"
  done
  return 0
}

# lab_down: ends every process of the lab and removes the namespaces. Safe to call twice.
lab_down() {
  [ -n "$LAB_ID" ] || return 0
  local pid host ns i alive
  # Politely first: orbserver closes its members' connections on SIGTERM (within 3 s).
  for pid in "${LAB_PIDS[@]+"${LAB_PIDS[@]}"}"; do kill "$pid" 2>/dev/null || true; done
  for i in $(seq 30); do
    alive=0
    for pid in "${LAB_PIDS[@]+"${LAB_PIDS[@]}"}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  for host in a b; do
    [ -n "${LAB_WINE_ROOT:-}" ] || break
    ns=$(lab_ns "$host")
    ip netns exec "$ns" env WINEPREFIX="$(lab_prefix "$host")" wineserver -k >/dev/null 2>&1 || true
  done
  # Whatever still runs inside our namespaces was started by us (wine's helpers included).
  for host in "${LAB_HOSTS[@]}"; do
    for pid in $(ip netns pids "$(lab_ns "$host")" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
  done
  for pid in "${LAB_PIDS[@]+"${LAB_PIDS[@]}"}"; do wait "$pid" 2>/dev/null || true; done
  for host in "${LAB_HOSTS[@]}"; do
    ns=$(lab_ns "$host")
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
  done
  LAB_PIDS=()
  LAB_ID=""
  LAB_A_ADDR=203.0.113.11 LAB_B_ADDR=203.0.113.12
  LAB_A_PUBLIC=$LAB_A_ADDR LAB_B_PUBLIC=$LAB_B_ADDR
}

# lab_lossy_links PROGRAM LOG DELAY_MS JITTER_MS LOSS [SEED]: from now on PROGRAM (the native
# build's bench/e2e/lossy_router) forwards between the hosts in the router, giving every
# link DELAY_MS +/- JITTER_MS of delay and LOSS (0 to 1) of loss in each direction, where
# the kernel has no netem. The kernel's routes to the hosts become blackholes, so it no
# longer forwards (nor answers ARP for the hosts): each host is told the router's address
# for the others instead. Lasts until lab_down.
lab_lossy_links() {
  local program=$1 log=$2 delay=$3 jitter=$4 loss=$5 seed=${6:-1}
  local host other ns mac i args=()
  for host in srv a b; do
    ns=$(lab_ns "$host")
    mac=$(ip -n "$ns" -br link show eth0 | awk '{print $3}')
    args+=(--host "$(lab_host_addr "$host"),to-$host,$mac")
    mac=$(ip -n "$(lab_ns net)" -br link show "to-$host" | awk '{print $3}')
    for other in srv a b; do
      [ "$other" = "$host" ] && continue
      ip -n "$ns" neigh replace "$(lab_host_addr "$other")" lladdr "$mac" dev eth0 nud permanent
    done
  done
  lab_bg net "$log" "$program" --delay-ms "$delay" --jitter-ms "$jitter" --loss "$loss" \
    --seed "$seed" "${args[@]}"
  for i in $(seq 50); do
    grep -q "links, delay" "$log" && break
    kill -0 "$LAB_LAST_PID" 2>/dev/null || { cat "$log" >&2; return 1; }
    sleep 0.1
  done
  for host in srv a b; do
    ip -n "$(lab_ns net)" route replace blackhole "$(lab_host_addr "$host")/32"
  done
}

# --- Wine ------------------------------------------------------------------------------

# lab_wine_setup WINE_ROOT: where the prefixes live (build/win32/wine; the Wine tests keep
# their template there too). Takes the lab lock: the player prefixes are shared by the
# demo, the tests and the benchmark of one build tree, which therefore run one at a time.
# Returns 77 where this machine cannot run the build's Wine (wine-env.sh).
lab_wine_setup() {
  LAB_WINE_ROOT=$1
  mkdir -p "$LAB_WINE_ROOT"
  exec {LAB_LOCK_FD}>"$LAB_WINE_ROOT/.lab.lock"
  # Wait for another run of this build tree to finish.
  if ! flock -w 900 "$LAB_LOCK_FD"; then
    echo "netlab: another demo or test of this build tree holds the Wine prefixes" >&2
    return 1
  fi
  # shellcheck source=../tools/wine-env.sh
  source "$LAB_TOP/tools/wine-env.sh"  # ORB_WINE_ARCH comes from the build's orblan-lab.env
  local template="$LAB_WINE_ROOT/template"
  bash "$LAB_TOP/tools/wine-template.sh" "$LAB_WINE_ROOT" || return
  local host
  for host in a b; do
    if [ ! -f "$(lab_prefix "$host")/.orb-ready" ]; then
      rm -rf "$(lab_prefix "$host")"
      cp -a "$template" "$(lab_prefix "$host")"
    fi
  done
}

lab_prefix() { echo "$LAB_WINE_ROOT/prefix-lab-$1"; }

# lab_winpath PATH: the Windows form of an absolute Unix path (Wine's Z: drive).
lab_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# lab_wine HOST [ENV=VALUE...] -- PROGRAM.exe ARGS...: runs a Windows program inside HOST.
# The game loads wsock32.dll from its own directory first (the shim, once orblan placed it).
lab_wine() {
  local host=$1
  shift
  local envs=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do envs+=("$1"); shift; done
  shift
  ip netns exec "$(lab_ns "$host")" env -u DISPLAY WINEPREFIX="$(lab_prefix "$host")" \
    WINEDLLOVERRIDES="mscoree,mshtml=;wsock32=n,b" "${envs[@]+"${envs[@]}"}" "$ORB_WINE" "$@" {LAB_LOCK_FD}>&-
}

# lab_track PID: a background process (started with &) that lab_down must end.
lab_track() {
  LAB_LAST_PID=$1
  LAB_PIDS+=("$1")
}

# lab_stage_player DIR: lays out one player's machine under DIR, from the programs that
# the Windows build lists in orblan-lab.env (ORB_ORBLAUNCH, ORB_ORBLAN, ...):
#   DIR/orblan/  orblaunch.exe, orblan.dll, orbws.dll     (what a player installs)
#   DIR/game/    netquest.exe, SCRIBE.DLL                 (the game, and the shim's logger)
#   DIR/trace/   the shim's trace files
lab_stage_player() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir/orblan" "$dir/game" "$dir/trace"
  cp "$ORB_ORBLAUNCH" "$ORB_ORBLAN" "$ORB_ORBWS" "$dir/orblan/"
  cp "$ORB_NETQUEST" "$ORB_SCRIBE" "$dir/game/"
}
