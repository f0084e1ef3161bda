#!/usr/bin/env bash
# The release archives are reproducible: two package runs from two fresh clones of the tree's
# commit, each with its own build folders, give the same SHA256SUMS. One clone lies under /tmp
# and one under /var/tmp, whose paths sort before and after /usr, where the linker's own
# libraries live: whatever follows the tree's folder (its name, or its place in an order of
# paths) shows. Only the downloaded Debian sources of Lua and Mbed TLS are shared; everything is
# built twice.
# Usage: reproducible_test.sh   (in a git work tree; tests its HEAD commit)
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
clones=("$(mktemp -d /tmp/rizi-reproducible.XXXXXX)")
clones+=("$(mktemp -d /var/tmp/rizi-reproducible.XXXXXX)")
trap 'rm -rf "${clones[@]}"' EXIT

for clone in "${clones[@]}"; do
    git clone -q --no-checkout "$root" "$clone/rizi"
    git -C "$clone/rizi" checkout -q --detach "$commit"
    for sources in lua-win mbedtls; do
        if [[ -d $root/build/$sources/source ]]; then
            mkdir -p "$clone/rizi/build/$sources"
            cp -a "$root/build/$sources/source" "$clone/rizi/build/$sources/"
        fi
    done
    start=$SECONDS
    bash "$clone/rizi/scripts/package.sh" >"$clone/package.log" 2>&1 ||
        { cat "$clone/package.log"; exit 1; }
    echo "reproducible: packaged ${commit:0:12} in $clone in $((SECONDS - start)) s"
done

one=${clones[0]}/rizi two=${clones[1]}/rizi
if ! cmp -s "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS"; then
    echo "not ok: two package runs of ${commit:0:12} differ; the files that differ:"
    diff "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS" || true
    diff -rq "$one/build/package" "$two/build/package" || true
    exit 1
fi
echo "ok: two package runs of ${commit:0:12} give the same archives"
