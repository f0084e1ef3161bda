#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's archive only.
# Idempotent: run it as often as you like. Usage: install-deps.sh [--linux-only] [--win32-smoke]
#   --win32-smoke  also the 32-bit wine (wine32:i386) and qemu-i386 for the smoke run of the
#                  real i686 files, on kernels that cannot execute 32-bit x86 code
set -euo pipefail

linux_only=0
win32_smoke=0
for arg in "$@"; do
    case $arg in
        --linux-only) linux_only=1 ;;
        --win32-smoke) win32_smoke=1 ;;
        *)
            echo "usage: install-deps.sh [--linux-only] [--win32-smoke]" >&2
            exit 2
            ;;
    esac
done

export DEBIAN_FRONTEND=noninteractive
apt_opts=(-y -q -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)

linux_pkgs=(build-essential cmake ninja-build pkg-config liblua5.1-0-dev lua5.1
            googletest libgtest-dev libxml2-utils clang libclang-rt-dev clang-format git
            chrony xinetd iproute2 util-linux procps python3 faketime
            luajit lua5.4 liblua5.4-dev luarocks fp-utils libchm-bin zip unzip
            dpkg-dev # dpkg-source, which unpacks the Mbed TLS source package
            libcurl4-openssl-dev # its header only: libcurl itself is loaded when first needed
            libcurl4 nginx-light openssl # the HTTPS tests: the client, a web server, a test CA
            ntpsec-ntpdig python3-ntplib) # the NTP clients the retrieval benchmark compares with
windows_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
              python3-pefile wine wine64)

# apt-get update, tried again a few times: a mirror in the middle of a sync fails it for a
# while. When one index still cannot be had, apt keeps going with the others, and so do we:
# an install that needs the missing index fails on its own.
update() {
    local attempt
    for attempt in 1 2 3; do
        apt-get update -q && return 0
        echo "install-deps: apt-get update failed (attempt $attempt)" >&2
        sleep $((attempt * 10))
    done
    echo "install-deps: going on with the package indexes apt could fetch" >&2
}

# Where install-deps notes that the archive could not give the 32-bit wine (smoke-win32.sh
# then reports its run as skipped rather than failed).
win32_unavailable=/var/lib/rizi/win32-smoke-unavailable

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
    # Also when an earlier run enabled deb-src but its update did not complete.
    apt-cache showsrc lua5.1 2>/dev/null | grep '^Package: lua5.1$' >/dev/null || need_update=1
fi

todo=$(missing "${pkgs[@]}")
if [[ -n "$todo" || $need_update == 1 || ! -d /var/lib/apt/lists/partial ]]; then
    update
fi
if [[ -n "$todo" ]]; then
    # shellcheck disable=SC2086
    apt-get install "${apt_opts[@]}" --no-install-recommends $todo
fi

# The 32-bit wine for the i686 smoke run. Where this kernel cannot execute 32-bit x86 code,
# i386 ELF files run through qemu-i386 (binfmt_misc; flag F opens the interpreter now, so it
# also works inside containers and namespaces).
if [[ $win32_smoke == 1 && $linux_only == 0 ]]; then
    # The update also when an earlier run added i386 but its update did not complete.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        update
    elif ! apt-cache show wine32:i386 >/dev/null 2>&1; then
        update
    fi
    todo=$(missing wine32:i386 qemu-user)
    rm -f "$win32_unavailable"
    if [[ -n "$todo" ]]; then
        # shellcheck disable=SC2086
        if ! apt-get install "${apt_opts[@]}" --no-install-recommends $todo; then
            # Seen when the archive's i386 index of security updates cannot be fetched: the
            # 32-bit libraries then cannot match the installed 64-bit ones.
            mkdir -p "$(dirname "$win32_unavailable")"
            echo "the package archive could not give $todo (apt-get install failed)" \
                >"$win32_unavailable"
            echo "install-deps: no 32-bit wine: $(cat "$win32_unavailable")" >&2
        fi
    fi
    if [[ ! -f $win32_unavailable ]] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        binfmt=/proc/sys/fs/binfmt_misc
        [[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
        if [[ ! -e $binfmt/qemu-i386 ]]; then
            magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
            mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
            echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:F" >"$binfmt/register"
        fi
        /lib/ld-linux.so.2 --version >/dev/null 2>&1 || {
            echo "install-deps: i386 programs still do not run (qemu-i386 binfmt)" >&2
            exit 1
        }
    fi
fi

# The packaged services must not run on their own: our scripts start private instances.
for svc in chrony xinetd nginx; do
    if command -v systemctl >/dev/null && systemctl is-active --quiet "$svc" 2>/dev/null; then
        systemctl stop "$svc" || true
    fi
done
# Without systemd the packages may have started their daemons by hand; stop only those,
# found by the packages' own pid files, never our private instances.
for pidfile in /run/chrony/chronyd.pid /run/xinetd.pid /run/nginx.pid; do
    [[ -f $pidfile ]] && kill "$(cat "$pidfile")" 2>/dev/null || true
done
echo "install-deps: done"
