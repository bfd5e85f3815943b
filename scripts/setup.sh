#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine and prepares
# the build's Wine prefix. Idempotent: a second run only checks.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build python3 curl openssl ca-certificates
  # both thread models: posix for the tests, win32 for the shipped product
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 libz-mingw-w64-dev googletest nlohmann-json3-dev libssl-dev g++
  clang libclang-rt-14-dev zlib1g-dev  # native fuzz targets: libFuzzer, ASan, UBSan
  wine wine32:i386 wine64
  nginx msitools wixl osslsigncode unzip file
  # the download benchmarks' reference tool, and /usr/bin/time for their memory peaks
  aria2 time
  chromium
  # the telemetry service's production store, and its tests' own server
  postgresql python3-psycopg
  # the download compatibility matrix's servers (tests/compat)
  apache2 lighttpd squid
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Node.js runs the browser UI host harness and its tests (Debian's when the
# machine has none). playwright-core comes from package-lock.json and drives
# Debian's Chromium; no browser is ever downloaded. Installed again only when
# the lock file changed.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
if ! cmp -s package-lock.json node_modules/.setup-lock 2>/dev/null; then
  echo "setup: installing the npm packages"
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json node_modules/.setup-lock
fi

# Services never start themselves here; the tests start nginx with a config of ours.
command -v i686-w64-mingw32-g++-posix >/dev/null
command -v i686-w64-mingw32-g++-win32 >/dev/null

source scripts/wine-env.sh
if [ ! -f "$WINEPREFIX/.stub-ready" ]; then
  echo "setup: creating the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1 || true
  # The null graphics driver: windows and message boxes work without X.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  # Report Windows 10 as the tested system does.
  wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  wineserver -w
  test -f "$WINEPREFIX/system.reg"
  touch "$WINEPREFIX/.stub-ready"
fi
echo "setup: ready"
