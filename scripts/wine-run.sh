#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]  (CMake's cross-compiling emulator)
set -euo pipefail
export STUB_WINEPREFIX="$1"; shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Wine's background services (services.exe and the processes it starts) live
# as long as the wineserver and inherit the output of the program that first
# needed them. Started by a test, they would hold its output pipe open, and
# CTest or node would wait for it until the test's timeout. So they are
# started here first, away from every pipe, once per wineserver.
services_running() {
  local process name
  for process in /proc/[0-9]*; do
    # Builtins only: this runs before every program of the tests.
    read -r name 2>/dev/null <"$process/comm" || continue
    [[ "$name" == services.exe ]] || continue
    { tr '\0' '\n' <"$process/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
if [[ -d "$WINEPREFIX" ]] && ! services_running; then
  (
    flock 9
    # The lock stays here: what Wine starts must not inherit it.
    services_running || wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  ) 9>"$WINEPREFIX/.services-start.lock"
fi
exec wine "$@"
