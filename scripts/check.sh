#!/usr/bin/env bash
# Builds everything and runs every test: installs what is missing from Debian's archive,
# then the Linux suite, the Windows builds with their runs under wine, and the release package.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --win32-smoke
bash scripts/test-linux.sh
bash scripts/test-windows.sh
bash scripts/package.sh
echo "check: all builds and tests passed"
