#!/usr/bin/env bash
# Block-verified download and hash pass, RUNS paired runs of:
#   DownloadFileVerified under Wine into a fresh destination
#   aria2c natively with a metalink of 1 MiB SHA-1 pieces (the reference)
#   curl -o /dev/null natively (no verification: the transfer limit)
# and, over an existing complete file, the hash pass (VerifyFileWithMeta)
# against sha1sum (both read from the page cache).
# Goals: the verified download at 1.0 of aria2c's throughput or better; the
# hash pass at 0.8 of sha1sum's or better.
# Usage: bench/run_verified_bench.sh [BUILD_DIR]   (env: RUNS=5 SIZE_MIB=256 HASH_MIB=1024)
source "$(dirname "$0")/bench_common.sh"
RUNS="${RUNS:-5}"
SIZE_MIB="${SIZE_MIB:-256}"
HASH_MIB="${HASH_MIB:-1024}"

publish_bench_file "$SIZE_MIB"
OUT="$STATE/work/out.bin"
ARIA="$STATE/work/aria"

results="$RESULTS_DIR/verified-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"
for i in $(seq "$RUNS"); do
  echo "$i curl $(curl -s -o /dev/null -w '%{time_total}' "$URL")" >> "$results"
  rm -f "$OUT"
  out=$(wine "$BENCH" verified "$URL" "$URL.meta" "$(winpath "$OUT")" | tr -d '\r')
  read -r seconds _ hr _ <<< "$out"
  [ "$hr" = "0" ] || { echo "verified download failed: $out" >&2; exit 1; }
  cmp -s "$OUT" "$DOCROOT/bench.bin" || { echo "verified download differs from the source" >&2; exit 1; }
  echo "$i verified $seconds" >> "$results"
  rm -rf "$ARIA"
  echo "$i aria2c $(secs aria2c -q -d "$ARIA" -x1 -s1 -j1 --file-allocation=none --allow-overwrite=true \
      --auto-file-renaming=false --metalink-file="$METALINK")" >> "$results"
  cmp -s "$ARIA/bench.bin" "$DOCROOT/bench.bin" || { echo "aria2c output differs" >&2; exit 1; }
done
rm -rf "$ARIA" "$OUT"

HASHED="$STATE/work/hash.bin"
head -c $((HASH_MIB * 1048576)) /dev/urandom > "$HASHED"
"$METATOOL" create "$HASHED" "$HASHED.meta" >/dev/null
cat "$HASHED" > /dev/null  # both read from the page cache
for i in $(seq "$RUNS"); do
  out=$(wine "$BENCH" hash "$(winpath "$HASHED")" "$(winpath "$HASHED.meta")" | tr -d '\r')
  [ "${out##* }" = "0" ] || { echo "hash pass did not verify: $out" >&2; exit 1; }
  echo "$i hashpass ${out%% *}" >> "$results"
  echo "$i sha1sum $(secs sha1sum "$HASHED")" >> "$results"
done
rm -f "$HASHED" "$HASHED.meta"

echo "Verified download of $SIZE_MIB MiB and hash pass over $HASH_MIB MiB, seconds" \
     "(load: $(cut -d' ' -f1-3 /proc/loadavg)):"
python3 bench/report.py "$results" \
  "2. block-verified download throughput:verified:aria2c:throughput:1.0" \
  "3. hash pass throughput:hashpass:sha1sum:throughput:0.8" \
  "   (for reference) verified against curl:verified:curl:throughput:0"
