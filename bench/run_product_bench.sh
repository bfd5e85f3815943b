#!/usr/bin/env bash
# Downloads through the product's own path against the reference tools, in
# RUNS pairs whose order alternates (tool first in odd pairs, reference first
# in even ones), every process timed from outside (bench/measure.py: wall
# seconds, CPU seconds, peak private memory):
#   plain:    worker_bench plain  (download(url, file, "", false, false) through
#             window.external: the worker, its reporters, the page callbacks)
#             against curl -o FILE
#   verified: worker_bench verified (resume = true: the .meta, 1 MiB SHA-1
#             blocks) against aria2c with a metalink of 1 MiB SHA-1 pieces
#   idle:     worker_bench idle (the application built, nothing downloaded);
#             its time less its 0.5 s wait is the process's start and end
#             under Wine, taken off the downloads for the reference rows
# Goals: plain >= 0.9x curl's throughput, verified >= 1.0x aria2c's, CPU per
# GiB <= 1.2x aria2c's, the private memory a download adds to the stub
# <= 1.1x aria2c's private memory. Every run's figures stay in
# BUILD/bench-results/product-*.txt; each figure is printed with the load.
# Usage: bench/run_product_bench.sh [BUILD_DIR]   (env: RUNS=6 SIZE_MIB=256)
source "$(dirname "$0")/bench_common.sh"
RUNS="${RUNS:-6}"
SIZE_MIB="${SIZE_MIB:-256}"

publish_bench_file "$SIZE_MIB"
OUT="$STATE/work/out.bin"
ARIA="$STATE/work/aria"
results="$RESULTS_DIR/product-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"

# measure RUN NAME COMMAND...: records NAME_s, NAME_cpu and NAME_priv.
measure() {
  local run=$1 name=$2 figures seconds cpu priv
  shift 2
  figures=$(python3 bench/measure.py "$@" 2>/dev/null) || { echo "$name failed: $*" >&2; exit 1; }
  read -r seconds cpu priv <<< "$figures"
  printf '%s %s_s %s\n%s %s_cpu %s\n%s %s_priv %s\n' "$run" "$name" "$seconds" "$run" "$name" "$cpu" \
    "$run" "$name" "$priv" >> "$results"
}
same() { cmp -s "$1" "$DOCROOT/bench.bin" || { echo "$2 output differs from the source" >&2; exit 1; }; }

stub_plain() { rm -f "$OUT"; measure "$1" plain wine "$WORKER_BENCH" plain "$URL" "$(winpath "$OUT")"; same "$OUT" plain; }
ref_plain() { rm -f "$STATE/work/curl.bin"; measure "$1" curl curl -s -o "$STATE/work/curl.bin" "$URL"; same "$STATE/work/curl.bin" curl; }
stub_verified() { rm -f "$OUT"; measure "$1" verified wine "$WORKER_BENCH" verified "$URL" "$(winpath "$OUT")"; same "$OUT" verified; }
ref_verified() {
  rm -rf "$ARIA"
  measure "$1" aria2c aria2c -q -d "$ARIA" -x1 -s1 -j1 --file-allocation=none --allow-overwrite=true \
    --auto-file-renaming=false --metalink-file="$METALINK"
  same "$ARIA/bench.bin" aria2c
}

for i in $(seq "$RUNS"); do
  echo "$i load $(load1)" >> "$results"
  measure "$i" idle wine "$WORKER_BENCH" idle
  if ((i % 2)); then
    stub_plain "$i"; ref_plain "$i"; stub_verified "$i"; ref_verified "$i"
  else
    ref_plain "$i"; stub_plain "$i"; ref_verified "$i"; stub_verified "$i"
  fi
done
rm -rf "$ARIA" "$OUT" "$STATE/work/curl.bin"

# Derived per run: CPU seconds per GiB, and the private memory a download adds
# to the stub (its peak less the idle application's).
python3 - "$results" "$SIZE_MIB" <<'PY'
import sys
path, mib = sys.argv[1], float(sys.argv[2])
runs = {}
for line in open(path):
    run, name, value = line.split()
    runs.setdefault(run, {})[name] = float(value)
with open(path, 'a') as out:
    for run, v in runs.items():
        for name in ('plain', 'curl', 'verified', 'aria2c'):
            out.write('%s %s_cpu_per_gib %.6f\n' % (run, name, v[name + '_cpu'] * 1024 / mib))
        for name in ('plain', 'verified'):
            out.write('%s %s_added_priv %d\n' % (run, name, max(v[name + '_priv'] - v['idle_priv'], 1)))
            # The download alone: less the process's start and end under Wine
            # (the idle run's time less its 0.5 s wait).
            out.write('%s %s_less_start_s %.6f\n' % (run, name, max(v[name + '_s'] - (v['idle_s'] - 0.5), 0.001)))
PY
echo "Downloads of $SIZE_MIB MiB through the product's path, $RUNS alternating pairs" \
     "(1-minute load per pair: $(awk '$2 == "load" {printf "%s ", $3}' "$results")), figures in $results:"
python3 bench/report.py "$results" \
  "plain through the worker vs curl into a file:plain_s:curl_s:throughput:0.9" \
  "verified through the worker vs aria2c (metalink):verified_s:aria2c_s:throughput:1.0" \
  "plain less the stub's start-up vs curl (for reference):plain_less_start_s:curl_s:throughput:0" \
  "verified less the stub's start-up vs aria2c (for reference):verified_less_start_s:aria2c_s:throughput:0" \
  "CPU per GiB, verified vs aria2c:verified_cpu_per_gib:aria2c_cpu_per_gib:time:1.2" \
  "CPU per GiB, plain vs curl (for reference):plain_cpu_per_gib:curl_cpu_per_gib:time:0" \
  "private memory a verified download adds vs aria2c's:verified_added_priv:aria2c_priv:memory:1.1" \
  "private memory a plain download adds vs curl's (for reference):plain_added_priv:curl_priv:memory:0"
echo "idle stub private memory (KiB, median): $(awk '$2 == "idle_priv" {print $3}' "$results" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
