#!/usr/bin/env bash
# Block-verified download against one nginx in one run, medians of RUNS runs:
#   (a) DownloadFileVerified under Wine (fresh destination each run)
#   (b) curl -o /dev/null natively          (no verification: the transfer limit)
#   (c) aria2c natively with a metalink of 1 MiB SHA-1 piece hashes (the closest peer)
# and the hash pass over an existing complete file against sha1sum.
# Usage: bench/run_verified_bench.sh [BUILD_DIR]
#        (env: RUNS=5 SIZE_MIB=256 HASH_MIB=1024)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build/test}" && pwd)"
RUNS="${RUNS:-5}"
SIZE_MIB="${SIZE_MIB:-256}"
HASH_MIB="${HASH_MIB:-1024}"
cmake --build "$BUILD" --target download_bench metatool_native >/dev/null
METATOOL="$BUILD/tools/metatool-native"
BENCH="$BUILD/bench/download_bench.exe"
export STUB_WINEPREFIX="${STUB_WINEPREFIX:-$(grep -s '^STUB_WINEPREFIX:' "$BUILD/CMakeCache.txt" | cut -d= -f2)}"
source scripts/wine-env.sh

STATE="$BUILD/bench-servers"
python3 tests/support/servers.py start "$STATE" >/dev/null
wineserver -p
trap 'python3 tests/support/servers.py stop "$STATE"; rm -rf "$STATE/aria" "$STATE/hash.bin" "$STATE/out.bin"; wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true
PORT=$(sed -n 's/^nginx_port=//p' "$STATE/servers.env")
DOCROOT=$(sed -n 's/^docroot=//p' "$STATE/servers.env")
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

SIZE=$((SIZE_MIB * 1048576))
head -c "$SIZE" /dev/urandom > "$DOCROOT/bench.bin"
"$METATOOL" create "$DOCROOT/bench.bin" >/dev/null
URL="http://127.0.0.1:$PORT/bench.bin"
python3 - "$DOCROOT/bench.bin" "$URL" > "$STATE/bench.meta4" <<'PY'
import hashlib, sys
path, url = sys.argv[1:3]
data = open(path, 'rb').read()
print('<?xml version="1.0" encoding="UTF-8"?>')
print('<metalink xmlns="urn:ietf:params:xml:ns:metalink"><file name="bench.bin">')
print('<size>%d</size><pieces length="1048576" type="sha-1">' % len(data))
for i in range(0, len(data), 1 << 20):
    print('<hash>%s</hash>' % hashlib.sha1(data[i:i + (1 << 20)]).hexdigest())
print('</pieces><url>%s</url></file></metalink>' % url)
PY

OUT="$STATE/out.bin"
results="$STATE/verified-results.txt"
: > "$results"
secs() { python3 -c 'import sys,time; t=time.perf_counter(); import subprocess; r=subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL); print("%.6f" % (time.perf_counter()-t)) if r.returncode == 0 else sys.exit(r.returncode)' "$@"; }
for i in $(seq "$RUNS"); do
  echo "curl $(curl -s -o /dev/null -w '%{time_total}' "$URL")" >> "$results"
  rm -f "$OUT"
  out=$(wine "$BENCH" verified "$URL" "$URL.meta" "$(winpath "$OUT")" | tr -d '\r')
  [ "${out##* }" = "0" ] || { echo "verified download failed: $out" >&2; exit 1; }
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "verified download differs from the source" >&2; exit 1; }
  echo "verified ${out%% *}" >> "$results"
  rm -rf "$STATE/aria"
  echo "aria2c $(secs aria2c -q -d "$STATE/aria" -x1 -s1 -j1 --file-allocation=none --allow-overwrite=true \
      --auto-file-renaming=false --metalink-file="$STATE/bench.meta4")" >> "$results"
  cmp -s "$STATE/aria/bench.bin" "$DOCROOT/bench.bin" || { echo "aria2c output differs" >&2; exit 1; }
done

# The hash pass over an existing complete file.
head -c $((HASH_MIB * 1048576)) /dev/urandom > "$STATE/hash.bin"
"$METATOOL" create "$STATE/hash.bin" "$STATE/hash.meta" >/dev/null
cat "$STATE/hash.bin" > /dev/null  # both read from the page cache
for i in $(seq "$RUNS"); do
  out=$(wine "$BENCH" hash "$(winpath "$STATE/hash.bin")" "$(winpath "$STATE/hash.meta")" | tr -d '\r')
  [ "${out##* }" = "0" ] || { echo "hash pass did not verify: $out" >&2; exit 1; }
  echo "hashpass ${out%% *}" >> "$results"
  echo "sha1sum $(secs sha1sum "$STATE/hash.bin")" >> "$results"
done

python3 - "$results" "$SIZE_MIB" "$HASH_MIB" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    name, t = line.split()
    times.setdefault(name, []).append(float(t))
size, hsize = float(sys.argv[2]), float(sys.argv[3])
med = {k: statistics.median(v) for k, v in times.items()}
for k, mib in (('curl', size), ('aria2c', size), ('verified', size), ('hashpass', hsize), ('sha1sum', hsize)):
    print('%-9s median %8.3f s  %9.1f MiB/s  (%d runs, %d MiB)' % (k, med[k], mib / med[k], len(times[k]), mib))
print('verified/curl      throughput ratio %.3f' % (med['curl'] / med['verified']))
print('verified/aria2c    throughput ratio %.3f' % (med['aria2c'] / med['verified']))
print('hash pass/sha1sum  throughput ratio %.3f' % (med['sha1sum'] / med['hashpass']))
PY
