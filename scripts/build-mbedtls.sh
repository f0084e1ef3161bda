#!/usr/bin/env bash
# Builds Mbed TLS (TLS 1.3 and the AES and CMAC that Network Time Security needs) as static
# libraries from Debian's own source package, for Linux and for Windows (i686, x86-64):
# build/mbedtls/<arch>/{include,lib}. Debian 12 carries only 2.28, so the source comes from
# Debian 13 through a private sources list: the system's own apt sources stay as they are, and
# the archive's signed index checks what is fetched. Nothing of it enters git. Skips an
# architecture whose output is already there and was made by this script as it stands.
# Usage: build-mbedtls.sh [linux|i686|x86_64 ...]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out_root=$root/build/mbedtls
src_root=$out_root/source
apt_root=$out_root/apt

# 3.6.4 is the first with the TLS 1.3 key exporter.
min_version=3.6.4

archs=("$@")
[[ ${#archs[@]} -eq 0 ]] && archs=(linux i686 x86_64)

needed=()
for arch in "${archs[@]}"; do
    case $arch in
        linux | i686 | x86_64) ;;
        *) echo "build-mbedtls: unknown architecture '$arch'" >&2; exit 2 ;;
    esac
    out=$out_root/$arch
    if [[ -f $out/lib/libmbedtls.a && -f $out/include/mbedtls/ssl.h ]] &&
        cmp -s "$root/scripts/build-mbedtls.sh" "$out/built-by.sh"; then
        echo "build-mbedtls: $arch already built ($out)"
    else
        needed+=("$arch")
    fi
done
[[ ${#needed[@]} -eq 0 ]] && exit 0

tree=$(find "$src_root" -mindepth 1 -maxdepth 1 -type d -name 'mbedtls-*' 2>/dev/null | head -n 1 || true)
if [[ -z $tree || ! -f $tree/include/mbedtls/build_info.h ]]; then
    # The archive's URI as the system's own sources name it.
    uri=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
        grep -v security | head -n 1 || true)
    [[ -n $uri ]] || uri=$(sed -n 's/^deb \(\[[^]]*\] \)\?\(http[^ ]*\) .*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1 || true)
    [[ -n $uri ]] || uri=http://deb.debian.org/debian
    rm -rf "$src_root" "$apt_root"
    mkdir -p "$src_root" "$apt_root/lists/partial"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri trixie main" \
        >"$apt_root/sources.list"
    apt_private=(-o "Dir::Etc::sourcelist=$apt_root/sources.list" -o Dir::Etc::sourceparts=-
                 -o "Dir::State::Lists=$apt_root/lists" -o APT::Sandbox::User=root)
    echo "build-mbedtls: fetching the mbedtls source package from $uri (trixie)"
    apt-get -q "${apt_private[@]}" update >/dev/null
    (cd "$src_root" && apt-get -q "${apt_private[@]}" source --download-only mbedtls >/dev/null)
    dsc=$(find "$src_root" -maxdepth 1 -name 'mbedtls_*.dsc' | head -n 1)
    if [[ -z $dsc ]]; then
        echo "build-mbedtls: apt-get source gave no mbedtls .dsc" >&2
        exit 1
    fi
    (cd "$src_root" && dpkg-source --no-check -x "$(basename "$dsc")" >/dev/null)
    tree=$(find "$src_root" -mindepth 1 -maxdepth 1 -type d -name 'mbedtls-*' | head -n 1)
fi
version=$(sed -n 's/^#define MBEDTLS_VERSION_STRING *"\([0-9.]*\)".*/\1/p' \
    "$tree/include/mbedtls/build_info.h")
if [[ -z $version ]] || [[ $(printf '%s\n%s\n' "$min_version" "$version" | sort -V | head -n 1) != "$min_version" ]] ||
    [[ $version != 3.6.* ]]; then
    echo "build-mbedtls: Mbed TLS 3.6 from $min_version on is needed; the source is '$version'" >&2
    exit 1
fi
echo "build-mbedtls: Mbed TLS $version in $tree"

# The configuration: the library's defaults (TLS 1.3, the exporter, ALPN, SNI, CMAC) plus
# its locks, since key exchanges run on several threads at once and share PSA's key store,
# and roots asked for by issuer, so that a bundle's roots are parsed only when a chain needs
# them; without its debug messages, which carry source paths and cost room.
config=$out_root/mbedtls_config.h
cp "$tree/include/mbedtls/mbedtls_config.h" "$config"
python3 "$tree/scripts/config.py" -f "$config" set MBEDTLS_THREADING_C
python3 "$tree/scripts/config.py" -f "$config" set MBEDTLS_THREADING_PTHREAD
python3 "$tree/scripts/config.py" -f "$config" set MBEDTLS_X509_TRUSTED_CERTIFICATE_CALLBACK
python3 "$tree/scripts/config.py" -f "$config" unset MBEDTLS_DEBUG_C

for arch in "${needed[@]}"; do
    out=$out_root/$arch
    work=$out_root/work-$arch
    toolchain=()
    [[ $arch != linux ]] &&
        toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$arch-w64-mingw32.cmake")
    rm -rf "$work" "$out.tmp"
    echo "build-mbedtls: compiling for $arch"
    cmake -S "$tree" -B "$work" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DGEN_FILES=OFF \
        -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DUSE_STATIC_MBEDTLS_LIBRARY=ON \
        -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DMBEDTLS_FATAL_WARNINGS=OFF \
        -DCMAKE_C_FLAGS="-ffile-prefix-map=$tree=mbedtls -ffile-prefix-map=$out_root=mbedtls" \
        -DMBEDTLS_CONFIG_FILE="$config" -DCMAKE_INSTALL_PREFIX="$out.tmp" >/dev/null
    ninja -C "$work" install >/dev/null
    cp "$config" "$out.tmp/include/mbedtls/mbedtls_config.h"
    cp "$root/scripts/build-mbedtls.sh" "$out.tmp/built-by.sh"
    rm -rf "$out" "$work"
    mv "$out.tmp" "$out"
    [[ -d $out/lib64 && ! -d $out/lib ]] && mv "$out/lib64" "$out/lib"
    echo "build-mbedtls: $out"
done
