#!/usr/bin/env bash
# Smoke run of the real i686 files as they ship: the 32-bit try/rizi-host.exe unpacked from
# dist/Rizi-VERSION-win32.zip loads the Rizi.lmd beside it (with try/lua5.1.dll) under the
# 32-bit wine and runs tests/windows/smoke.lua against the real loopback servers; the script
# also requires the Lua module lua/rizi.dll from the zip. Where this kernel cannot execute
# 32-bit x86 code, wine32 runs through qemu-i386 (scripts/install-deps.sh --win32-smoke),
# slowly: so everything is checked in one process.
# Shares the prefix of the wine64 run (build/win64/wineprefix) and adds its 32-bit side once.
# Usage: smoke-win32.sh [ZIP]   (default: the zip in dist/, made by scripts/package.sh if absent)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ ! -x /usr/lib/wine/wine ]] || ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    unavailable=/var/lib/rizi/win32-smoke-unavailable
    if [[ -f $unavailable ]]; then
        # install-deps tried and the archive could not give it: said, not hidden.
        echo "smoke-win32: SKIPPED, no 32-bit wine on this machine: $(cat "$unavailable")" >&2
        exit 0
    fi
    echo "smoke-win32: no runnable 32-bit wine; run scripts/install-deps.sh --win32-smoke" >&2
    exit 1
fi

zip=${1:-}
if [[ -z $zip ]]; then
    shopt -s nullglob
    zips=(dist/Rizi-*-win32.zip)
    if [[ ${#zips[@]} -eq 0 ]]; then
        bash scripts/package.sh
        zips=(dist/Rizi-*-win32.zip)
    fi
    zip=${zips[0]}
fi
echo "== the files of $zip"
unpacked=$root/build/win32-unpacked
rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"

source "$root/scripts/wine-env.sh"

echo "== wine prefix with its 32-bit side"
mkdir -p "$(dirname "$WINEPREFIX")"
if [[ ! -f $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]]; then
    start=$SECONDS
    # A prefix made before wine32 was installed lacks it for good: make it afresh.
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
    "$wineserver" -w
    echo "prefix ready in $((SECONDS - start)) s"
fi
[[ -f $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]] || {
    echo "smoke-win32: the prefix has no 32-bit side" >&2
    exit 1
}
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p

echo "== smoke run of the i686 files from the zip (one process)"
# Set first: a start that fails half-way leaves no server behind.
servers_started=1
bash scripts/servers.sh start
start=$SECONDS
status=0
/usr/bin/wine "$unpacked/try/rizi-host.exe" --plugin "$unpacked/Rizi.lmd" \
    run tests/windows/smoke.lua 127.0.0.1 "$unpacked/lua" </dev/null || status=$?
echo "smoke-win32: one i686 process took $((SECONDS - start)) s, exit status $status"
exit "$status"
