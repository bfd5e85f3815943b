# Sourced by the benchmarks with BUILD set: a Wine prefix of the benchmarks'
# own (BUILD/bench-wineprefix), made by the setup script on first use. Any
# other prefix is refused: stopping its wineserver at the end would end tests
# running there.
BENCH_PREFIX="$BUILD/bench-wineprefix"
if [ -n "${STUB_WINEPREFIX:-}" ] && [ "$(realpath -m "$STUB_WINEPREFIX")" != "$(realpath -m "$BENCH_PREFIX")" ]; then
  echo "bench: runs only in its own prefix $BENCH_PREFIX, not in $STUB_WINEPREFIX" >&2
  exit 2
fi
export STUB_WINEPREFIX="$BENCH_PREFIX"
bash scripts/setup.sh >/dev/null
source scripts/wine-env.sh
