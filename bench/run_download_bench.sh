#!/usr/bin/env bash
# Download throughput against one nginx in one run, medians of RUNS runs:
#   curl -o /dev/null natively        (the machine's transfer limit)
#   a minimal async WinINet loop      (the platform's limit under Wine)
#   HttpToFileTask into a file        (the engine)
# Usage: bench/run_download_bench.sh [BUILD_DIR]   (env: RUNS=5 SIZE_MIB=256)
# BUILD_DIR is a configured build tree (default build/test, as scripts/test.sh
# makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build/test}" && pwd)"
RUNS="${RUNS:-5}"
SIZE_MIB="${SIZE_MIB:-256}"
cmake --build "$BUILD" --target download_bench >/dev/null
export STUB_WINEPREFIX="${STUB_WINEPREFIX:-$(grep -s '^STUB_WINEPREFIX:' "$BUILD/CMakeCache.txt" | cut -d= -f2)}"
source scripts/wine-env.sh

STATE="$BUILD/bench-servers"
python3 tests/support/servers.py start "$STATE" >/dev/null
wineserver -p
trap 'python3 tests/support/servers.py stop "$STATE"; wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true
PORT=$(sed -n 's/^nginx_port=//p' "$STATE/servers.env")
DOCROOT=$(sed -n 's/^docroot=//p' "$STATE/servers.env")
SIZE=$((SIZE_MIB * 1048576))
head -c "$SIZE" /dev/urandom > "$DOCROOT/bench.bin"
URL="http://127.0.0.1:$PORT/bench.bin"
OUT="$STATE/out.bin"
WOUT="Z:$(echo "$OUT" | tr / '\\')"
BENCH="$BUILD/bench/download_bench.exe"

# One timed run: prints the seconds, or retries once when the program fails.
timed() {
  local out
  out=$(wine "$@" | tr -d '\r') || out=$(wine "$@" | tr -d '\r') || { echo "run failed: $*" >&2; exit 1; }
  echo "${out%% *}"
}

results="$STATE/results.txt"
: > "$results"
for i in $(seq "$RUNS"); do
  echo "curl $(curl -s -o /dev/null -w '%{time_total}' "$URL")" >> "$results"
  echo "wininet $(timed "$BENCH" wininet "$URL")" >> "$results"
  echo "engine $(timed "$BENCH" file "$URL" "$WOUT" "$SIZE")" >> "$results"
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "engine output differs from the source" >&2; exit 1; }
done
python3 - "$results" "$SIZE" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    name, t = line.split()
    times.setdefault(name, []).append(float(t))
size = int(sys.argv[2]) / 1048576
med = {k: statistics.median(v) for k, v in times.items()}
for k in ('curl', 'wininet', 'engine'):
    print('%-8s median %8.3f s  %9.1f MiB/s  (%d runs)' % (k, med[k], size / med[k], len(times[k])))
print('engine/curl    throughput ratio %.3f' % (med['curl'] / med['engine']))
print('engine/wininet throughput ratio %.3f' % (med['wininet'] / med['engine']))
PY
