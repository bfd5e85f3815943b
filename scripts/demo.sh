#!/usr/bin/env bash
# The demo: the release build of the demo stub (the product's development
# flavour, which carries the browser UI host, with a one-page bundle)
# downloads a package the way a product page does.
# A package and its .meta are published on a local nginx; the stub starts with
# a damaged partial copy already on disk; its page (shown in headless Chromium
# through the browser UI host) calls download(); the engine keeps the blocks
# that verify, fetches the rest with a ranged request, proves every 1 MiB
# block by SHA-1, and the page records the outcome. The demo then checks the
# file against the original and shows what the client asked the server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
source scripts/wine-env.sh

build=build/release
exe=$build/demo/TessaryDemo.exe
metatool=$build/tools/metatool-native
state=$(mktemp -d /tmp/tessary-demo.XXXXXX)
out="$state/out"
mkdir -p "$out"
key='HKCU\SOFTWARE\Brelvo\stubframework\Tessary\22'

cleanup() {
  python3 tests/support/servers.py stop "$state/servers" >/dev/null 2>&1 || true
  wine reg delete "$key" /v demo_package_url /f >/dev/null 2>&1 || true
  wine reg delete "$key" /v demo_package_target /f >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT

wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

# Publish a 24 MiB package with its block hashes.
python3 tests/support/servers.py start "$state/servers" >/dev/null
docroot=$(sed -n 's/^docroot=//p' "$state/servers/servers.env")
port=$(sed -n 's/^nginx_port=//p' "$state/servers/servers.env")
head -c $((24 * 1024 * 1024 + 4321)) /dev/urandom > "$docroot/package.bin"
"$metatool" create "$docroot/package.bin" >/dev/null

# A partial copy from an earlier, interrupted run: 10 MiB, one block corrupted.
head -c $((10 * 1024 * 1024)) "$docroot/package.bin" > "$out/package.bin"
printf 'XXXXXXXX' | dd of="$out/package.bin" bs=1 seek=$((3 * 1024 * 1024 + 100)) conv=notrunc status=none

target=$(winepath -w "$out/package.bin")
wine reg add "$key" /v demo_package_url /d "http://127.0.0.1:$port/package.bin" /f >/dev/null
wine reg add "$key" /v demo_package_target /d "$target" /f >/dev/null
wine reg delete "$key" /v demo_result /f >/dev/null 2>&1 || true

echo "demo: $(file -b "$exe" | cut -d, -f1), $(stat -c %s "$exe") bytes, bundle appended and signed"
echo "demo: running the stub in the browser UI host (headless Chromium)"
node tools/uihost/run.js --headless "$exe" run=1

result=$(wine reg query "$key" /v demo_result 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
echo "demo: the page reported: $result"
echo "demo: requests nginx saw (method, path, Range):"
awk '{print "  " $0}' "$state/servers/nginx-access.log" | cut -c1-160
if cmp -s "$docroot/package.bin" "$out/package.bin"; then
  echo "demo: the downloaded file is identical to the published one ($(stat -c %s "$out/package.bin") bytes)"
else
  echo "demo: FAILED: the downloaded file differs from the published one"
  exit 1
fi
log_dir="$WINEPREFIX/drive_c/users/$(whoami)/Temp/Tessary_log"
latest=$(ls -t "$log_dir"/installer_log_*.txt 2>/dev/null | head -n 1 || true)
if [ -n "$latest" ]; then
  echo "demo: the run's kept log ($latest), download lines:"
  grep -aE 'EMDownload|DownloadSimpleTask|TransferDownloadError|Download ' "$latest" | head -n 25 | sed 's/^/  /'
fi
