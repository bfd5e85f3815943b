#!/usr/bin/env bash
# How soon a stop lands in a block-verified download that is receiving at a
# steady slow rate (the fault server's paced body): RUNS runs per rate, each
# stopped after STOP_MS, timed from the stop request to DownloadFileVerified's
# return. Big reads hold their bytes until full; the read size follows the rate
# so that a stop still lands within a second.
# The same again for a download from several sources (two paced mirrors,
# four connections, through the several-sources transfer the worker runs):
# every connection's request must let go within the second.
# Usage: bench/run_stop_bench.sh [BUILD_DIR]   (env: RUNS=5 STOP_MS=3000
#        CASES="single sources")
source "$(dirname "$0")/bench_common.sh"
RUNS="${RUNS:-5}"
STOP_MS="${STOP_MS:-3000}"
CASES="${CASES:-single sources}"
head -c $((64 * 1048576)) /dev/urandom > "$DOCROOT/stop.bin"
"$METATOOL" create "$DOCROOT/stop.bin" >/dev/null
OUT="$STATE/work/stop.bin"

results="$RESULTS_DIR/stop-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"
# check_stopped NAME CHUNK RUN OUTPUT: records the latency and bytes done.
check_stopped() {
  local name="$1" chunk="$2" i="$3" out="$4"
  read -r latency done hr <<< "$out"
  [ "$hr" = "$((0x80004004 - 0x100000000))" ] || { echo "the stopped download did not end with E_ABORT: $out" >&2; exit 1; }
  echo "$i ${name}stop_latency_at_$((chunk * 100 / 1000))KBps $latency" >> "$results"
  echo "$i ${name}bytes_done_at_$((chunk * 100 / 1000))KBps $done" >> "$results"
}
# Pieces every 10 ms: about 4 MB/s, 1 MB/s, 400 KB/s and 100 KB/s (per
# connection).
for chunk in 40000 10000 4000 1000; do
  for i in $(seq "$RUNS"); do
    if [[ " $CASES " == *" single "* ]]; then
      rm -f "$OUT"
      url="http://127.0.0.1:$FAULT_PORT/slow/stop-$chunk-$i?src=stop.bin&chunk=$chunk&ms=10"
      out=$(wine "$BENCH" stop "$url" "http://127.0.0.1:$PORT/stop.bin.meta" "$(winpath "$OUT")" "$STOP_MS" | tr -d '\r')
      check_stopped "" "$chunk" "$i" "$out"
    fi
    if [[ " $CASES " == *" sources "* ]]; then
      rm -f "$OUT"
      mirror="http://127.0.0.1:$FAULT_PORT/mirror/stops-$chunk-$i"
      out=$(wine "$BENCH" stop-sources "$STOP_MS" 4 "$(winpath "$OUT")" \
        "$mirror-a/stop.bin?src=stop.bin&chunk=$chunk&ms=10" "$mirror-b/stop.bin?src=stop.bin&chunk=$chunk&ms=10" |
        tr -d '\r')
      check_stopped "sources_" "$chunk" "$i" "$out"
    fi
  done
done
rm -f "$OUT"
echo "Stop latency in seconds at paced rates, stop after $STOP_MS ms (goal: below 1 s)" \
     "(load: $(cut -d' ' -f1-3 /proc/loadavg)):"
python3 bench/report.py "$results"
