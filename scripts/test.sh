#!/usr/bin/env bash
# The project's test command: setup, configure, build, and run every test.
# Extra arguments go to ctest (for example -R HttpTask, or -j1 for one test at
# a time). Two tests run side by side (STUB_TEST_JOBS changes it); tests that
# share something guard it with CTest resource locks (cmake/StubTest.cmake).
# STUB_BUILD_DIR builds elsewhere than build/test, with its own Wine prefix
# (so that several working copies or people can test side by side).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${STUB_BUILD_DIR:-}" ]; then
  export STUB_WINEPREFIX="${STUB_WINEPREFIX:-$STUB_BUILD_DIR/wineprefix}"
fi
bash scripts/setup.sh
# Every include and link of src/ goes down the floors (README, Layout).
python3 scripts/check_layers.py
if [ -n "${STUB_BUILD_DIR:-}" ]; then
  cmake -S . -B "$STUB_BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
    -DCMAKE_BUILD_TYPE=Debug -DSTUB_BUILD_TESTS=ON -DSTUB_WINEPREFIX="$STUB_WINEPREFIX" >/dev/null
  cmake --build "$STUB_BUILD_DIR"
  ctest_args=(--test-dir "$STUB_BUILD_DIR" --output-on-failure --no-tests=error --timeout 300)
else
  cmake --preset test >/dev/null
  cmake --build --preset test
  ctest_args=(--preset test)
fi
source scripts/wine-env.sh
# One warm wineserver for the whole run. The first program also starts Wine's
# background services; start them here, away from ctest's output pipes, which
# they would otherwise hold open until the test times out.
# A server the build's test discovery started may still be ending (a second
# one cannot start while it runs): wait for it, within bounds. One that is
# already persistent is kept as it is.
if ! wineserver -p 2>/dev/null; then
  timeout 30 wineserver -w || true
  wineserver -p 2>/dev/null || true
fi
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
# Wine's desktop process starts with the first window and lives while any
# window does, holding the output of the program that started it. Started by
# a test while another test shows windows, it would keep the first test's
# output pipe open until its timeout. A window open for the whole run keeps one
# desktop, started here.
wine notepad >/dev/null 2>&1 </dev/null &
trap 'wineserver -k 2>/dev/null || true' EXIT
ctest "${ctest_args[@]}" --parallel "${STUB_TEST_JOBS:-2}" "$@"
