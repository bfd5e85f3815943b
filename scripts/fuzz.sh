#!/usr/bin/env bash
# Runs the native fuzz targets (tests/fuzz) over their seeds and fuzzes each
# for a while; prints one summary line per target. The test command runs
# each for 10 s; the long job is the default:
#
#   bash scripts/fuzz.sh [--build DIR] [--seconds 60] [TARGET...]
#
# DIR is a built test tree (default: $STUB_BUILD_DIR, else build/test). New
# inputs go to DIR/fuzz/work/TARGET, a crash's input to DIR/fuzz/artifacts/.
# Exit status non-zero when a target crashed, leaked or timed out.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${STUB_BUILD_DIR:-build/test}"
seconds=60
targets=()
while (($#)); do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if ((${#targets[@]} == 0)); then
  for bin in "$build"/fuzz/bin/fuzz_*; do targets+=("$(basename "$bin" | sed 's/^fuzz_//')"); done
fi
status=0
for target in "${targets[@]}"; do
  bin="$build/fuzz/bin/fuzz_$target"
  work="$build/fuzz/work/$target"
  mkdir -p "$work" "$build/fuzz/artifacts"
  dirs=("$work")
  [ -d "tests/fuzz/corpus/$target" ] && dirs+=("tests/fuzz/corpus/$target")
  [ -d "$build/fuzz/seeds/$target" ] && dirs+=("$build/fuzz/seeds/$target")
  case "$target" in
    zip|host_frames) max_len=65536 ;;
    *) max_len=4096 ;;
  esac
  log="$build/fuzz/$target.log"
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" -print_final_stats=1 \
       -artifact_prefix="$build/fuzz/artifacts/$target-" "${dirs[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | sed 's/cov: //')
  corpus=$(find "${dirs[@]}" -type f ! -name '.*' | wc -l)
  echo "fuzz_$target: $result, ${seconds} s, ${runs:-0} runs, coverage ${cov:-0} edges, corpus ${corpus} inputs"
  if [ "$result" = FAILED ]; then grep -E 'ERROR|SUMMARY|Test unit written|runtime error' "$log" | head -20; fi
done
exit $status
