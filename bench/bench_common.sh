# Sourced by the download benchmarks. Builds the benchmark programs and the
# native metatool in BUILD (argument 1; default build/bench, configured on
# first use with the product's size-optimised flags and no tests), makes the
# benchmarks' own Wine prefix (BUILD/bench-wineprefix; never the project's),
# starts the test servers (nginx and the fault server on free 127.0.0.1 ports)
# and a warm wineserver, and stops both on exit. Sets BUILD, BENCH,
# WORKER_BENCH, METATOOL, STATE, PORT, FAULT_PORT, DOCROOT, ACCESS_LOG,
# RESULTS_DIR and the functions winpath and load1.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD="${1:-build/bench}"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DSTUB_BUILD_TESTS=OFF >/dev/null
fi
BUILD="$(cd "$BUILD" && pwd)"
cmake --build "$BUILD" --target download_bench worker_bench metatool_native >/dev/null
BENCH="$BUILD/bench/download_bench.exe"
WORKER_BENCH="$BUILD/bench/worker_bench.exe"
METATOOL="$BUILD/tools/metatool-native"
source bench/bench_prefix.sh
# Every run's figures stay after the benchmark ends.
RESULTS_DIR="$BUILD/bench-results"
mkdir -p "$RESULTS_DIR"
load1() { cut -d' ' -f1 /proc/loadavg; }

STATE="$BUILD/bench-servers"
python3 tests/support/servers.py start "$STATE" >/dev/null
wineserver -p 2>/dev/null || true
trap 'python3 tests/support/servers.py stop "$STATE" >/dev/null; rm -rf "$STATE/work"; wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
# Windows always has a desktop; Wine starts one with the first window and
# closes it a second after the last, and a process that meets none waits
# 60-210 ms for it. A window held open for the run keeps one up, as on the
# machines users have (BENCH_COLD_DESKTOP=1 measures without it).
if [ "${BENCH_COLD_DESKTOP:-0}" != 1 ]; then
  wine notepad >/dev/null 2>&1 </dev/null &
  sleep 1
  echo "Wine desktop: kept up for the run (BENCH_COLD_DESKTOP=1: started by each process, as Wine alone does)"
else
  echo "Wine desktop: cold (each process may wait for Wine to start one)"
fi
PORT=$(sed -n 's/^nginx_port=//p' "$STATE/servers.env")
FAULT_PORT=$(sed -n 's/^fault_port=//p' "$STATE/servers.env")
DOCROOT=$(sed -n 's/^docroot=//p' "$STATE/servers.env")
ACCESS_LOG=$(sed -n 's/^nginx_log=//p' "$STATE/servers.env")
mkdir -p "$STATE/work"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# A metalink of 1 MiB SHA-1 pieces for aria2c: metalink FILE URL... > OUT
# (every URL a source of the same file)
metalink() {
  python3 - "$@" <<'PY'
import hashlib, os, sys
path, urls = sys.argv[1], sys.argv[2:]
print('<?xml version="1.0" encoding="UTF-8"?>')
print('<metalink xmlns="urn:ietf:params:xml:ns:metalink"><file name="%s">' % os.path.basename(path))
print('<size>%d</size><pieces length="1048576" type="sha-1">' % os.path.getsize(path))
with open(path, 'rb') as f:
    while True:
        block = f.read(1 << 20)
        if not block:
            break
        print('<hash>%s</hash>' % hashlib.sha1(block).hexdigest())
print('</pieces>')
for url in urls:
    print('<url>%s</url>' % url.replace('&', '&amp;'))
print('</file></metalink>')
PY
}

# Seconds a native command takes (fails when the command fails).
secs() {
  python3 -c 'import subprocess, sys, time
t = time.perf_counter()
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
sys.exit(r.returncode) if r.returncode else print("%.6f" % (time.perf_counter() - t))' "$@"
}

# A random file of $1 MiB published as bench.bin with its .meta, the .meta's
# signature by the build's release key (a stub with a key uses no unsigned
# .meta), and a metalink of it for aria2c; sets URL and METALINK.
publish_bench_file() {
  head -c $(($1 * 1048576)) /dev/urandom > "$DOCROOT/bench.bin"
  "$METATOOL" create "$DOCROOT/bench.bin" >/dev/null
  if [ -f "$BUILD/signing/test_release_key.pem" ]; then
    "$METATOOL" sign --key "$BUILD/signing/test_release_key.pem" "$DOCROOT/bench.bin.meta" >/dev/null
  fi
  URL="http://127.0.0.1:$PORT/bench.bin"
  METALINK="$STATE/work/bench.meta4"
  metalink "$DOCROOT/bench.bin" "$URL" > "$METALINK"
}
