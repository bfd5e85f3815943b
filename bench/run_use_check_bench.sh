#!/usr/bin/env bash
# The check at the moment of use (utils::HoldVerifiedFile, what the install
# worker runs before it hands a package over: open against writers, check the
# .meta's release signature, hash every 1 MiB block) over a package of
# SIZE_MIB, against sha1sum over the same file. RUNS pairs, alternated; both
# timed from outside their processes; both read from the page cache.
# Goal: the check at 0.8 of sha1sum's throughput or better.
# Runs in a Wine prefix of its own (BUILD/bench-wineprefix), never the tests'.
# Usage: bench/run_use_check_bench.sh [BUILD_DIR]   (env: RUNS=5 SIZE_MIB=1024)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD="${1:-build/bench}"
RUNS="${RUNS:-5}"
SIZE_MIB="${SIZE_MIB:-1024}"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DSTUB_BUILD_TESTS=OFF >/dev/null
fi
BUILD="$(cd "$BUILD" && pwd)"
cmake --build "$BUILD" --target use_check_bench metatool_native >/dev/null
BENCH="$BUILD/bench/use_check_bench.exe"
METATOOL="$BUILD/tools/metatool-native"
source bench/bench_prefix.sh
WORK="$BUILD/use-check-work"
mkdir -p "$WORK"
wineserver -p 2>/dev/null || true
trap 'rm -rf "$WORK"; wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
secs() {
  python3 -c 'import subprocess, sys, time
t = time.perf_counter()
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
sys.exit(r.returncode) if r.returncode else print("%.6f" % (time.perf_counter() - t))' "$@"
}

# A release key of the benchmark's own, and the package as a verified
# download leaves it: the file, its .meta and the .meta's signature.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out "$WORK/key.pem" 2>/dev/null
openssl pkey -in "$WORK/key.pem" -pubout -outform DER -out "$WORK/key.der"
PACKAGE="$WORK/package.msi"
head -c $((SIZE_MIB * 1048576)) /dev/urandom > "$PACKAGE"
"$METATOOL" create "$PACKAGE" >/dev/null
"$METATOOL" sign --key "$WORK/key.pem" "$PACKAGE.meta" >/dev/null
cat "$PACKAGE" > /dev/null
wine "$BENCH" "$(winpath "$PACKAGE")" "$(winpath "$WORK/key.der")" >/dev/null || { echo "the check refused the package" >&2; exit 1; }

results="$WORK/results.txt"
: > "$results"
for i in $(seq "$RUNS"); do
  echo "$i usecheck $(secs wine "$BENCH" "$(winpath "$PACKAGE")" "$(winpath "$WORK/key.der")")" >> "$results"
  echo "$i sha1sum $(secs sha1sum "$PACKAGE")" >> "$results"
  echo "  pair $i done (load $(cut -d' ' -f1 /proc/loadavg))" >&2
done
echo "Check at the moment of use over $SIZE_MIB MiB, seconds (1-minute load: $(cut -d' ' -f1 /proc/loadavg)):"
cat "$results"
python3 bench/report.py "$results" "check at use throughput:usecheck:sha1sum:throughput:0.8"
