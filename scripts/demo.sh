#!/usr/bin/env bash
# The demo: the stub doing its whole job on this machine, over loopback only.
#
#   bash scripts/demo.sh [--headless|--headed] [--build-dir DIR]
#   bash scripts/demo.sh --bundle FOLDER [--overlay DIR|FILE.json] [--shots DIR] [--click-through]
#                        [--timeout SECONDS] [--headless|--headed] [--build-dir DIR] [-- stub arguments]
#   bash scripts/demo.sh --help
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
# reloads the page when a file of the folder changes; each page's title is
# printed, and a page that waits says why.
# --build-dir DIR uses the binaries of an existing build tree as they are
# (the test command passes its own); without it the release preset is built.
# STUB_WINEPREFIX, when set, is the Wine prefix (as for setup.sh and the tests);
# else the build tree's.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<'USAGE'
usage: bash scripts/demo.sh [--headless|--headed] [--build-dir DIR]
       bash scripts/demo.sh --bundle FOLDER [options] [-- stub arguments]

The demo: builds the release tree (unless --build-dir names a built one),
publishes a demo product on loopback servers and runs the stub through its
pages under Wine; prints a report. Exit status 0 when the product got installed.

  --headless | --headed  Chromium without or with a window (default: a window when DISPLAY is set)
  --build-dir DIR        use this build tree's binaries as they are
  --bundle FOLDER        run this bundle folder (staged as the build stages one) in the development stub
    --overlay DIR        files that replace the bundle's own
    --overlay FILE.json  settings appended to its scripts; demo/wine_settings.json lets the
                         shipped pages past the minimum-system check, which Wine's facts fail
    --shots DIR          a screenshot of every page
    --click-through      press each page's forward button (Next, Install, Finish, ...)
    --timeout SECONDS    end the run after this long (0: never; default 300 headless or clicking through)
  STUB_WINEPREFIX        the Wine prefix (default: the build tree's)
A run's exit code 255 is the stub's 2147483647 (no self-update pending) as Linux keeps its low 8 bits.
USAGE
}

mode=()
build=""
bundle=""
bundle_args=()
stub_args=()
while (($#)); do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --headless | --headed) mode=("$1") ;;
    --click-through) bundle_args+=("$1") ;;
    --build-dir | --bundle | --overlay | --shots | --timeout)
      if (($# < 2)); then echo "demo: $1 needs a value" >&2; usage >&2; exit 2; fi
      case "$1" in
        --build-dir) build="$2" ;;
        --bundle) bundle="$2" ;;
        *) bundle_args+=("$1" "$2") ;;
      esac
      shift ;;
    --) shift; stub_args=("$@"); break ;;
    *) echo "demo: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
if ((${#bundle_args[@]})) && [ -z "$bundle" ]; then
  echo "demo: ${bundle_args[0]} goes with --bundle FOLDER" >&2
  exit 2
fi
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
STUB_WINEPREFIX=${STUB_WINEPREFIX:-$(sed -n 's/^wineprefix=//p' "$env_file")}
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
  node demo/run_bundle.js --env "$env_file" --bundle "$bundle" --out "$build/demo-bundle" "${mode[@]}" \
    ${bundle_args[@]+"${bundle_args[@]}"} -- \
    ${stub_args[@]+"${stub_args[@]}"}
else
  node demo/run_demo.js --env "$env_file" --out "$build/demo-run" "${mode[@]}"
fi
