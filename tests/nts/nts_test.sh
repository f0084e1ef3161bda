#!/usr/bin/env bash
# Rizi.QueryNTS and nts:// sources end to end against real servers on loopback, with
# certificates from a private CA made here (good, from another CA, expired, for another name):
#   chronyd A     NTS-KE on 127.0.0.1:14460, NTP on 127.0.0.1:11123 and [::1]:11123, serving
#                 this machine's clock (local stratum 10), never touching it (-x)
#   chronyd B     NTS-KE on 127.0.0.1:14461, NTP on 127.0.0.1:11124; its key exchange names
#                 127.0.0.3 as the NTP server, where relay.py listens
#   relay.py      NTP on 127.0.0.3:11124 to chronyd B, the replies as relay.mode says; TCP
#                 4460 and 4461 (127.0.0.1 and [::1]) to chronyd A's and B's key exchange, and
#                 14492 to the silent port, each connection counted in ke.PORT
#   ke_server     scripted key exchanges on 127.0.0.1:14470-14481 (see nts.lua)
#   odd_servers   tests/https/odd_servers.py: HTTPS with a Date on 14490, silent on 14491
# The test CA is trusted only in a private mount namespace in which a bundle of the system's
# roots and the test CA is bound over the system's bundle; it is never installed. chronyd's
# own NTS client measures A and B (through the relay) first, so that a failure there blames
# the servers, not Rizi. Needs root (CI is root); exits 77 (skipped) otherwise. Also needs
# the loopback time servers of scripts/servers.sh (chronyd on 127.0.0.1:123).
# Usage: nts_test.sh servers EMULATOR HOST PLUGIN WORK_DIR KE_SERVER
#   servers  tests/nts/nts.lua; under wine (EMULATOR set) through a copy of the wine prefix
#            whose wineserver starts inside the namespace, since wine reads the roots once per
#            wineserver
# shellcheck disable=SC2016,SC2317 # bash -c expands its own arguments; stop runs on exit
set -uo pipefail

mode=$1 emulator=$2 host=$(realpath "$3") plugin=$(realpath "$4") work=$5
ke_server=$(realpath "$6")
here=$(cd "$(dirname "$0")" && pwd)
wineserver=$(dirname "${emulator%% *}")/wineserver
bundle=/etc/ssl/certs/ca-certificates.crt
export LUA_PATH="$here/../lua/?.lua"

[[ $mode == servers ]] || { echo "not ok: unknown mode $mode"; exit 1; }
[[ $(id -u) == 0 ]] || { echo "skipped: needs root for mount namespaces and chronyd"; exit 77; }
command -v chronyd >/dev/null || { echo "skipped: no chronyd"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

# One run at a time on these ports (several build folders may test at once).
exec 9>/tmp/rizi-nts-test.lock
flock 9
for port in 4460 4461 11123 11124 14460 14461 $(seq 14470 14481) 14490 14491 14492; do
    if ss -Hlntu "sport = :$port" | grep -q .; then
        echo "not ok: port $port is taken by another program"
        exit 1
    fi
done

# nts.lua through the host, bounded so that the servers are always stopped; the emulator may
# be a command with arguments. It runs in this folder: relay.mode and ke.PORT are here.
read -ra lua <<<"$emulator"
target=linux
[[ -n $emulator ]] && target=wine
lua=(timeout 150 "${lua[@]}" "$host" --plugin "$plugin" run "$here/nts.lua" "$target")

# bound FILE TARGET COMMAND...: COMMAND in a private mount namespace with FILE over TARGET.
bound() {
    unshare -m --propagation private -- bash -c 'mount --bind "$1" "$2" && shift 2 && "$@"' \
        _ "$@"
}

# The certificates: test CA, another CA; for localhost, 127.0.0.1 and ::1 from each, an
# expired one, one for another name.
source "$here/../support/test_ca.sh"
test_ca_init
local_names=DNS:localhost,IP:127.0.0.1,IP:::1
{
    ca test-ca && ca other-ca && ca spare-ca &&
        cert good test-ca $local_names "$from" "$to" &&
        cert other other-ca $local_names "$from" "$to" &&
        cert expired test-ca $local_names 20200101000000Z 20200201000000Z &&
        cert wrong-name test-ca DNS:wrong-name.example "$from" "$to"
} >certs.log 2>&1 || { cat certs.log; echo "not ok: certificates"; exit 1; }
# The test CA second, after a CA that no server here uses: a reader of the bundle that takes
# only its first root, or loses every other one, fails the good key exchanges.
cat spare-ca.pem test-ca.pem "$bundle" >bundle.crt

# The servers, stopped by their PIDs on exit, and wine's server for the copied prefix.
pids=()
stop() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    [[ -d prefix ]] && WINEPREFIX=$PWD/prefix "$wineserver" -k 2>/dev/null
    wait
    rm -rf prefix
}
trap stop EXIT

# chronyd NAME NTS_PORT NTP_PORT [DIRECTIVE...]: an NTS server in the foreground (-d), its
# key exchange in the main process (ntsprocesses 0), no command socket.
chronyd_server() {
    local name=$1 nts_port=$2 ntp_port=$3
    shift 3
    mkdir -p "$name.keys"
    printf '%s\n' "local stratum 10" "allow 127.0.0.1" "allow ::1" \
        "bindaddress 127.0.0.1" "bindaddress ::1" "port $ntp_port" "ntsport $nts_port" \
        "ntsprocesses 0" "ntsserverkey $PWD/good.key" "ntsservercert $PWD/good.crt" \
        "ntsdumpdir $PWD/$name.keys" "cmdport 0" "bindcmdaddress /" \
        "pidfile $PWD/$name.pid" "driftfile $PWD/$name.drift" "$@" >"$name.conf"
    chronyd -d -x -u root -f "$name.conf" >"$name.log" 2>&1 &
    pids+=($!)
}
chronyd_server chronyd-a 14460 11123
chronyd_server chronyd-b 14461 11124 "ntsntpserver 127.0.0.3"
/usr/bin/python3 "$here/relay.py" "$PWD" 127.0.0.3 11124 4460:14460 4461:14461 14492:14491 \
    >relay.log 2>&1 &
pids+=($!)
/usr/bin/python3 "$here/../https/odd_servers.py" 14490 good.crt good.key >odd.log 2>&1 &
pids+=($!)
# The scripted key exchanges, in the order nts.lua numbers them from 14470: MODE:CERTIFICATE.
ke_modes=(good:other good:expired good:wrong-name tls12:good no-alpn:good error:good
    no-cookie:good other-aead:good unknown-critical:good oversized:good flood:good
    truncated:good)
for i in "${!ke_modes[@]}"; do
    name=${ke_modes[i]%%:*} certificate=${ke_modes[i]#*:}
    "$ke_server" $((14470 + i)) "$certificate.crt" "$certificate.key" "$name" >"ke-$i.log" 2>&1 &
    pids+=($!)
done

# Ready: the programs that say so have, and chronyd's ports accept connections.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in $(seq 50); do
    ready=1
    for log in relay.log odd.log ke-*.log; do grep -q ready "$log" || ready=0; done
    listening 14460 && listening 14461 || ready=0
    [[ $ready == 1 ]] && break
    sleep 0.1
done
if [[ $ready != 1 ]]; then
    tail -n 5 ./*.log
    echo "not ok: the servers did not start"
    exit 1
fi

# chronyd's own NTS client measures A, and B through the relay, at once: the servers work.
measure() { # NAME KE_PORT
    printf '%s\n' "server localhost iburst nts ntsport $2 maxsamples 1" \
        "ntstrustedcerts $PWD/test-ca.pem" "nosystemcert" "cmdport 0" "bindcmdaddress /" \
        "pidfile $PWD/$1.pid" >"$1.conf"
    timeout 20 chronyd -Q -t 10 -u root -f "$1.conf" >"$1.log" 2>&1 &&
        grep -q "System clock wrong by" "$1.log"
}
measure check-a 4460 & a=$!
measure check-b 4461 & b=$!
if ! wait $a; then
    cat check-a.log chronyd-a.log
    echo "not ok: chronyd's own NTS client cannot measure chronyd A"
    exit 1
fi
if ! wait $b; then
    cat check-b.log chronyd-b.log relay.log
    echo "not ok: chronyd's own NTS client cannot measure chronyd B through the relay"
    exit 1
fi

if [[ -z $emulator ]]; then
    bound bundle.crt "$bundle" "${lua[@]}" </dev/null
    status=$?
    [[ $status == 124 ]] && echo "not ok: nts.lua did not end in 150 s: a call that never returns"
    # rizi-host query prints an NTS server's line as an NTP server's, marked authenticated.
    line=$(bound bundle.crt "$bundle" timeout 30 "$host" --plugin "$plugin" query \
        nts://localhost </dev/null 2>&1)
    if [[ $line != nts://localhost*" s10 "*authenticated ]]; then
        echo "not ok: rizi-host query nts://localhost: $line"
        status=1
    fi
    exit $status
fi

# Wine: a private copy of the prefix (a few seconds; its registry may keep the roots it read)
# whose wineserver starts in the namespace, and one warm-up run that starts wine's services
# away from our output, which they would otherwise hold open.
cp -a "${WINEPREFIX:-$HOME/.wine}" prefix || { echo "not ok: no wine prefix to copy"; exit 1; }
export WINEPREFIX=$PWD/prefix
bound bundle.crt "$bundle" bash -c \
    '"$1" -p && "$2" cmd /c exit 0 </dev/null >/dev/null 2>&1 && "${@:3}"; s=$?; "$1" -k; exit $s' \
    _ "$wineserver" "${emulator%% *}" "${lua[@]}" </dev/null
status=$?
[[ $status == 124 ]] && echo "not ok: nts.lua did not end in 150 s: a call that never returns"
exit $status
