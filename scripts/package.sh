#!/usr/bin/env bash
# Builds the release packages with CPack into build/packages/:
#   Quorvex-<version>-win32.zip  32-bit driver, tools and server SDK, the
#                                64-bit server SDK in sdk/x64/, the Python
#                                package and the README
#   quorvex_<version>_amd64.deb  the same for Linux, under /usr
# and checks each: unpacked into a temporary folder, a small C program is
# built against its SDK (find_package and pkg-config) and run against its
# driver, natively or under wine.
#
# Usage: scripts/package.sh [--deb]   (as root on Debian 12: installs what it lacks)
#   --deb  the Debian package only
# QUORVEX_BUILD_ROOT moves the build folders elsewhere (default: build).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
mkdir -p "$BUILD_ROOT"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
readonly ROOT BUILD_ROOT
readonly WORK=$BUILD_ROOT/package-work OUT=$BUILD_ROOT/packages
# The Debian package ships the viewer (GTK 3) and the GStreamer plugin too.
readonly kDebPackages=(cmake ninja-build g++ libgtest-dev libstb-dev pkgconf dpkg-dev python3 python3-numpy
  libgtk-3-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev)
readonly kZipPackages=(googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64)

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
# shellcheck source=lib/wine.sh
source "$ROOT/scripts/lib/wine.sh"

log() { printf '\n=== %s\n' "$*"; }

# configure NAME [cmake arguments]: a Release build in $WORK/NAME whose
# install does not build the tests first.
configure() {
  local name=$1
  shift
  cmake -S "$ROOT" -B "$WORK/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" >"$WORK/$name.configure.log" ||
    { cat "$WORK/$name.configure.log" >&2; return 1; }
}

build() {
  local name=$1
  shift
  cmake --build "$WORK/$name" -j 2 --target "$@"
}

readonly kShipped=(quorvex quorvex_server_shared quorvex-server quorvex-grab quorvex-check quorvex_python)
readonly kLinuxShipped=("${kShipped[@]}" quorvex-view gstquorvex)

package_deb() {
  log "Debian package"
  configure linux
  build linux "${kLinuxShipped[@]}"
  (cd "$WORK/linux" && cpack -B "$OUT" >/dev/null)
  rm -rf "$OUT/_CPack_Packages"
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$WORK/linux/CPackConfig.cmake")
  deb=$(ls "$OUT"/quorvex_"$version"_*.deb)

  log "Check $(basename "$deb")"
  rm -rf "$WORK/deb-root"
  dpkg-deb -x "$deb" "$WORK/deb-root"
  bash "$ROOT/tests/package/check_sdk.sh" "$WORK/deb-root/usr" "$WORK/deb-check"
}

main() {
  local debOnly=false version deb
  case ${1:-} in
    --deb) debOnly=true ;;
    "") ;;
    *) sed -n '2,13s/^# \{0,1\}//p' "$0" >&2; return 2 ;;
  esac
  if $debOnly; then
    install_missing "${kDebPackages[@]}"
  else
    install_missing "${kDebPackages[@]}" "${kZipPackages[@]}"
  fi
  mkdir -p "$WORK" "$OUT"
  if $debOnly; then
    package_deb
    log "Package"
    ls -l "$deb"
    return 0
  fi

  log "64-bit Windows server SDK"
  configure win64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DQUORVEX_SERVER_ONLY=ON
  build win64 quorvex_server_shared
  rm -rf "$WORK/win64-sdk"
  cmake --install "$WORK/win64" --component server_sdk --prefix "$WORK/win64-sdk"

  log "32-bit Windows package"
  configure win32 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" -DQUORVEX_X64_SDK="$WORK/win64-sdk"
  build win32 "${kShipped[@]}"
  (cd "$WORK/win32" && cpack -B "$OUT" >/dev/null)

  package_deb
  local zip=$OUT/Quorvex-$version-win32.zip

  log "Check $(basename "$zip")"
  rm -rf "$WORK/zip-root"
  mkdir -p "$WORK/zip-root"
  (cd "$WORK/zip-root" && cmake -E tar xf "$zip")
  local unpacked=$WORK/zip-root/Quorvex-$version-win32
  objdump -f "$unpacked/sdk/x64/bin/quorvex_server.dll" | grep -q 'file format pei-x86-64' ||
    { echo "sdk/x64/bin/quorvex_server.dll is not a 64-bit DLL" >&2; return 1; }
  use_wine_prefix "$WORK/wine-prefix"
  bash "$ROOT/tests/package/check_sdk.sh" "$unpacked" "$WORK/zip-check" "$ROOT/cmake/mingw-w64-i686.cmake"
  wineserver -k >/dev/null 2>&1 || true

  log "Packages"
  ls -l "$zip" "$deb"
}

main "$@"
