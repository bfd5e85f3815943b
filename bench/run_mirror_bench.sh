#!/usr/bin/env bash
# One verified download from four rate-capped mirrors, RUNS paired runs of:
#   worker_bench sources under Wine: the download worker, asked as the page
#     asks (downloadMirrors, downloadConnections = 4, then download)
#   aria2c natively: -x4 -s4 with the same four URLs and a metalink of 1 MiB
#     SHA-1 pieces (the reference)
#   worker_bench verified under Wine: today's single-connection download
# then the same pair with the fourth mirror flipping a byte in every 10th
# block (the fault server, paced near the same rate): both must still verify.
# Each mirror is nginx on its own port with limit_rate per connection.
# Every figure is timed from outside (bench/measure.py), with peak memory.
# Goals: >= 1.0 of aria2c's throughput, >= 3 of the single connection's.
# Usage: bench/run_mirror_bench.sh [BUILD_DIR]   (env: RUNS=3 SIZE_MIB=256 RATE=16m)
source "$(dirname "$0")/bench_common.sh"
RUNS="${RUNS:-3}"
SIZE_MIB="${SIZE_MIB:-256}"
RATE="${RATE:-16m}"

publish_bench_file "$SIZE_MIB"
# Four more ports on 127.0.0.1 for a rate-capped nginx of our own.
read -r -a PORTS <<< "$(python3 - <<'PY'
import socket
socks = [socket.socket() for _ in range(4)]
for s in socks:
    s.bind(('127.0.0.1', 0))
print(' '.join(str(s.getsockname()[1]) for s in socks))
for s in socks:
    s.close()
PY
)"
NGX="$STATE/work/mirrors-nginx"
mkdir -p "$NGX/logs"
{
  echo "worker_processes 2; pid $NGX/nginx.pid; error_log $NGX/logs/error.log;"
  echo "events { worker_connections 256; }"
  echo "http { access_log off; sendfile on; tcp_nopush on;"
  echo "  client_body_temp_path $NGX; proxy_temp_path $NGX; fastcgi_temp_path $NGX; uwsgi_temp_path $NGX; scgi_temp_path $NGX;"
  echo "  server {"
  for p in "${PORTS[@]}"; do echo "    listen 127.0.0.1:$p;"; done
  echo "    root $DOCROOT; limit_rate $RATE; }"
  echo "}"
} > "$NGX/nginx.conf"
nginx -p "$NGX" -c "$NGX/nginx.conf"
trap 'nginx -p "$NGX" -c "$NGX/nginx.conf" -s stop 2>/dev/null || true; python3 tests/support/servers.py stop "$STATE" >/dev/null; rm -rf "$STATE/work"; wineserver -k 2>/dev/null || true' EXIT
URLS=()
for p in "${PORTS[@]}"; do URLS+=("http://127.0.0.1:$p/bench.bin"); done
# The fault server's mirror, paced near the same rate (64 KiB every 4 ms).
FLIPPING="http://127.0.0.1:$FAULT_PORT/mirror/bench/bench.bin?src=bench.bin&fault=flip&every=10&chunk=65536&ms=4"

metalink "$DOCROOT/bench.bin" "${URLS[@]}" > "$STATE/work/four.meta4"
metalink "$DOCROOT/bench.bin" "${URLS[@]:0:3}" "$FLIPPING" > "$STATE/work/flip.meta4"

OUT="$STATE/work/out.bin"
ARIA="$STATE/work/aria"
results="$RESULTS_DIR/mirror-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"
measure() { python3 bench/measure.py "$@" 2>/dev/null; }
# ours NAME SOURCES...: one download through the worker, as the page asks for
# it (the first source the URL, the others its mirrors, 4 connections);
# theirs NAME METALINK: one by aria2c. Each records its seconds and peak
# private KiB.
ours() {
  local name="$1"; shift
  rm -f "$OUT"
  local figures
  figures=$(measure wine "$WORKER_BENCH" sources 4 "$1" "$(winpath "$OUT")" "${@:2}") ||
    { echo "$name failed" >&2; exit 1; }
  read -r seconds _ peak <<< "$figures"
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "$name differs from the source" >&2; exit 1; }
  echo "$i $name $seconds" >> "$results"
  echo "$i $name-kib $peak" >> "$results"
}
theirs() {
  local name="$1" link="$2"
  rm -rf "$ARIA"
  local figures
  figures=$(measure aria2c -q -d "$ARIA" -x4 -s4 -j1 -k1M --file-allocation=none \
      --allow-overwrite=true --auto-file-renaming=false --metalink-file="$link") || { echo "$name failed" >&2; exit 1; }
  read -r seconds _ peak <<< "$figures"
  cmp -s "$ARIA/bench.bin" "$DOCROOT/bench.bin" || { echo "$name output differs" >&2; exit 1; }
  echo "$i $name $seconds" >> "$results"
  echo "$i $name-kib $peak" >> "$results"
}
for i in $(seq "$RUNS"); do
  # Alternated: which of the pair goes first changes from run to run.
  if [ $((i % 2)) -eq 1 ]; then
    ours four "${URLS[@]}"; theirs aria2c "$STATE/work/four.meta4"
    ours flip "${URLS[@]:0:3}" "$FLIPPING"; theirs aria2c-flip "$STATE/work/flip.meta4"
  else
    theirs aria2c "$STATE/work/four.meta4"; ours four "${URLS[@]}"
    theirs aria2c-flip "$STATE/work/flip.meta4"; ours flip "${URLS[@]:0:3}" "$FLIPPING"
  fi
  rm -f "$OUT"
  figures=$(measure wine "$WORKER_BENCH" verified "${URLS[0]}" "$(winpath "$OUT")") ||
    { echo "single-connection download failed" >&2; exit 1; }
  read -r seconds _ _ <<< "$figures"
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "single-connection download differs" >&2; exit 1; }
  echo "$i single $seconds" >> "$results"
done
rm -rf "$ARIA" "$OUT"

echo "Verified download of $SIZE_MIB MiB from four mirrors capped at $RATE per connection, seconds and peak KiB" \
     "(load: $(cut -d' ' -f1-3 /proc/loadavg)):"
python3 bench/report.py "$results" \
  "four mirrors, 4 connections, against aria2c:four:aria2c:throughput:1.0" \
  "four mirrors against one connection:four:single:throughput:3.0" \
  "one mirror flipping every 10th block:flip:aria2c-flip:throughput:1.0" \
  "peak memory against aria2c:four-kib:aria2c-kib:memory:0"
