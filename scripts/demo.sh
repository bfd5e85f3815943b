#!/usr/bin/env bash
# The demo: the stub doing its whole job on this machine, over loopback only.
#
#   bash scripts/demo.sh [--headless|--headed] [--build-dir DIR]
#   bash scripts/demo.sh --bundle FOLDER [--headless|--headed] [--build-dir DIR] [-- stub arguments]
#
# Builds the release executables (the product, signed, and its development
# flavour with the browser UI host), a demo product (a Windows Installer
# package and a ZIP package with its own setup.exe, each with its .meta),
# publishes them on nginx behind a proxy that damages one block of the
# package's first transfer, starts the project's telemetry service, and runs
# the stub under Wine through the shipped pages (a Chromium window when a
# display exists, headless otherwise): machine check, block-verified download
# with the resume from the damaged block, install, finish. Then it prints
# what happened and stops everything it started.
#
# --bundle FOLDER runs any bundle folder in the development stub instead, and
# reloads the page when a file of the folder changes.
# --build-dir DIR uses the binaries of an existing build tree as they are
# (the test command passes its own); without it the release preset is built.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=()
build=""
bundle=""
stub_args=()
while (($#)); do
  case "$1" in
    --headless | --headed) mode=("$1") ;;
    --build-dir) build="$2"; shift ;;
    --bundle) bundle="$2"; shift ;;
    --) shift; stub_args=("$@"); break ;;
    *) echo "demo: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
# Chromium may show a window; Wine itself always runs headless (wine-env.sh).
if ((${#mode[@]} == 0)); then
  if [ -n "${DISPLAY:-}" ]; then mode=(--headed); else mode=(--headless); fi
fi

if [ -z "$build" ]; then
  bash scripts/setup.sh
  cmake --preset release >/dev/null
  cmake --build --preset release
  build=build/release
fi
build=$(cd "$build" && pwd)
env_file="$build/demo/demo.env"
[ -f "$env_file" ] || { echo "demo: $env_file is missing: build the tree first" >&2; exit 1; }
STUB_WINEPREFIX=$(sed -n 's/^wineprefix=//p' "$env_file")
export STUB_WINEPREFIX
source scripts/wine-env.sh

# One warm wineserver for the run, stopped at the end only if this started it
# (the test command runs its own for the whole test run). Wine's services
# start here, away from the output pipes they would otherwise hold open.
own_server=0
if wineserver -p 2>/dev/null; then own_server=1; fi
stop_server() {
  if ((own_server)); then wineserver -k 2>/dev/null || true; fi
}
trap stop_server EXIT
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

if [ -n "$bundle" ]; then
  node demo/run_bundle.js --env "$env_file" --bundle "$bundle" --out "$build/demo-bundle" "${mode[@]}" -- \
    ${stub_args[@]+"${stub_args[@]}"}
else
  node demo/run_demo.js --env "$env_file" --out "$build/demo-run" "${mode[@]}"
fi
