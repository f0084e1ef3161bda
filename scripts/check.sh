#!/usr/bin/env bash
# Builds everything and runs every test: installs what is missing from Debian's archive,
# then the Linux suite, the release archives with their checks (packaged twice more from two
# clones to see that they come out the same), and the Windows suite under wine with the smoke
# run of the i686 files unpacked from the release zip.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --win32-smoke
bash scripts/test-linux.sh
bash scripts/package.sh
bash tests/package/reproducible_test.sh
bash scripts/test-windows.sh
echo "check: all builds and tests passed"
