#!/usr/bin/env bash
# Builds Lua 5.1 for Windows (i686 and x86-64) from Debian's own lua5.1 source package:
# lua5.1.dll, its import library liblua5.1.dll.a, the C API headers and the interpreter
# lua.exe, in build/lua-win/<arch>/{lua5.1.dll,liblua5.1.dll.a,include/,lua.exe}. The source
# tree stays under build/ and never enters git. Skips an architecture whose output is already
# there.
# Usage: build-lua-windows.sh [i686|x86_64 ...]   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out_root=$root/build/lua-win
src_root=$out_root/source

archs=("$@")
[[ ${#archs[@]} -eq 0 ]] && archs=(i686 x86_64)

needed=()
for arch in "${archs[@]}"; do
    case $arch in
        i686 | x86_64) ;;
        *) echo "build-lua-windows: unknown architecture '$arch'" >&2; exit 2 ;;
    esac
    out=$out_root/$arch
    # A copy of this script in the output stands for the recipe: when the script changes,
    # the architecture is built again.
    if [[ -f $out/lua5.1.dll && -f $out/liblua5.1.dll.a && -f $out/include/lua.h &&
        -f $out/lua.exe ]] && cmp -s "$root/scripts/build-lua-windows.sh" "$out/built-by.sh"; then
        echo "build-lua-windows: $arch already built ($out)"
    else
        needed+=("$arch")
    fi
done
[[ ${#needed[@]} -eq 0 ]] && exit 0

# The Debian source package (deb-src is enabled by scripts/install-deps.sh).
tree=$(find "$src_root" -mindepth 1 -maxdepth 1 -type d -name 'lua5.1-*' 2>/dev/null | head -n 1 || true)
if [[ -z $tree || ! -f $tree/src/lapi.c ]]; then
    rm -rf "$src_root"
    mkdir -p "$src_root"
    (cd "$src_root" && apt-get -o APT::Sandbox::User=root source --download-only lua5.1 >/dev/null)
    dsc=$(find "$src_root" -maxdepth 1 -name 'lua5.1_*.dsc' | head -n 1)
    if [[ -z $dsc ]]; then
        echo "build-lua-windows: apt-get source gave no lua5.1 .dsc (is deb-src enabled?)" >&2
        exit 1
    fi
    (cd "$src_root" && dpkg-source --no-check -x "$(basename "$dsc")" >/dev/null)
    tree=$(find "$src_root" -mindepth 1 -maxdepth 1 -type d -name 'lua5.1-*' | head -n 1)
fi
echo "build-lua-windows: sources in $tree"

# The library: every src/*.c except the two programs and luac's printer.
mapfile -t lib_sources < <(find "$tree/src" -maxdepth 1 -name '*.c' \
    ! -name lua.c ! -name luac.c ! -name print.c | sort)

for arch in "${needed[@]}"; do
    out=$out_root/$arch
    cc=$arch-w64-mingw32-gcc-posix
    tmp=$out.tmp
    rm -rf "$tmp"
    mkdir -p "$tmp/include"
    echo "build-lua-windows: compiling lua5.1.dll for $arch"
    # Linked in its own folder under its bare name: ld derives the DLL's image base from the
    # output name as written, which must not hold the folder the tree sits in. No link time.
    (cd "$tmp" && "$cc" -O2 -DLUA_BUILD_AS_DLL -I"$tree/src" -shared -static-libgcc \
        -o lua5.1.dll "${lib_sources[@]}" \
        -Wl,--no-insert-timestamp -Wl,--out-implib,liblua5.1.dll.a)
    # The stand-alone interpreter over that DLL, for the Lua module's tests.
    "$cc" -O2 -DLUA_BUILD_AS_DLL -I"$tree/src" -static-libgcc -o "$tmp/lua.exe" \
        "$tree/src/lua.c" "$tmp/liblua5.1.dll.a"
    cp "$tree/src/lua.h" "$tree/src/luaconf.h" "$tree/src/lualib.h" "$tree/src/lauxlib.h" \
        "$tmp/include/"
    [[ -f $tree/etc/lua.hpp ]] && cp "$tree/etc/lua.hpp" "$tmp/include/"
    cp "$root/scripts/build-lua-windows.sh" "$tmp/built-by.sh"
    rm -rf "$out"
    mv "$tmp" "$out"
    echo "build-lua-windows: $out"
done
