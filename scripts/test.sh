#!/usr/bin/env bash
# Checks the sources' format (scripts/format.sh --check), then builds Quorvex
# and runs every test, in five configurations:
#   native  libquorvex.so and the tests, built with g++
#   win32   Quorvex.dll and the tests, cross-built with mingw-w64, run under wine
#           (on a machine that cannot run 32-bit programs: the tests that need
#           no wine, with a notice)
#   win64   the same for 64-bit Windows, run under wine64
#   asan    native, under AddressSanitizer
#   tsan    native, under ThreadSanitizer
#
# Usage: scripts/test.sh [--required-only] [native] [win32] [win64] [asan] [tsan]
#        (no configuration: all)
#
# Installs the Debian packages it needs and lacks (as root), builds each
# configuration in build/<name>, and exits non-zero if anything failed.
# --required-only installs only what the build cannot do without (cmake,
# ninja-build, g++, GoogleTest, stb); what is missing of the rest is left
# out, and the run says what and which package brings it ("Left out: ...").
# QUORVEX_BUILD_ROOT moves the build folders elsewhere (default: build).
set -euo pipefail

readonly kAllConfigs=(native win32 win64 asan tsan)
# What every configuration needs: the build tools, GoogleTest (prebuilt
# natively, its sources for mingw) and stb (the tools' PNG files).
readonly kRequiredPackages=(cmake ninja-build g++ libgtest-dev googletest libstb-dev)
# The settings dialog's tests show real windows: GTK 3 natively, on one
# private Xvfb display per configuration's run (xdpyinfo tells whether a
# display answers); ImageMagick takes their screenshots. ffmpeg feeds
# quorvex-server in a test; clang-format checks the sources' format.
readonly kNativePackages=(libgtk-3-0 xvfb x11-utils imagemagick ffmpeg clang-format)
# The Python package's tests (numpy, pytest) and the installed-SDK check (pkg-config).
readonly kPythonPackages=(python3 python3-numpy python3-pytest pkgconf)
# The GStreamer elements (natively): development files, gst-launch-1.0, and
# the elements their tests' pipelines use (x264enc is in -ugly, avdec_h264 in
# gstreamer1.0-libav).
readonly kGstPackages=(pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav)
# quorvex-server's GenICam cameras (Aravis; its pkg-config file needs libusb's)
# and their simulated camera for the tests.
readonly kGenicamPackages=(libaravis-dev libusb-1.0-0-dev aravis-tools)
# quorvex-view's window (GTK 3) and the keys its tests press in it.
readonly kViewerPackages=(libgtk-3-dev xdotool)
readonly kWin32Packages=(g++-mingw-w64-i686 wine wine32:i386)
readonly kWin64Packages=(g++-mingw-w64-x86-64 wine wine64)

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
mkdir -p "$BUILD_ROOT"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
readonly ROOT BUILD_ROOT
readonly JOBS=2

log() { printf '\n=== %s\n' "$*"; }

usage() {
  sed -n '2,20s/^# \{0,1\}//p' "$0"
}

duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# --- Packages --------------------------------------------------------------

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
export QUORVEX_APT_LOG=$BUILD_ROOT/apt.log

# --- Running a configuration's tests ---------------------------------------

# shellcheck source=lib/config_tests.sh
source "$ROOT/scripts/lib/config_tests.sh"

# --- Python package --------------------------------------------------------

# Runs the Python package's tests on the build's copy of the package, which
# finds the build's libraries, and adds their counts to the configuration's.
run_python_tests() {
  local config=$1 dir=$2 status=0
  log "$config: Python tests"
  if ! /usr/bin/python3 -c "import numpy, pytest" 2>/dev/null; then
    echo "Left out: the Python package's tests (Debian: apt-get install python3-numpy python3-pytest)"
    return 0
  fi
  PYTHONPATH=$dir/python PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    "$ROOT/python/tests" 2>&1 | tee "$dir.pytest.log" || status=$?
  local summary passed=0 failed=0
  record_failures "$config" "$dir.pytest.log"
  summary=$(tail -n 1 "$dir.pytest.log")
  [[ $summary =~ ([0-9]+)\ passed ]] && passed=${BASH_REMATCH[1]}
  [[ $summary =~ ([0-9]+)\ failed ]] && failed=${BASH_REMATCH[1]}
  [[ $summary =~ ([0-9]+)\ errors? ]] && failed=$((failed + BASH_REMATCH[1]))
  TESTS_PASSED[$config]=$((${TESTS_PASSED[$config]:-0} + passed))
  TESTS_FAILED[$config]=$((${TESTS_FAILED[$config]:-0} + failed))
  if ((status == 5)); then
    echo "pytest collected no tests in $ROOT/python/tests" >&2
    TESTS_FAILED[$config]=$((${TESTS_FAILED[$config]:-0} + 1))
  fi
  return "$status"
}

# --- Configurations --------------------------------------------------------

declare -A RESULT TESTS_PASSED TESTS_FAILED BUILD_TIME TEST_TIME FAILURES

configure_args() {
  case $1 in
    native) ;;
    win32) echo "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-i686.cmake" ;;
    win64)
      echo "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-x86_64.cmake"
      # The cross-bitness test: win32's host and driver fed by a 64-bit server.
      can_run_win32 && echo "-DQUORVEX_WIN32_BUILD_DIR=$BUILD_ROOT/win32"
      ;;
    asan) echo "-DQUORVEX_SANITIZE=address" ;;
    tsan) echo "-DQUORVEX_SANITIZE=thread" ;;
  esac
}

record_ctest_counts() {
  local config=$1 ctestLog=$2
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$ctestLog" | tail -n 1) || true
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    TESTS_FAILED[$config]=${BASH_REMATCH[1]}
    TESTS_PASSED[$config]=$((BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  record_failures "$config" "$ctestLog"
}

# Keeps what failed for the summary, which is what the end of a long log
# shows: ctest's failed tests, the GoogleTest cases inside them (a wine
# configuration runs whole test programs), the seed of a failed storm, a
# program's exit code, and the first two failures' messages.
record_failures() {
  local config=$1 log=$2 found
  found=$(
    {
      sed -n '/^The following tests FAILED:/,/^Errors while running/s/^[[:space:]]*[0-9]* - \([^ ]*\).*/ctest: \1/p' "$log"
      grep -E '^\[  FAILED  \] [^ ]+\.[^ ]+' "$log" | sed -E 's/^\[  FAILED  \] /case: /; s/ \([0-9]+ ms\)$//' || true
      grep -E '^storm (FAILED|HUNG) with seed|^FAILED .*::|^test program exited with code' "$log" || true
      grep -m 2 -A 3 -E '^[^ ]+:[0-9]+: Failure$' "$log" | grep -v '^--$' || true
    } | awk '!seen[$0]++ && ++shown <= 20'
  )
  [[ -n $found ]] || return 0
  FAILURES[$config]+=${FAILURES[$config]:+$'\n'}$found
}

run_config() {
  local config=$1
  local dir=$BUILD_ROOT/$config
  local start=$SECONDS
  RESULT[$config]="FAIL (set-up)"
  log "$config: build in $dir"
  mkdir -p "$dir"
  config_wrapper "$config" "$dir" || return 1

  RESULT[$config]="FAIL (configure)"
  # shellcheck disable=SC2046  # configure_args prints whole words
  if ! cmake -S "$ROOT" -B "$dir" -G Ninja $(configure_args "$config") >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log" >&2
    return 1
  fi
  grep '^-- Left out: ' "$dir.configure.log" | sed 's/^-- //' || true
  # The native test programs are listed by running them during the build, so
  # a sanitizer's wrapper applies to the build as well.
  RESULT[$config]="FAIL (build)"
  local buildStatus=0
  "${SANITIZER_WRAPPER[@]}" ninja -C "$dir" -j "$JOBS" --quiet || buildStatus=$?
  BUILD_TIME[$config]=$((SECONDS - start))
  ((buildStatus == 0)) || return 1
  if [[ $config == win64 ]] && can_run_win32; then
    local win32Dir=$BUILD_ROOT/win32
    if [[ ! -f $win32Dir/CMakeCache.txt ]]; then
      # shellcheck disable=SC2046  # configure_args prints whole words
      cmake -S "$ROOT" -B "$win32Dir" -G Ninja $(configure_args win32) >"$win32Dir.configure.log" 2>&1 || return 1
    fi
    ninja -C "$win32Dir" -j "$JOBS" --quiet cross_host_tests || return 1
    BUILD_TIME[$config]=$((SECONDS - start))
  fi

  RESULT[$config]="FAIL (tests)"
  local testStart=$SECONDS status=0
  log "$config: tests"
  run_config_tests "$config" "$dir" 2>&1 | tee "$dir.ctest.log" || status=$?
  record_ctest_counts "$config" "$dir.ctest.log"
  if [[ $config == native ]]; then
    run_python_tests "$config" "$dir" || status=1
  fi
  TEST_TIME[$config]=$((SECONDS - testStart))
  ((status == 0)) || return 1
  RESULT[$config]=PASS
}

print_summary() {
  local config passed=0 failed=0
  log "Summary"
  for config in "$@"; do
    printf '%-7s %-18s build %-8s tests %-8s %s passed, %s failed\n' "$config" "${RESULT[$config]}" \
      "$(duration "${BUILD_TIME[$config]:-0}")" "$(duration "${TEST_TIME[$config]:-0}")" \
      "${TESTS_PASSED[$config]:--}" "${TESTS_FAILED[$config]:--}"
    [[ -z ${FAILURES[$config]:-} ]] || sed 's/^/    /' <<<"${FAILURES[$config]}"
    passed=$((passed + ${TESTS_PASSED[$config]:-0}))
    failed=$((failed + ${TESTS_FAILED[$config]:-0}))
  done
  echo "total: $passed passed, $failed failed"
}

main() {
  local configs=() arg requiredOnly=false
  for arg in "$@"; do
    case $arg in
      --required-only) requiredOnly=true ;;
      native | win32 | win64 | asan | tsan) configs+=("$arg") ;;
      all) configs+=("${kAllConfigs[@]}") ;;
      -h | --help) usage; return 0 ;;
      *) echo "Unknown configuration: $arg" >&2; usage >&2; return 2 ;;
    esac
  done
  ((${#configs[@]} > 0)) || configs=("${kAllConfigs[@]}")

  local packages=("${kRequiredPackages[@]}")
  if ! $requiredOnly; then
    packages+=("${kNativePackages[@]}" "${kPythonPackages[@]}" "${kGstPackages[@]}" "${kGenicamPackages[@]}"
      "${kViewerPackages[@]}")
    [[ " ${configs[*]} " == *" win32 "* ]] && packages+=("${kWin32Packages[@]}")
    [[ " ${configs[*]} " == *" win64 "* ]] && packages+=("${kWin64Packages[@]}")
  fi
  install_missing "${packages[@]}"

  local config failures=0 start=$SECONDS formatResult=PASS
  # The sources as .clang-format writes them: checked first, it takes seconds.
  log "format"
  if command -v clang-format >/dev/null; then
    "$ROOT/scripts/format.sh" --check || { formatResult=FAIL; failures=$((failures + 1)); }
  else
    formatResult="left out"
    echo "Left out: the format check (Debian: apt-get install clang-format)"
  fi
  for config in "${configs[@]}"; do
    local configStart=$SECONDS
    run_config "$config" || failures=$((failures + 1))
    echo "$config: ${RESULT[$config]} after $(duration $((SECONDS - configStart)))"
  done
  print_summary "${configs[@]}"
  echo "format: $formatResult (scripts/format.sh --check)"
  echo "Whole run: $(duration $((SECONDS - start)))"
  if ((failures > 0)); then
    echo "FAILED: $failures of $((${#configs[@]} + 1)) steps (the configurations and the format check)" >&2
    return 1
  fi
  echo "All ${#configs[@]} configurations passed."
}

main "$@"
