#!/usr/bin/env bash
# The main job, on a fresh Debian 12 machine as root: install what the Linux build needs,
# build Rizi.lmd and rizi-host (Release, build/linux), start the real time servers on
# loopback, ask them for the time through the plug-in, directly and in the background, and stop
# the servers again.
# Usage: demo.sh [SERVER]   (default 127.0.0.1, the loopback servers started here)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
server=${1:-127.0.0.1}
jobs=${RIZI_JOBS:-2}

echo "== installing the Linux build's dependencies"
bash scripts/install-deps.sh --linux-only

echo "== building build/linux (Release)"
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIZI_TESTS=OFF >/dev/null
ninja -C build/linux -j"$jobs" host plugin

echo "== starting the loopback time servers"
# Servers that already run (a test run's, for instance) are used and left running; only those
# this run starts are stopped at the end. The trap comes first: a start that fails half-way
# leaves none of ours behind.
ours=()
for name in chronyd xinetd lab; do
    if pid=$(bash scripts/servers.sh running "$name"); then
        echo "demo: $name already runs (pid $pid); it is used and left running"
    else
        ours+=("$name")
    fi
done
trap '[[ ${#ours[@]} -eq 0 ]] || bash "$root/scripts/servers.sh" stop "${ours[@]}"' EXIT
bash scripts/servers.sh start

echo "== rizi-host run examples/clock.lua $server"
build/linux/bin/rizi-host run examples/clock.lua "$server"

# Three queries in the background at once; without SERVER, against the loopback servers and
# five of the NTP lab's.
echo "== rizi-host run examples/background.lua${1:+ $1}"
build/linux/bin/rizi-host run examples/background.lua ${1:+"$1"}
