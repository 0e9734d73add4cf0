#!/usr/bin/env bash
# Shows Quorvex at work: builds the driver and the two tools, starts
# quorvex-server with its moving test pattern, lets quorvex-grab (a host that
# loads the driver as any host does) grab a few hundred frames and save some
# as PNG files, prints the grab's summary and stops the server.
#
# Usage: scripts/run-demo.sh [--wine] [--frames N] [--fps N] [--size WxH]
#                            [--bpp 1|3|4] [--every N]
#   --wine     the Windows build: Quorvex.dll and the tools, run under wine
#   --frames   frames to grab (default 300)
#   --fps      frames per second the server publishes (default 60)
#   --size     frame size (default 640x480)
#   --bpp      bytes per pixel: gray, RGB or RGBA (default 3)
#   --every    save every N-th frame as PNG (default 100)
#
# As root on a fresh Debian 12 machine it installs what it lacks first.
# Builds land in build/demo-native or build/demo-win32 (QUORVEX_BUILD_ROOT
# moves them); the PNG files in build/demo-<kind>-frames.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
mkdir -p "$BUILD_ROOT"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
export QUORVEX_APT_LOG=$BUILD_ROOT/apt.log
readonly ROOT BUILD_ROOT
# Exactly what the demo builds with: the build tools, GoogleTest (which the
# configure step asks for) and stb (the PNG files); for --wine the mingw
# compiler, GoogleTest's sources to build for it, and wine.
readonly kNativePackages=(cmake ninja-build g++ libgtest-dev libstb-dev)
readonly kWinePackages=(g++-mingw-w64-i686 googletest wine wine32:i386)
readonly kShare="Quorvex Demo"

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
# shellcheck source=lib/wine.sh
source "$ROOT/scripts/lib/wine.sh"

usage() { sed -n '2,19s/^# \{0,1\}//p' "$0"; }

wine=false frames=300 fps=60 size=640x480 bpp=3 every=100
while (($# > 0)); do
  case $1 in
    --wine) wine=true ;;
    --frames) frames=$2; shift ;;
    --fps) fps=$2; shift ;;
    --size) size=$2; shift ;;
    --bpp) bpp=$2; shift ;;
    --every) every=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run-demo.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

kind=native
packages=("${kNativePackages[@]}")
if $wine; then
  kind=win32
  packages+=("${kWinePackages[@]}")
fi
readonly buildDir=$BUILD_ROOT/demo-$kind
readonly framesDir=$BUILD_ROOT/demo-$kind-frames
readonly systemDir=$BUILD_ROOT/demo-$kind-system

install_missing "${packages[@]}"

printf '\n=== Building the driver and the tools (%s) in %s\n' "$kind" "$buildDir"
# Optimised: the test pattern is drawn and checked whole for every frame.
configureArgs=(-DCMAKE_BUILD_TYPE=Release)
$wine && configureArgs+=("-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-i686.cmake")
cmake -S "$ROOT" -B "$buildDir" -G Ninja "${configureArgs[@]}" >"$buildDir.configure.log" 2>&1 || {
  cat "$buildDir.configure.log" >&2
  exit 1
}
# ninja's own progress lines ("[12/57] Building CXX object ...") show that
# the build, about a minute on two cores, goes on.
ninja -C "$buildDir" -j 2 quorvex quorvex-server quorvex-grab

# How each tool is started, and how a path is given to it.
run=()
tool() { echo "$buildDir/bin/$1"; }
hostPath() { echo "$1"; }
if $wine; then
  # A prefix of the demo's own, so that ending its wine processes at the end
  # leaves any other user of wine alone.
  use_wine_prefix "$BUILD_ROOT/demo-wine-prefix"
  run=(wine)
  tool() { echo "$buildDir/bin/$1.exe"; }
  hostPath() { winepath -w "$1"; }
fi

rm -rf "$framesDir"
mkdir -p "$framesDir" "$systemDir"
serverLog=$BUILD_ROOT/demo-$kind-server.log

printf '\n=== Starting quorvex-server on the share "%s": %s, %s bytes per pixel, %s fps\n' \
  "$kShare" "$size" "$bpp" "$fps"
"${run[@]}" "$(tool quorvex-server)" --share "$kShare" --size "$size" --bpp "$bpp" --fps "$fps" \
  >"$serverLog" 2>&1 &
serverPid=$!
# Ctrl+C for the server (wine passes SIGINT on as Ctrl+C); whatever happens
# to this script, the server does not stay behind.
stop_server() {
  if kill -0 "$serverPid" 2>/dev/null; then
    kill -INT "$serverPid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$serverPid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$serverPid" 2>/dev/null || true
  fi
  wait "$serverPid" 2>/dev/null || true
  # Wine's own services stay after the tools; they go with the demo.
  if $wine; then
    wineserver -k 2>/dev/null || true
  fi
}
trap stop_server EXIT

for _ in $(seq 300); do
  grep -q "serving" "$serverLog" 2>/dev/null && break
  if ! kill -0 "$serverPid" 2>/dev/null; then
    cat "$serverLog" >&2
    echo "run-demo.sh: quorvex-server ended at once" >&2
    exit 1
  fi
  sleep 0.1
done
head -n 1 "$serverLog"

printf '\n=== Grabbing %s frames with quorvex-grab, every %s-th saved as PNG\n' "$frames" "$every"
grabStatus=0
"${run[@]}" "$(tool quorvex-grab)" --system-dir "$(hostPath "$systemDir")" --share "$kShare" \
  --frames "$frames" --save "$(hostPath "$framesDir")" --every "$every" || grabStatus=$?

printf '\n=== Stopping quorvex-server\n'
stop_server
trap - EXIT
tail -n 2 "$serverLog"

printf '\n=== Saved frames in %s\n' "$framesDir"
ls "$framesDir"
if ((grabStatus != 0)); then
  echo "run-demo.sh: quorvex-grab failed (exit code $grabStatus)" >&2
  exit "$grabStatus"
fi
