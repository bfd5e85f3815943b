#!/usr/bin/env bash
# A 1 GiB block-verified download: its peak memory, and a rerun after a kill
# at half way, RUNS paired runs of:
#   DownloadFileVerified under Wine into a fresh destination: the resident peak
#     of the Wine process (/usr/bin/time) and the peak working set it reports
#   aria2c natively with a metalink of 1 MiB SHA-1 pieces, fresh: its resident peak
#   the engine killed at the first progress report past half the file
#     (TerminateProcess, as a kill), then run again: the rerun's time and the
#     bytes it fetched beyond the ones missing
#   aria2c killed (SIGKILL) past half the file, then run again with
#     --check-integrity (like the engine, it knows only the file on disk)
#   aria2c interrupted (SIGINT, it saves its control file) past half the file,
#     then run again (it knows which pieces it had: nothing is hashed again)
# Goals: the rerun within 1.2 of aria2c's rerun time, fetching no more than the
# missing bytes + 1 MiB; the peak within 1.1 of aria2c's.
# Usage: bench/run_resume_bench.sh [BUILD_DIR]   (env: RUNS=3 SIZE_MIB=1024)
source "$(dirname "$0")/bench_common.sh"
RUNS="${RUNS:-3}"
SIZE_MIB="${SIZE_MIB:-1024}"
SIZE=$((SIZE_MIB * 1048576))
HALF=$((SIZE / 2))

head -c "$SIZE" /dev/urandom > "$DOCROOT/bench.bin"
"$METATOOL" create "$DOCROOT/bench.bin" >/dev/null
URL="http://127.0.0.1:$PORT/bench.bin"
metalink "$DOCROOT/bench.bin" "$URL" > "$STATE/work/bench.meta4"
OUT="$STATE/work/out.bin"
ARIA="$STATE/work/aria"
ARIA_ARGS=(-q -d "$ARIA" -x1 -s1 -j1 --file-allocation=none --auto-file-renaming=false
           --metalink-file="$STATE/work/bench.meta4")

# Body bytes the requests for bench.bin in the access log asked for.
fetched() {
  python3 - "$ACCESS_LOG" "$SIZE" <<'PY'
import re, sys
total = 0
for line in open(sys.argv[1]):
    method, uri, rng, _if_range, status = line.rstrip('\n').split('\t')[:5]
    if uri != '/bench.bin':
        continue
    m = re.match(r'bytes=(\d+)-(\d*)$', rng)
    if status == '206' and m:
        last = int(m.group(2)) if m.group(2) else int(sys.argv[2]) - 1
        total += last - int(m.group(1)) + 1
    elif status == '200':
        total += int(sys.argv[2])
print(total)
PY
}

# Runs aria2c and stops it with signal $1 once its file holds half the size.
aria_interrupted() {
  python3 - "$1" "$ARIA/bench.bin" "$HALF" aria2c "${ARIA_ARGS[@]}" <<'PY'
import os, signal, subprocess, sys, time
sig, path, half = getattr(signal, sys.argv[1]), sys.argv[2], int(sys.argv[3])
p = subprocess.Popen(sys.argv[4:])
while p.poll() is None:
    if os.path.exists(path) and os.path.getsize(path) >= half:
        p.send_signal(sig)
        break
    time.sleep(0.001)
p.wait()
print(os.path.getsize(path))
PY
}

# MiB fetched beyond the ones missing: mib_beyond FETCHED HAD_ON_DISK
mib_beyond() { awk -v f="$1" -v had="$2" -v size="$SIZE" 'BEGIN{print (f - (size - had)) / 1048576}'; }

# Empties the access log once the request of a killed client is in it: nginx
# writes a request's line when its connection closes, which under load may come
# after the client is gone (the rerun would then be charged with it).
fresh_log_after_kill() {
  for _ in $(seq 200); do
    grep -q $'\t/bench.bin\t' "$ACCESS_LOG" && break
    sleep 0.05
  done
  : > "$ACCESS_LOG"
}

max_rss_kib() { /usr/bin/time -f '%M' -o "$STATE/work/rss" "$@" > "$STATE/work/stdout" && cat "$STATE/work/rss"; }

results="$RESULTS_DIR/resume-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"
for i in $(seq "$RUNS"); do
  # Fresh downloads: peak memory.
  rm -f "$OUT"
  rss=$(max_rss_kib wine "$BENCH" verified "$URL" "$URL.meta" "$(winpath "$OUT")")
  read -r _ _ hr peak < <(tr -d '\r' < "$STATE/work/stdout")
  [ "$hr" = "0" ] || { echo "verified download failed: hr $hr" >&2; exit 1; }
  echo "$i engine_peak_rss_mib $(awk -v k="$rss" "BEGIN{print k / 1024}")" >> "$results"
  echo "$i engine_peak_ws_mib $(awk -v b="$peak" "BEGIN{print b / 1048576}")" >> "$results"
  rm -rf "$ARIA"
  rss=$(max_rss_kib aria2c "${ARIA_ARGS[@]}")
  echo "$i aria2c_peak_rss_mib $(awk -v k="$rss" "BEGIN{print k / 1024}")" >> "$results"

  # The engine killed at half way, then its rerun.
  rm -f "$OUT"
  : > "$ACCESS_LOG"
  killed=$(wine "$BENCH" verified "$URL" "$URL.meta" "$(winpath "$OUT")" "$HALF" | tr -d '\r' | sed -n 's/^killed at //p') || true
  [ -n "$killed" ] || { echo "the engine was not killed at half way" >&2; exit 1; }
  fresh_log_after_kill
  out=$(wine "$BENCH" verified "$URL" "$URL.meta" "$(winpath "$OUT")" | tr -d '\r')
  read -r seconds _ hr _ <<< "$out"
  [ "$hr" = "0" ] || { echo "rerun failed: $out" >&2; exit 1; }
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "rerun result differs from the source" >&2; exit 1; }
  echo "$i engine_rerun $seconds" >> "$results"
  echo "$i engine_excess_mib $(mib_beyond "$(fetched)" "$killed")" >> "$results"

  # aria2c killed at half way, then run again checking what is on disk.
  rm -rf "$ARIA"
  : > "$ACCESS_LOG"
  had=$(aria_interrupted SIGKILL)
  fresh_log_after_kill
  echo "$i aria2c_rerun_checked $(secs aria2c "${ARIA_ARGS[@]}" --check-integrity=true)" >> "$results"
  cmp -s "$ARIA/bench.bin" "$DOCROOT/bench.bin" || { echo "aria2c rerun differs" >&2; exit 1; }
  echo "$i aria2c_checked_excess_mib $(mib_beyond "$(fetched)" "$had")" >> "$results"

  # aria2c interrupted at half way (control file saved), then run again.
  rm -rf "$ARIA"
  : > "$ACCESS_LOG"
  had=$(aria_interrupted SIGINT)
  fresh_log_after_kill
  echo "$i aria2c_rerun_saved $(secs aria2c "${ARIA_ARGS[@]}")" >> "$results"
  cmp -s "$ARIA/bench.bin" "$DOCROOT/bench.bin" || { echo "aria2c rerun differs" >&2; exit 1; }
  echo "$i aria2c_saved_excess_mib $(mib_beyond "$(fetched)" "$had")" >> "$results"
done
rm -rf "$ARIA" "$OUT"

echo "Rerun after a kill at half of $SIZE_MIB MiB (seconds; bytes fetched beyond the missing ones in MiB)" \
     "and peak memory of a fresh download (MiB) (load: $(cut -d' ' -f1-3 /proc/loadavg)):"
python3 bench/report.py "$results" \
  "4. rerun time, aria2c knowing only the file:engine_rerun:aria2c_rerun_checked:time:1.2" \
  "   rerun time, aria2c with its control file:engine_rerun:aria2c_rerun_saved:time:1.2" \
  "5. peak memory (resident, both measured alike):engine_peak_rss_mib:aria2c_peak_rss_mib:memory:1.1"
echo "4. bytes beyond the missing ones: goal at most 1 MiB (engine_excess_mib above)"
