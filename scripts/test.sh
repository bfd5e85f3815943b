#!/usr/bin/env bash
# The project's test command: setup, configure, build, and run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset test >/dev/null
cmake --build --preset test
source scripts/wine-env.sh
# One warm wineserver for the whole run.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
ctest --preset test "$@"
