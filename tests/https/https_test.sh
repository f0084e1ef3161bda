#!/usr/bin/env bash
# Rizi.QueryHTTPS end to end against real web servers on 127.0.0.1, ports 18443 to 18450:
# nginx with certificates from a private CA made here (good, from another CA, expired, for
# another name) and plain http, and odd_servers.py for what nginx will not do (no Date, other
# Date forms, a silent server). The test CA is trusted only in a private mount namespace in
# which a bundle of the system's roots and the test CA is bound over the system's bundle; it
# is never installed. Needs root (CI is root); exits 77 (skipped) otherwise. Also needs the
# loopback time servers of scripts/servers.sh.
# Usage: https_test.sh servers|no-curl EMULATOR HOST PLUGIN WORK_DIR
#   servers  tests/https/https.lua; under wine (EMULATOR set) through a copy of the wine prefix
#            whose wineserver starts inside the namespace, since wine reads the roots once per
#            wineserver
#   no-curl  libcurl hidden by an empty file bound over it: the plug-in still loads
# shellcheck disable=SC2016,SC2317 # bash -c expands its own arguments; stop runs on exit
set -uo pipefail

mode=$1 emulator=$2 host=$(realpath "$3") plugin=$(realpath "$4") work=$5
here=$(cd "$(dirname "$0")" && pwd)
base=18443
wineserver=$(dirname "${emulator%% *}")/wineserver
bundle=/etc/ssl/certs/ca-certificates.crt
export LUA_PATH="$here/../lua/?.lua"

[[ $(id -u) == 0 ]] || { echo "skipped: needs root for mount namespaces"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

# https.lua through the host, bounded so that the servers are always stopped; the emulator
# may be a command with arguments.
read -ra lua <<<"$emulator"
lua=(timeout 90 "${lua[@]}" "$host" --plugin "$plugin" run "$here/https.lua" "$base")

# bound FILE TARGET COMMAND...: COMMAND in a private mount namespace with FILE over TARGET.
bound() {
    unshare -m --propagation private -- bash -c 'mount --bind "$1" "$2" && shift 2 && "$@"' \
        _ "$@"
}

if [[ $mode == no-curl ]]; then
    lib=$(ldconfig -p | awk '/libcurl\.so\.4 \(libc6,x86-64\)/ { print $NF; exit }')
    [[ -n $lib ]] || { echo "not ok: no libcurl.so.4 to hide"; exit 1; }
    : >empty
    bound empty "$(readlink -f "$lib")" "${lua[@]}" no-curl </dev/null
    exit
fi

# One run at a time on these ports (several build folders may test at once).
exec 9>/tmp/rizi-https-test.lock
flock 9

# The certificates: test CA, another CA; for localhost and 127.0.0.1 from each, an expired
# one, one for another name.
source "$here/../support/test_ca.sh"
test_ca_init
local_names=DNS:localhost,IP:127.0.0.1
{
    ca test-ca && ca other-ca &&
        cert good test-ca $local_names "$from" "$to" &&
        cert other other-ca $local_names "$from" "$to" &&
        cert expired test-ca $local_names 20200101000000Z 20200201000000Z &&
        cert wrong-name test-ca DNS:wrong-name.example "$from" "$to"
} >certs.log 2>&1 || { cat certs.log; echo "not ok: certificates"; exit 1; }
cat "$bundle" test-ca.pem >bundle.crt

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
tls_server() { # PORT NAME
    printf 'server { listen 127.0.0.1:%d ssl; ssl_certificate %s.crt; ssl_certificate_key %s.key; return 200 "ok\\n"; }\n' \
        "$((base + $1))" "$PWD/$2" "$PWD/$2"
}
cat >nginx.conf <<EOF
worker_processes 1;
pid $PWD/nginx.pid;
error_log $PWD/nginx.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $PWD/body;
    $(tls_server 0 good) $(tls_server 1 other) $(tls_server 2 expired) $(tls_server 3 wrong-name)
    server { listen 127.0.0.1:$((base + 4)); return 200 "ok\n"; }
}
EOF
nginx -p "$PWD" -e "$PWD/nginx.log" -c "$PWD/nginx.conf" -g 'daemon off;' &
pids+=($!)
/usr/bin/python3 "$here/odd_servers.py" $((base + 5)) good.crt good.key >odd.log 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    ready=1
    for port in 0 4 5 6; do
        (exec 3<>"/dev/tcp/127.0.0.1/$((base + port))") 2>/dev/null || ready=0
    done
    [[ $ready == 1 ]] && break
    sleep 0.1
done
[[ $ready == 1 ]] || { cat nginx.log odd.log; echo "not ok: the servers did not start"; exit 1; }

if [[ -z $emulator ]]; then
    bound bundle.crt "$bundle" "${lua[@]}" linux </dev/null
    status=$?
    [[ $status == 124 ]] && echo "not ok: https.lua did not end within 90 s: a call that never returns"
    exit $status
fi

# Wine: a private copy of the prefix (a few seconds; its registry may keep the roots it read)
# whose wineserver starts in the namespace, and one warm-up run that starts wine's services
# away from our output, which they would otherwise hold open.
cp -a "${WINEPREFIX:-$HOME/.wine}" prefix || { echo "not ok: no wine prefix to copy"; exit 1; }
export WINEPREFIX=$PWD/prefix
bound bundle.crt "$bundle" bash -c \
    '"$1" -p && "$2" cmd /c exit 0 </dev/null >/dev/null 2>&1 && "${@:3}"; s=$?; "$1" -k; exit $s' \
    _ "$wineserver" "${emulator%% *}" "${lua[@]}" wine </dev/null
status=$?
[[ $status == 124 ]] && echo "not ok: https.lua did not end within 90 s: a call that never returns"
exit $status
