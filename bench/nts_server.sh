#!/usr/bin/env bash
# A loopback NTS server for the benchmark of Rizi.QueryNTS: chronyd serving its own clock
# (local stratum 8, never touching the system clock), its key exchange on TCP 14431 and NTP
# on UDP 14432, both on 127.0.0.31 and ::1, with a certificate for localhost, 127.0.0.31 and
# ::1 from a test CA made here at each start. The ports are none that the tests use, so that
# both may run at once. Also writes bundle.crt: the system's roots and the test CA, which
# rizi-bench-retrieval binds over the system's bundle for itself alone; nothing is installed.
# rizi-bench-retrieval starts and stops it itself.
# Usage: nts_server.sh start|stop
# Keys, certificates, configuration, pid, drift and log files live in $RIZI_NTS_SERVER_DIR
# (default /tmp/rizi-bench-nts). Needs root (chronyd's privileges are not dropped).
set -euo pipefail

state=${RIZI_NTS_SERVER_DIR:-/tmp/rizi-bench-nts}
address=127.0.0.31
ke_port=14431
ntp_port=14432
system_bundle=/etc/ssl/certs/ca-certificates.crt
wait_tenths=50 # how long start and stop wait for the server, in tenths of a second
# shellcheck source=../tests/support/test_ca.sh
source "$(cd "$(dirname "$0")" && pwd)/../tests/support/test_ca.sh"

say() { echo "nts server: $*"; }
die() {
    echo "nts server: $*" >&2
    exit 1
}

# One SNTP request to ADDRESS:PORT; succeeds on a server reply that echoes our transmit time.
probe() {
    python3 - "$1" "$2" <<'EOF' 2>/dev/null
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.5)
req = bytearray(48)
req[0] = 0x23
req[40:48] = bytes.fromhex("123456789abcdef0")
s.sendto(req, (sys.argv[1], int(sys.argv[2])))
reply, _ = s.recvfrom(512)
sys.exit(0 if len(reply) >= 48 and reply[0] & 7 == 4 and reply[24:32] == req[40:48] else 1)
EOF
}

listening() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

# Prints the PID from the pid file when that process is alive and is chronyd.
live_pid() {
    local pid
    [[ -f $state/chronyd.pid ]] || return 1
    pid=$(tr -dc '0-9' <"$state/chronyd.pid")
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

# The test CA and the server's certificate, valid from a day ago to a day ahead; then the
# bundle of the system's roots and the test CA.
make_certificates() {
    test_ca_init &&
        ca test-ca &&
        cert server test-ca "DNS:localhost,IP:$address,IP:::1" "$from" "$to" &&
        cat "$system_bundle" test-ca.pem >bundle.crt
}

start() {
    command -v chronyd >/dev/null || die "chronyd not installed (apt-get install chrony)"
    command -v openssl >/dev/null || die "openssl not installed"
    mkdir -p "$state/keys"
    cd "$state"
    if ! live_pid >/dev/null; then
        make_certificates >certs.log 2>&1 || die "no certificates; see $state/certs.log"
        # ntsprocesses 0: the key exchange in chronyd's main process, as the tests run it.
        # allow: the whole loopback net, as a request to 127.0.0.31 leaves from 127.0.0.1.
        cat >chronyd.conf <<EOF
local stratum 8
allow 127.0.0.0/8
allow ::1
bindaddress $address
bindaddress ::1
port $ntp_port
ntsport $ke_port
ntsprocesses 0
ntsserverkey $state/server.key
ntsservercert $state/server.crt
ntsdumpdir $state/keys
cmdport 0
bindcmdaddress /
pidfile $state/chronyd.pid
driftfile $state/chronyd.drift
EOF
        rm -f chronyd.pid
        # -x: never adjust the system clock; -u root: our private folder stays readable.
        chronyd -x -u root -f "$state/chronyd.conf" -l "$state/chronyd.log" ||
            die "chronyd failed to start; see $state/chronyd.log"
    fi
    wait_until listening "$address" "$ke_port" ||
        die "no key exchange on TCP $address:$ke_port; see $state/chronyd.log"
    wait_until probe "$address" "$ntp_port" ||
        die "chronyd does not answer on UDP $address:$ntp_port"
    say "key exchange on $address and ::1 port $ke_port, NTP port $ntp_port"
}

stop() {
    local pid i
    pid=$(live_pid) || {
        rm -f "$state/chronyd.pid"
        say "stopped"
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
    rm -f "$state/chronyd.pid"
    say "stopped"
}

case "${1:-}" in
start) start ;;
stop) stop ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
