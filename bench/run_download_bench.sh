#!/usr/bin/env bash
# Plain download throughput against one nginx, RUNS paired runs of:
#   curl -o FILE natively             (the same job: the reference)
#   curl -o /dev/null natively        (the transfer alone, nothing written)
#   a minimal async WinINet loop      (what an 8 KiB-per-read loop gets under Wine)
#   HttpToFileTask into a file        (the engine)
# Goal: the engine at 0.9 of curl's throughput or better.
# Usage: bench/run_download_bench.sh [BUILD_DIR]   (env: RUNS=5 SIZE_MIB=256)
source "$(dirname "$0")/bench_common.sh"
RUNS="${RUNS:-5}"
SIZE_MIB="${SIZE_MIB:-256}"
SIZE=$((SIZE_MIB * 1048576))
head -c "$SIZE" /dev/urandom > "$DOCROOT/bench.bin"
URL="http://127.0.0.1:$PORT/bench.bin"
OUT="$STATE/work/out.bin"

# One run of a Windows program: its first field, or a retry once on failure.
timed() {
  local out
  out=$(wine "$@" | tr -d '\r') || out=$(wine "$@" | tr -d '\r') || { echo "run failed: $*" >&2; exit 1; }
  echo "${out%% *}"
}

results="$RESULTS_DIR/download-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"
for i in $(seq "$RUNS"); do
  rm -f "$STATE/work/curl.bin"
  echo "$i curl_file $(curl -s -o "$STATE/work/curl.bin" -w '%{time_total}' "$URL")" >> "$results"
  echo "$i curl_null $(curl -s -o /dev/null -w '%{time_total}' "$URL")" >> "$results"
  echo "$i wininet8k $(timed "$BENCH" wininet "$URL")" >> "$results"
  echo "$i engine $(timed "$BENCH" file "$URL" "$(winpath "$OUT")" "$SIZE")" >> "$results"
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "engine output differs from the source" >&2; exit 1; }
done
rm -f "$OUT" "$STATE/work/curl.bin"
echo "Plain download of $SIZE_MIB MiB, seconds (load: $(cut -d' ' -f1-3 /proc/loadavg)):"
python3 bench/report.py "$results" \
  "1. plain download throughput (both into a file):engine:curl_file:throughput:0.9" \
  "   the engine against curl writing nothing:engine:curl_null:throughput:0.9" \
  "   (for reference) 8 KiB WinINet loop:wininet8k:curl_file:throughput:0"
