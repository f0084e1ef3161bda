#!/usr/bin/env bash
# Real time servers on loopback for the tests and the demo:
#   chronyd serving its own clock (SNTP) on UDP 127.0.0.1:123, never touching the system clock;
#   xinetd's internal RFC 868 "time" service on TCP 127.0.0.1:37;
#   the NTP lab (tests/servers/ntp_lab.py): servers with known faults on UDP 127.0.0.1:12301
#   to 12314 (and [::1]:12301, 12302), for the measurement functions.
# Usage: servers.sh start|stop [chronyd|xinetd|lab ...]   (default: all three)
#        servers.sh status
#        servers.sh running chronyd|xinetd|lab   (exit 0 and its PID when it runs)
# Private configuration, pid and log files live in $RIZI_SERVERS_DIR (default /tmp/rizi-servers).
# Ports 123 and 37 need root (or a private network namespace: unshare -rn, with lo up).
set -euo pipefail

state=${RIZI_SERVERS_DIR:-/tmp/rizi-servers}
chrony_pid=$state/chronyd.pid
xinetd_pid=$state/xinetd.pid
lab_pid=$state/ntp_lab.pid
lab_script=$(cd "$(dirname "$0")/.." && pwd)/tests/servers/ntp_lab.py
wait_tenths=50 # how long start and stop wait for a server, in tenths of a second

say() { echo "servers: $*"; }
die() {
    echo "servers: $*" >&2
    exit 1
}

# One SNTP request (mode 3, version 3) to 127.0.0.1:123; succeeds on a server reply (mode 4)
# that echoes our transmit time as its originate time.
probe_sntp() {
    python3 - <<'EOF' 2>/dev/null
import socket, struct, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.5)
req = bytearray(48)
req[0] = 0x1B
req[40:48] = struct.pack("!II", 0x12345678, 0x9ABCDEF0)
s.sendto(req, ("127.0.0.1", 123))
reply, _ = s.recvfrom(512)
ok = len(reply) >= 48 and reply[0] & 7 == 4 and reply[24:32] == req[40:48]
sys.exit(0 if ok else 1)
EOF
}

# The lab's honest server on UDP 127.0.0.1:12301 answers a request.
probe_lab() {
    python3 - <<'EOF' 2>/dev/null
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.5)
s.sendto(b"\x23" + bytes(47), ("127.0.0.1", 12301))
reply, _ = s.recvfrom(512)
sys.exit(0 if len(reply) >= 48 and reply[0] & 7 == 4 else 1)
EOF
}

# Reads the 4-byte RFC 868 answer from 127.0.0.1:37.
probe_time() {
    python3 - <<'EOF' 2>/dev/null
import socket, sys
s = socket.create_connection(("127.0.0.1", 37), 0.5)
s.settimeout(0.5)
data = b""
while len(data) < 4:
    piece = s.recv(4 - len(data))
    if not piece:
        break
    data += piece
sys.exit(0 if len(data) == 4 else 1)
EOF
}

# Prints the PID from a pid file when that process is alive and is the named program.
live_pid() {
    local file=$1 program=$2 pid
    [[ -f $file ]] || return 1
    pid=$(tr -dc '0-9' <"$file")
    [[ -n $pid && -r /proc/$pid/comm ]] || return 1
    [[ $(cat "/proc/$pid/comm") == "$program" ]] || return 1
    echo "$pid"
}

# Waits until the probe succeeds; fails after wait_tenths.
wait_until() {
    local i
    for ((i = 0; i < wait_tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

write_configs() {
    mkdir -p "$state"
    # local stratum 8: serve our own clock with no upstream source; cmdport 0 and
    # bindcmdaddress / switch off both command sockets.
    cat >"$state/chrony.conf" <<EOF
local stratum 8
allow 127.0.0.1
bindaddress 127.0.0.1
port 123
cmdport 0
bindcmdaddress /
pidfile $chrony_pid
driftfile $state/chrony.drift
EOF
    # The default cps limit switches a service off for 10 s after 50 connections a second;
    # a test run opens more than that.
    cat >"$state/xinetd.conf" <<EOF
defaults
{
    instances = UNLIMITED
}
service time
{
    type        = INTERNAL
    id          = time-stream
    socket_type = stream
    protocol    = tcp
    wait        = no
    user        = root
    bind        = 127.0.0.1
    port        = 37
    flags       = NOLIBWRAP
    cps         = 100000 1
    disable     = no
}
EOF
}

start_chronyd() {
    if live_pid "$chrony_pid" chronyd >/dev/null; then
        say "chronyd already running (pid $(live_pid "$chrony_pid" chronyd))"
    else
        command -v chronyd >/dev/null || die "chronyd not installed (apt-get install chrony)"
        rm -f "$chrony_pid"
        # -x: never adjust the system clock; -u root: no switch to the _chrony user, which
        # could not write to our private state folder.
        chronyd -x -u root -f "$state/chrony.conf" -l "$state/chronyd.log" ||
            die "chronyd failed to start; see $state/chronyd.log"
    fi
    wait_until probe_sntp ||
        die "chronyd does not answer SNTP on UDP 127.0.0.1:123; see $state/chronyd.log"
    say "chronyd answers on UDP 127.0.0.1:123 (pid $(live_pid "$chrony_pid" chronyd))"
}

start_xinetd() {
    if live_pid "$xinetd_pid" xinetd >/dev/null; then
        say "xinetd already running (pid $(live_pid "$xinetd_pid" xinetd))"
    else
        command -v xinetd >/dev/null || die "xinetd not installed (apt-get install xinetd)"
        rm -f "$xinetd_pid"
        xinetd -f "$state/xinetd.conf" -pidfile "$xinetd_pid" -filelog "$state/xinetd.log" ||
            die "xinetd failed to start; see $state/xinetd.log"
    fi
    wait_until probe_time ||
        die "xinetd does not answer RFC 868 on TCP 127.0.0.1:37; see $state/xinetd.log"
    say "xinetd answers on TCP 127.0.0.1:37 (pid $(live_pid "$xinetd_pid" xinetd))"
}

start_lab() {
    if live_pid "$lab_pid" python3 >/dev/null; then
        say "the NTP lab already running (pid $(live_pid "$lab_pid" python3))"
    else
        rm -f "$lab_pid"
        # setsid: out of the caller's process group, like the daemons.
        setsid python3 "$lab_script" --pid-file "$lab_pid" >"$state/ntp_lab.log" 2>&1 &
    fi
    wait_until probe_lab ||
        die "the NTP lab does not answer on UDP 127.0.0.1:12301; see $state/ntp_lab.log"
    say "the NTP lab answers on UDP 127.0.0.1:12301-12314 (pid $(live_pid "$lab_pid" python3))"
}

stop_one() {
    local file=$1 program=$2 pid i
    if ! pid=$(live_pid "$file" "$program"); then
        rm -f "$file"
        say "$program not running"
        return 0
    fi
    kill "$pid"
    for ((i = 0; i < wait_tenths; i++)); do
        [[ -d /proc/$pid ]] || break
        sleep 0.1
    done
    if [[ -d /proc/$pid ]]; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$file"
    say "$program stopped (pid $pid)"
}

status_one() {
    local file=$1 program=$2 probe=$3 where=$4 pid
    if ! pid=$(live_pid "$file" "$program"); then
        say "$program not running"
        return 1
    fi
    if "$probe"; then
        say "$program running (pid $pid), answers on $where"
    else
        say "$program running (pid $pid) but does not answer on $where"
        return 1
    fi
}

# The pid file of a server named on the command line.
pid_file() {
    case $1 in
    chronyd) echo "$chrony_pid" ;;
    xinetd) echo "$xinetd_pid" ;;
    lab) echo "$lab_pid" ;;
    *) die "unknown server '$1' (chronyd, xinetd or lab)" ;;
    esac
}

# The program name a server's process has (the lab is a Python script).
program_of() {
    case $1 in
    lab) echo python3 ;;
    *) echo "$1" ;;
    esac
}

command=${1:-}
shift || true
names=("$@")
[[ ${#names[@]} -gt 0 ]] || names=(chronyd xinetd lab)
case "$command" in
start)
    for name in "${names[@]}"; do
        pid_file "$name" >/dev/null
    done
    write_configs
    for name in "${names[@]}"; do
        "start_$name"
    done
    ;;
stop)
    for name in "${names[@]}"; do
        stop_one "$(pid_file "$name")" "$(program_of "$name")"
    done
    ;;
running)
    [[ $# -eq 1 ]] || die "usage: $0 running chronyd|xinetd|lab"
    live_pid "$(pid_file "$1")" "$(program_of "$1")"
    ;;
status)
    rc=0
    status_one "$chrony_pid" chronyd probe_sntp "UDP 127.0.0.1:123" || rc=3
    status_one "$xinetd_pid" xinetd probe_time "TCP 127.0.0.1:37" || rc=3
    status_one "$lab_pid" python3 probe_lab "UDP 127.0.0.1:12301" || rc=3
    exit $rc
    ;;
*)
    echo "usage: $0 start|stop [chronyd|xinetd|lab ...] | status | running chronyd|xinetd|lab" >&2
    exit 2
    ;;
esac
