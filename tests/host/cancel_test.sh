#!/usr/bin/env bash
# Cancels that end a name lookup and a TCP connect: cancel.lua through rizi-host in a private
# network and mount namespace, where /etc/resolv.conf names a loopback name server that never
# answers and 127.0.0.1:37 takes no more connections (a listener that never accepts, its queue
# full). Needs root (or user namespaces); exits 77 (skipped) without them.
# Usage: cancel_test.sh HOST PLUGIN
set -euo pipefail
host=$1 plugin=$2
here=$(cd "$(dirname "$0")" && pwd)

if [[ ${1:-} != --inside ]]; then
    unshare -rmn true 2>/dev/null || { echo "skipped: no private namespaces here"; exit 77; }
    exec unshare -rmn bash "$0" --inside "$host" "$plugin"
fi
host=$2 plugin=$3
ip link set lo up
conf=$(mktemp) ready=$(mktemp -u)
trap 'kill $(jobs -p) 2>/dev/null; rm -f "$conf" "$ready"' EXIT
printf 'nameserver 127.0.0.3\noptions timeout:3 attempts:1\n' >"$conf"
mount --bind "$conf" /etc/resolv.conf
READY=$ready python3 - <<'PY' &
import os, socket, time
dns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
dns.bind(("127.0.0.3", 53))            # takes every question, answers none
dns_tcp = socket.socket()
dns_tcp.bind(("127.0.0.3", 53)); dns_tcp.listen(64)
time_server = socket.socket()
time_server.bind(("127.0.0.1", 37)); time_server.listen(0)   # never accepts
fillers = []
for _ in range(4):                      # fills its accept queue: later connects hang
    c = socket.socket(); c.setblocking(False)
    try: c.connect(("127.0.0.1", 37))
    except BlockingIOError: pass
    fillers.append(c)
open(os.environ["READY"], "w").close()
time.sleep(120)
PY
for _ in $(seq 100); do [[ -e $ready ]] && break; sleep 0.1; done
LUA_PATH="$here/../lua/?.lua" "$host" --plugin "$plugin" run "$here/cancel.lua"
