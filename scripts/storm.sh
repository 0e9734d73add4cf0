#!/usr/bin/env bash
# Runs the randomized hostile-server storm for longer than CI does.
#
# Usage: scripts/storm.sh [--minutes N] [--seed S] [--config asan|tsan|native|win32]
#
#   --minutes N   how long the storm runs (default 5)
#   --seed S      the seed of a run to repeat, as a failing run prints it
#                 (default: a random one, printed at the start)
#   --config C    the build to run it in, each in build/<C> as scripts/test.sh
#                 makes it: asan (default), tsan, native, or win32 under wine
#
# Installs what it lacks (as root), builds the storm's test program and runs
# its storm case; exits non-zero when the storm fails.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
readonly ROOT BUILD_ROOT

usage() {
  sed -n '2,13s/^# \{0,1\}//p' "$0"
}

minutes=5 seed='' config=asan
while (($# > 0)); do
  case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --config) config=$2; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "Unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
done
if ! [[ $minutes =~ ^[0-9]+$ ]] || ((minutes == 0)); then
  echo "--minutes wants a whole number above 0" >&2
  exit 2
fi
if [[ -n $seed && ! $seed =~ ^[0-9]+$ ]]; then
  echo "--seed wants a whole number" >&2
  exit 2
fi

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
packages=(cmake ninja-build g++ libgtest-dev googletest libstb-dev)
cmakeArgs=()
case $config in
  asan) cmakeArgs=(-DQUORVEX_SANITIZE=address) ;;
  tsan) cmakeArgs=(-DQUORVEX_SANITIZE=thread) ;;
  native) ;;
  win32)
    packages+=(g++-mingw-w64-i686 wine wine32:i386)
    cmakeArgs=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake")
    ;;
  *) echo "Unknown configuration: $config" >&2; usage >&2; exit 2 ;;
esac
install_missing "${packages[@]}"

dir=$BUILD_ROOT/$config
mkdir -p "$dir"
cmake -S "$ROOT" -B "$dir" -G Ninja "${cmakeArgs[@]}" >"$dir.storm-configure.log"
ninja -C "$dir" -j 2 storm_tests

export QUORVEX_STORM_SECONDS=$((minutes * 60))
export QUORVEX_STORM_SEED=$seed
runner=()
program=$dir/bin/storm_tests
case $config in
  # gcc 12's sanitizers need address randomisation off on kernels with high
  # mmap randomisation (see scripts/test.sh).
  asan | tsan) runner=(setarch "$(uname -m)" -R) ;;
  win32)
    # shellcheck source=lib/wine.sh
    source "$ROOT/scripts/lib/wine.sh"
    use_wine_prefix "$BUILD_ROOT/wine-prefix"
    runner=(wine)
    program=$program.exe
    ;;
esac
"${runner[@]}" "$program" --gtest_filter='StormTest.*'
