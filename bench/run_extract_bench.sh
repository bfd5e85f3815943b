#!/usr/bin/env bash
# Extraction of a 94-file, ~1 MB bundle, medians of RUNS runs, in one run:
#   unzip -q (Info-ZIP, native)                    the reference
#   extract_bench on the plain archive (Wine)      ExtractArchive alone, and the whole process
#   extract_bench on the archive appended to a signed executable
# Usage: bench/run_extract_bench.sh [BUILD_DIR]   (env: RUNS=9)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build/test}" && pwd)"
RUNS="${RUNS:-9}"
cmake --build "$BUILD" --target extract_bench archive_fixture_image stub_signing_cert >/dev/null
source bench/bench_prefix.sh
STATE="$BUILD/bench-extract"
rm -rf "$STATE"
mkdir -p "$STATE"
python3 bench/make_bench_bundle.py "$STATE/bundle"
python3 - "$STATE" <<'PY'
import sys
sys.path.insert(0, "scripts")
import pack_bundle
archive, count = pack_bundle.zip_folder(sys.argv[1] + "/bundle")
open(sys.argv[1] + "/bundle.zip", "wb").write(archive)
print(f"archive: {count} entries, {len(archive)} bytes")
PY
python3 scripts/pack_bundle.py --image "$BUILD/tests/archive/archive_fixture_image.exe" --bundle "$STATE/bundle" \
  --output "$STATE/signed.exe" --cert "$BUILD/signing/test_signing_cert.pem" --key "$BUILD/signing/test_signing_key.pem"
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true
BENCH="$BUILD/bench/extract_bench.exe"
win() { echo "Z:$(echo "$1" | tr / '\\')"; }
now() { date +%s.%N; }

mkdir -p "$BUILD/bench-results"
results="$BUILD/bench-results/extract-$(date +%Y%m%dT%H%M%S).txt"
: > "$results"
for i in $(seq "$RUNS"); do
  rm -rf "$STATE/unzip" "$STATE/ours" "$STATE/ours_exe"
  t0=$(now); unzip -q "$STATE/bundle.zip" -d "$STATE/unzip"; t1=$(now)
  echo "unzip $(python3 -c "print($t1 - $t0)")" >> "$results"
  t0=$(now); inner=$(wine "$BENCH" "$(win "$STATE/bundle.zip")" "$(win "$STATE/ours")" | tr -d '\r'); t1=$(now)
  echo "extract ${inner%% *}" >> "$results"
  echo "process $(python3 -c "print($t1 - $t0)")" >> "$results"
  inner=$(wine "$BENCH" "$(win "$STATE/signed.exe")" "$(win "$STATE/ours_exe")" | tr -d '\r')
  echo "signed_exe ${inner%% *}" >> "$results"
  diff -r "$STATE/unzip" "$STATE/ours" >/dev/null || { echo "extracted trees differ" >&2; exit 1; }
  diff -r "$STATE/unzip" "$STATE/ours_exe" >/dev/null || { echo "extracted trees differ (exe)" >&2; exit 1; }
done
python3 - "$results" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    name, t = line.split()
    times.setdefault(name, []).append(float(t))
med = {k: statistics.median(v) for k, v in times.items()}
labels = {"unzip": "unzip -q, native process", "extract": "ExtractArchive, plain zip",
          "process": "extract_bench process under Wine", "signed_exe": "ExtractArchive, signed exe"}
for k in ("unzip", "extract", "signed_exe", "process"):
    print("%-34s median %7.1f ms  (%d runs, ratio to unzip %.2f)" % (labels[k], med[k] * 1000, len(times[k]),
                                                                    med[k] / med["unzip"]))
PY
