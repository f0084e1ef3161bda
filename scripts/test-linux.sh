#!/usr/bin/env bash
# Linux: format check, a sanitized build with every test (the real loopback servers started
# around CTest), the many-threads test built with ThreadSanitizer, and the fuzz targets built
# with clang for a short bounded run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${RIZI_JOBS:-2}

echo "== format check"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
if [[ ${#sources[@]} -eq 0 ]]; then
    # Not a git work tree (an unpacked copy): every source outside the build folders.
    mapfile -t sources < <(find . \( -path ./build -o -path ./dist -o -path ./.git \) -prune -o \
        -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)
fi
# Without files clang-format would wait for a source on standard input.
[[ ${#sources[@]} -gt 0 ]] || { echo "test-linux: no sources to check" >&2; exit 1; }
clang-format --dry-run -Werror "${sources[@]}"

echo "== Linux build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S . -B build/linux-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DRIZI_WERROR=ON -DRIZI_SANITIZE=ON >/dev/null
ninja -C build/linux-asan -j"$jobs"

echo "== Linux tests"
# The trap comes first: a start that fails half-way leaves no server behind.
trap 'bash "$root/scripts/servers.sh" stop' EXIT
bash scripts/servers.sh start
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/linux-asan && ctest --output-on-failure -j"$jobs" --timeout 300)

echo "== many threads at once (ThreadSanitizer)"
# Only the plug-in and the many-threads program, run against the same servers.
cmake -S . -B build/linux-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRIZI_WERROR=ON -DRIZI_TSAN=ON -DRIZI_BENCH=OFF >/dev/null
ninja -C build/linux-tsan -j"$jobs" plugin lua_threads
(cd build/linux-tsan && ctest --output-on-failure -L threads --no-tests=error --timeout 300)

echo "== fuzz targets (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRIZI_FUZZ=ON -DRIZI_TESTS=ON >/dev/null
ninja -C build/fuzz -j"$jobs"
(cd build/fuzz && ctest --output-on-failure -L fuzz --no-tests=error)

# The loopback servers still run (stopped on exit).
echo "== luarocks make into a temporary tree (Lua 5.1 and 5.4), one script through it"
(
    rocks=$(mktemp -d)
    trap 'rm -rf "$rocks"' EXIT
    # A copy of the checkout: LuaRocks builds in build.luarocks/ beside the rockspec. It takes
    # the Mbed TLS that the build above left in this tree, rather than fetching and building
    # its own.
    mkdir "$rocks/src"
    tar -C "$root" --exclude=./build --exclude=./build.luarocks --exclude=./dist \
        --exclude=./.git -cf - . | tar -C "$rocks/src" -xf -
    cd "$rocks/src"
    for version in 5.1 5.4; do
        luarocks --lua-version "$version" make --tree "$rocks/tree" rizi-*.rockspec \
            MBEDTLS_DIR="$root/build/mbedtls/linux" >"$rocks/make-$version.log" 2>&1 ||
            { cat "$rocks/make-$version.log"; exit 1; }
    done
    for lua in lua5.1 luajit lua5.4; do
        version=5.1
        [[ $lua == lua5.4 ]] && version=5.4
        (
            eval "$(luarocks --lua-version "$version" path --tree "$rocks/tree")"
            export LUA_PATH="$root/tests/lua/?.lua;$LUA_PATH" TZ=Asia/Kolkata RIZI_TEST_TZ=Asia/Kolkata
            out=$("$lua" "$root/tests/lua/module.lua" 2>&1) || { echo "$lua: $out"; exit 1; }
            echo "$lua: $out"
        )
    done
)
