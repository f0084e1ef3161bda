#!/usr/bin/env bash
# The release archives in dist/, built here from the release builds:
#   Rizi-VERSION-win32.zip          Rizi.lmd (i686, stripped), Rizi.chm, README.txt,
#                                   CHANGES.txt, LICENSE.txt and LICENSE-mbedtls.txt with
#                                   CR LF line ends, examples/, lua/rizi.dll (the Lua module,
#                                   i686), and try/ with the i686 rizi-host.exe and lua5.1.dll
#   Rizi-VERSION-linux-x86_64.tar.gz  Rizi-VERSION-linux-x86_64/ with the Linux Rizi.lmd,
#                                   rizi-host, README.txt, CHANGES.txt, LICENSE.txt,
#                                   LICENSE-mbedtls.txt, examples/ and lua/5.1/rizi.so
#   SHA256SUMS                      over both
# VERSION is the release's, RIZI_RELEASE_VERSION in CMakeLists.txt, as the build wrote it to
# plugin/version.h (the plug-in itself reports the version in project()). The user README is help/README.txt. Two runs from
# two clones of one commit give the same bytes (tests/package/reproducible_test.sh).
# Then tests/package/archives_test.sh checks the archives as a user gets them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${RIZI_JOBS:-2}
# Byte order for every sorted list and glob; UTC for the times stored in the zip.
export LC_ALL=C TZ=UTC

echo "== Windows i686 release build"
bash scripts/build-lua-windows.sh i686
cmake -S . -B build/win32 -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DRIZI_WERROR=ON -DRIZI_TESTS=OFF >/dev/null
ninja -C build/win32 -j"$jobs" plugin host chm lua_module
# The Lua module for Windows keeps to one export and the allowed imports.
/usr/bin/python3 tests/windows/check_pe.py --machine i386 --lua-module \
    build/win32/lib/lua/5.1/rizi.dll

echo "== Linux x86-64 release build"
cmake -S . -B build/linux-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIZI_WERROR=ON \
    -DRIZI_TESTS=OFF -DRIZI_BENCH=OFF >/dev/null
ninja -C build/linux-release -j"$jobs" plugin host lua_module

# The plug-in and the module link Mbed TLS statically: its licence goes with them, from the
# source tree scripts/build-mbedtls.sh unpacked for these builds.
mbedtls_licence=(build/mbedtls/source/mbedtls-*/LICENSE)
if [[ ${#mbedtls_licence[@]} -ne 1 || ! -f ${mbedtls_licence[0]} ]]; then
    echo "package: no single Mbed TLS source tree with its LICENSE in build/mbedtls/source" >&2
    exit 1
fi

version_of() { # BUILD_DIR
    sed -n 's/^#define RIZI_RELEASE_TEXT "\(.*\)"$/\1/p' "$1/generated/plugin/version.h"
}
version=$(version_of build/win32)
if [[ -z $version || $version != "$(version_of build/linux-release)" ]]; then
    echo "package: no version, or the two builds disagree on it" >&2
    exit 1
fi

# Fixed times, owners, modes and file order, so that the same files give the same archives.
epoch=$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)
# strip writes this time, not the current one, into the PE headers.
export SOURCE_DATE_EPOCH=$epoch
stage=$root/build/package
win_name=Rizi-$version-win32
linux_name=Rizi-$version-linux-x86_64
rm -rf "$stage" dist
mkdir -p "$stage/$win_name/examples" "$stage/$win_name/try" "$stage/$win_name/lua" \
    "$stage/$linux_name/examples" "$stage/$linux_name/lua/5.1" dist
win=$stage/$win_name linux=$stage/$linux_name

crlf() { sed 's/\r$//; s/$/\r/' "$1"; }
user_readme() { sed "s/@VERSION@/$version/g" help/README.txt; }

i686-w64-mingw32-strip --strip-unneeded -o "$win/Rizi.lmd" build/win32/bin/Rizi.lmd
cp build/win32/bin/Rizi.chm "$win/Rizi.chm"
user_readme >"$stage/README.txt"
crlf "$stage/README.txt" >"$win/README.txt"
crlf LICENSE >"$win/LICENSE.txt"
crlf CHANGES.txt >"$win/CHANGES.txt"
crlf "${mbedtls_licence[0]}" >"$win/LICENSE-mbedtls.txt"
cp examples/*.lua "$win/examples/"
i686-w64-mingw32-strip --strip-unneeded -o "$win/lua/rizi.dll" build/win32/lib/lua/5.1/rizi.dll
i686-w64-mingw32-strip --strip-unneeded -o "$win/try/rizi-host.exe" build/win32/bin/rizi-host.exe
i686-w64-mingw32-strip --strip-unneeded -o "$win/try/lua5.1.dll" build/lua-win/i686/lua5.1.dll

strip --strip-unneeded -o "$linux/Rizi.lmd" build/linux-release/bin/Rizi.lmd
strip --strip-unneeded -o "$linux/rizi-host" build/linux-release/bin/rizi-host
cp "$stage/README.txt" "$linux/README.txt"
cp LICENSE "$linux/LICENSE.txt"
cp CHANGES.txt "$linux/CHANGES.txt"
cp "${mbedtls_licence[0]}" "$linux/LICENSE-mbedtls.txt"
cp examples/*.lua "$linux/examples/"
strip --strip-unneeded -o "$linux/lua/5.1/rizi.so" build/linux-release/lib/lua/5.1/rizi.so
rm "$stage/README.txt"

find "$stage" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
chmod 755 "$linux/rizi-host" "$linux/Rizi.lmd" "$linux/lua/5.1/rizi.so" "$win/try/rizi-host.exe" \
    "$win/try/lua5.1.dll" "$win/Rizi.lmd" "$win/lua/rizi.dll"
find "$stage" -exec touch -h -d "@$epoch" {} +

# zip: the files at the top of the archive (Windows unpacks into a folder of the archive's
# name), in this order, without directory entries or extra attributes.
(cd "$win" && zip -X -q -9 "$root/dist/$win_name.zip" Rizi.lmd Rizi.chm README.txt CHANGES.txt \
    LICENSE.txt LICENSE-mbedtls.txt examples/*.lua lua/rizi.dll try/rizi-host.exe try/lua5.1.dll)
# tar: one folder, names sorted, numeric root owner, no time in the gzip header.
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    --format=gnu -cf - "$linux_name" | gzip -9 -n >"dist/$linux_name.tar.gz"
(cd dist && sha256sum "$win_name.zip" "$linux_name.tar.gz" >SHA256SUMS)

echo "== checks of the archives as a user gets them"
bash tests/package/archives_test.sh dist "$version" "$root/build/package-check"

echo "package: dist/ written:"
ls -l dist
