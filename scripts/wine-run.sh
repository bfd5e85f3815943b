#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]  (CMake's cross-compiling emulator)
set -euo pipefail
export STUB_WINEPREFIX="$1"; shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
