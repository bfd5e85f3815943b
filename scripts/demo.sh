#!/usr/bin/env bash
# The demo: builds the release executable and runs it under Wine, then shows
# its exit code and the log it kept.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
source scripts/wine-env.sh
exe=build/release/src/main/TessarySetup.exe
echo "demo: $(file -b "$exe" | cut -d, -f1), $(stat -c %s "$exe") bytes"
set +e
wine "$exe" run=1
code=$?
set -e
echo "demo: exit code (low 8 bits as a Linux shell sees it): $code"
log_dir="$WINEPREFIX/drive_c/users/$(whoami)/Temp/Tessary_log"
latest=$(ls -t "$log_dir"/installer_log_*.txt 2>/dev/null | head -n 1 || true)
if [ -n "$latest" ]; then
  echo "demo: kept log $latest:"
  cat "$latest"
fi
wineserver -k 2>/dev/null || true
