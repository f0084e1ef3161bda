#!/usr/bin/env bash
# Five more loopback NTP servers for the benchmark of Rizi.QueryNTPServers: chronyd serving
# its own clock on UDP 127.0.0.11 to 127.0.0.15, port 123, configured as in scripts/servers.sh
# (local stratum 8, no command sockets, never touching the system clock). rizi-bench-retrieval
# starts them itself when they are not running, and stops what it started.
# Usage: extra_servers.sh start|stop
# Private configuration, pid, drift and log files live in $RIZI_EXTRA_SERVERS_DIR (default
# /tmp/rizi-bench-servers). Port 123 needs root (or a private network namespace).
set -euo pipefail

state=${RIZI_EXTRA_SERVERS_DIR:-/tmp/rizi-bench-servers}
addresses=(127.0.0.11 127.0.0.12 127.0.0.13 127.0.0.14 127.0.0.15)
wait_tenths=50 # how long start and stop wait for a server, in tenths of a second

say() { echo "extra servers: $*"; }
die() {
    echo "extra servers: $*" >&2
    exit 1
}

# One SNTP request to address:123; succeeds on a server reply that echoes our transmit time.
probe() {
    python3 - "$1" <<'EOF' 2>/dev/null
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.5)
req = bytearray(48)
req[0] = 0x23
req[40:48] = bytes.fromhex("123456789abcdef0")
s.sendto(req, (sys.argv[1], 123))
reply, _ = s.recvfrom(512)
sys.exit(0 if len(reply) >= 48 and reply[0] & 7 == 4 and reply[24:32] == req[40:48] else 1)
EOF
}

# Prints the PID from a pid file when that process is alive and is chronyd.
live_pid() {
    local file=$1 pid
    [[ -f $file ]] || return 1
    pid=$(tr -dc '0-9' <"$file")
    [[ -n $pid && -r /proc/$pid/comm ]] || return 1
    [[ $(cat "/proc/$pid/comm") == chronyd ]] || return 1
    echo "$pid"
}

wait_until() {
    local i
    for ((i = 0; i < wait_tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

start_one() {
    local address=$1 conf=$state/$1.conf pidfile=$state/$1.pid
    if ! live_pid "$pidfile" >/dev/null; then
        # allow: the whole loopback net, as a request to 127.0.0.11 leaves from 127.0.0.1.
        cat >"$conf" <<EOF
local stratum 8
allow 127.0.0.0/8
bindaddress $address
port 123
cmdport 0
bindcmdaddress /
pidfile $pidfile
driftfile $state/$address.drift
EOF
        rm -f "$pidfile"
        # -x: never adjust the system clock; -u root: our private folder stays writable.
        chronyd -x -u root -f "$conf" -l "$state/$address.log" ||
            die "chronyd failed to start on $address; see $state/$address.log"
    fi
    wait_until probe "$address" || die "chronyd does not answer on UDP $address:123"
}

stop_one() {
    local pidfile=$state/$1.pid pid i
    pid=$(live_pid "$pidfile") || {
        rm -f "$pidfile"
        return 0
    }
    kill "$pid"
    for ((i = 0; i < wait_tenths; i++)); do
        [[ -d /proc/$pid ]] || break
        sleep 0.1
    done
    if [[ -d /proc/$pid ]]; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
}

case "${1:-}" in
start)
    command -v chronyd >/dev/null || die "chronyd not installed (apt-get install chrony)"
    mkdir -p "$state"
    for a in "${addresses[@]}"; do
        start_one "$a"
    done
    say "chronyd answers on UDP ${addresses[*]} port 123"
    ;;
stop)
    for a in "${addresses[@]}"; do
        stop_one "$a"
    done
    say "stopped"
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
