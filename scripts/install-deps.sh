#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's archive only.
# Idempotent: run it as often as you like. Usage: install-deps.sh [--linux-only]
set -euo pipefail

linux_only=0
[[ "${1:-}" == "--linux-only" ]] && linux_only=1

export DEBIAN_FRONTEND=noninteractive
apt_opts=(-y -q -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)

linux_pkgs=(build-essential cmake ninja-build pkg-config liblua5.1-0-dev lua5.1
            googletest libgtest-dev libxml2-utils clang libclang-rt-dev
            chrony xinetd iproute2 util-linux procps python3)
windows_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
              python3-pefile wine wine64 dpkg-dev)

missing() {
    local p out=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
    done
    echo "${out[@]:-}"
}

# Debian's source lists are needed for the lua5.1 sources of the Windows build.
enable_deb_src() {
    local f=/etc/apt/sources.list.d/debian.sources
    if [[ -f $f ]] && grep -q '^Types: deb$' "$f"; then
        sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
        return 0
    fi
    if [[ -f /etc/apt/sources.list ]] && ! grep -q '^deb-src' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >> /etc/apt/sources.list
        return 0
    fi
    return 1
}

pkgs=("${linux_pkgs[@]}")
need_update=0
if [[ $linux_only == 0 ]]; then
    pkgs+=("${windows_pkgs[@]}")
    enable_deb_src && need_update=1
fi

todo=$(missing "${pkgs[@]}")
if [[ -n "$todo" || $need_update == 1 || ! -d /var/lib/apt/lists/partial ]]; then
    apt-get update -q
fi
if [[ -n "$todo" ]]; then
    # shellcheck disable=SC2086
    apt-get install "${apt_opts[@]}" --no-install-recommends $todo
fi

# The packaged services must not run on their own: our scripts start private instances.
for svc in chrony xinetd; do
    if command -v systemctl >/dev/null && systemctl is-active --quiet "$svc" 2>/dev/null; then
        systemctl stop "$svc" || true
    fi
done
pkill -x chronyd 2>/dev/null || true
echo "install-deps: done"
