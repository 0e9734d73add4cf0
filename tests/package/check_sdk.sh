#!/usr/bin/env bash
# Checks an installed Quorvex SDK as a user meets it: builds sdk_user/ out of
# tree against PREFIX, once with find_package(QuorvexServer) and once with
# pkg-config, and runs each build against the driver installed in PREFIX; then
# host_user/ the same two ways, which must find the installed driver itself.
#
# Usage: check_sdk.sh [--without pkg-config|python]... PREFIX WORK_DIR [TOOLCHAIN_FILE]
#        check_sdk.sh [--without ...]... --install BUILD_DIR WORK_DIR [TOOLCHAIN_FILE]
#   --without       leave out the pkg-config build or the Python package's
#                   check, on a machine that has no pkg-config or no numpy
#   --install       first install BUILD_DIR into WORK_DIR/prefix, and check that
#   TOOLCHAIN_FILE  cross-build for Windows with it and run under wine
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
withPkgConfig=true withPython=true
while [[ $1 == --without ]]; do
  case $2 in
    pkg-config) withPkgConfig=false ;;
    python) withPython=false ;;
    *) echo "check_sdk: unknown --without $2" >&2; exit 2 ;;
  esac
  shift 2
done
if [[ $1 == --install ]]; then
  rm -rf "$3"
  cmake --install "$2" --prefix "$3/prefix" >/dev/null
  set -- "$3/prefix" "$3/check" "${@:4}"
fi
prefix=$(cd "$1" && pwd)
work=$2
toolchain=${3:-}
rm -rf "$work"
mkdir -p "$work/system"

if [[ -n $toolchain ]]; then
  driver=$prefix/bin/Quorvex.dll
  # WINE: the loader of the build's bitness, set by the test scripts.
  wine=${WINE:-wine}
  export WINEPATH="$("$wine" winepath -w "$prefix/bin")" WINEDEBUG=-all
  run() { "$wine" "$1" "$("$wine" winepath -w "$driver")" "$("$wine" winepath -w "$work/system")"; }
  toolchainArgs=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
  dlLibs=()
else
  driver=$(find "$prefix" -name libquorvex.so -print -quit)
  run() { "$1" "$driver" "$work/system"; }
  toolchainArgs=()
  dlLibs=(-ldl)
fi
pcDir=$(dirname "$(find "$prefix" -name quorvex-server.pc -print -quit)")
[[ -f $driver ]] || { echo "check_sdk: no driver library in $prefix" >&2; exit 1; }

echo "--- the installed quorvex-grab loads the installed driver by itself"
if [[ -n $toolchain ]]; then
  cameras=$(env -u WINEPATH "$wine" "$prefix/bin/quorvex-grab.exe" --list --system-dir "$("$wine" winepath -w "$work/system")")
else
  cameras=$(env -u LD_LIBRARY_PATH "$prefix/bin/quorvex-grab" --list --system-dir "$work/system")
fi
grep -q "^Camera 32" <<<"$cameras" || { echo "check_sdk: quorvex-grab --list gave: $cameras" >&2; exit 1; }

echo "--- find_package(QuorvexServer) from $prefix"
cmake -S "$here/sdk_user" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" "${toolchainArgs[@]}" >"$work/cmake.log" ||
  { cat "$work/cmake.log" >&2; exit 1; }
cmake --build "$work/cmake" >>"$work/cmake.log" || { cat "$work/cmake.log" >&2; exit 1; }
run "$work/cmake/sdk_user"*

if $withPkgConfig; then
  echo "--- pkg-config quorvex-server from $pcDir"
  # The compiler that CMake chose, which for a toolchain file is the cross one.
  compiler=$(sed -n 's/^set(CMAKE_C_COMPILER "\(.*\)")$/\1/p' "$work"/cmake/CMakeFiles/*/CMakeCCompiler.cmake)
  read -ra flags <<<"$(PKG_CONFIG_LIBDIR=$pcDir pkg-config --cflags --libs quorvex-server)"
  "$compiler" -std=c11 -Wall -Wextra -Werror "$here/sdk_user/sdk_user.c" -o "$work/sdk_user_pc" "${flags[@]}" "${dlLibs[@]}"
  # Started as a user starts it, with nothing set: the run path that the
  # pkg-config file gives finds the library.
  run "$work/sdk_user_pc"*
fi

echo "--- find_package(QuorvexHost) from $prefix"
cmake -S "$here/host_user" -B "$work/host_cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" "${toolchainArgs[@]}" \
  >"$work/host_cmake.log" || { cat "$work/host_cmake.log" >&2; exit 1; }
cmake --build "$work/host_cmake" >>"$work/host_cmake.log" || { cat "$work/host_cmake.log" >&2; exit 1; }
if [[ -n $toolchain ]]; then
  runHost() { "$wine" "$1" "$("$wine" winepath -w "$work/system")"; }
else
  runHost() { "$1" "$work/system"; }
fi
runHost "$work/host_cmake/host_user"*

if $withPkgConfig; then
  echo "--- pkg-config quorvex-host from $pcDir"
  read -ra flags <<<"$(PKG_CONFIG_LIBDIR=$pcDir pkg-config --cflags --libs quorvex-host)"
  "$compiler" -std=c11 -Wall -Wextra -Werror "$here/host_user/host_user.c" -o "$work/host_user_pc" "${flags[@]}"
  runHost "$work/host_user_pc"*
fi

[[ -z $toolchain ]] && $withPython || exit 0
package=$(find "$prefix" -type d -name quorvex -path '*/python*' -print -quit)
echo "--- the Python package from $package"
[[ -n $package ]] || { echo "check_sdk: no Python package in $prefix" >&2; exit 1; }
PYTHONPATH=$(dirname "$package") /usr/bin/python3 "$here/python_user.py" "$prefix" "$work/system"
