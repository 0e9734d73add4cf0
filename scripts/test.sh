#!/usr/bin/env bash
# Builds Quorvex and runs every test, in four configurations:
#   native  libquorvex.so and the tests, built with g++
#   win32   Quorvex.dll and the tests, cross-built with mingw-w64, run under wine
#   asan    native, under AddressSanitizer
#   tsan    native, under ThreadSanitizer
#   win64   the 64-bit camera-server DLL, feeding win32's driver under wine
#
# Usage: scripts/test.sh [native] [win32] [asan] [tsan] [win64]   (no argument: all)
#
# Installs the Debian packages it needs and lacks (as root), builds each
# configuration in build/<name>, and exits non-zero if anything failed.
# QUORVEX_BUILD_ROOT moves the build folders elsewhere (default: build).
set -euo pipefail

readonly kAllConfigs=(native win32 asan tsan win64)
# The settings dialog's tests show real windows: GTK 3 natively, on a private
# Xvfb display (xdpyinfo tells whether a display answers); ImageMagick takes
# their screenshots.
readonly kNativePackages=(cmake ninja-build g++ libgtest-dev googletest libstb-dev libgtk-3-0 xvfb xauth x11-utils imagemagick ffmpeg)
# The Python package's tests (numpy, pytest) and the installed-SDK check (pkg-config).
readonly kPythonPackages=(python3 python3-numpy python3-pytest pkgconf)
# The GStreamer elements (natively): development files, gst-launch-1.0, and
# the elements their tests' pipelines use (x264enc is in -ugly, avdec_h264 in
# gstreamer1.0-libav).
readonly kGstPackages=(pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav)
readonly kWin32Packages=(g++-mingw-w64-i686 wine wine32)
# The 64-bit server side, and the 32-bit host it feeds (from win32's folder).
readonly kWin64Packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine32 wine64)
# quorvex-server's GenICam cameras (Aravis; its pkg-config file needs libusb's)
# and their simulated camera for the tests.
readonly kGenicamPackages=(libaravis-dev libusb-1.0-0-dev aravis-tools)
# quorvex-view's window (GTK 3) and the keys its tests press in it.
readonly kViewerPackages=(libgtk-3-dev xdotool)

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
mkdir -p "$BUILD_ROOT"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
readonly ROOT BUILD_ROOT
readonly JOBS=2

log() { printf '\n=== %s\n' "$*"; }

usage() {
  sed -n '2,12s/^# \{0,1\}//p' "$0"
}

duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# --- Packages --------------------------------------------------------------

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
export QUORVEX_APT_LOG=$BUILD_ROOT/apt.log

# --- Sanitizers ------------------------------------------------------------

# gcc 12's sanitizer runtimes expect at most 28 bits of mmap randomisation;
# above that, TSan stops with "unexpected memory mapping" and ASan can spin
# for ever at start-up. Running without address randomisation (setarch -R,
# inherited by every child process) sidesteps this on any kernel; lowering the
# sysctl is the fallback where personality changes are refused.
SANITIZER_WRAPPER=()

sanitizer_probe_runs() {
  local binary=$1
  for _ in 1 2 3; do
    timeout 30 "${SANITIZER_WRAPPER[@]}" "$binary" >/dev/null 2>&1 || return 1
  done
}

choose_sanitizer_wrapper() {
  local sanitizer=$1 dir=$2
  local probe=$dir/sanitizer-probe
  mkdir -p "$dir"
  printf '#include <thread>\nint main() { int v = 0; std::thread t([&] { v = 1; }); t.join(); return v - 1; }\n' \
    >"$probe.cpp"
  g++ -fsanitize="$sanitizer" -pthread "$probe.cpp" -o "$probe" || return 1

  SANITIZER_WRAPPER=(setarch "$(uname -m)" -R)
  if "${SANITIZER_WRAPPER[@]}" true 2>/dev/null && sanitizer_probe_runs "$probe"; then
    echo "Running $sanitizer without address randomisation (setarch -R)."
    return 0
  fi
  SANITIZER_WRAPPER=()
  if sanitizer_probe_runs "$probe"; then
    echo "Running $sanitizer as it is."
    return 0
  fi
  local sysctl=/proc/sys/vm/mmap_rnd_bits
  if [[ -w $sysctl ]] && (($(cat "$sysctl") > 28)); then
    local previous
    previous=$(cat "$sysctl")
    if echo 28 >"$sysctl" 2>/dev/null; then
      # shellcheck disable=SC2064  # the values are fixed now, on purpose
      trap "echo $previous > $sysctl" EXIT
      if sanitizer_probe_runs "$probe"; then
        echo "Lowered vm.mmap_rnd_bits from $previous to 28 for $sanitizer (restored on exit)."
        return 0
      fi
    fi
  fi
  echo "The $sanitizer runtime does not start on this machine (kernel $(uname -r))." >&2
  return 1
}

# --- Wine ------------------------------------------------------------------

# shellcheck source=lib/wine.sh
source "$ROOT/scripts/lib/wine.sh"

# Runs inside xvfb-run: wine's windows (the settings dialog) get a display of
# their own, and one persistent wineserver serves the whole ctest run.
run_wine_tests() {
  local dir=$1 arch=$2
  export HOME=$BUILD_ROOT/wine-home
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
  mkdir -p "$HOME"
  # Wine stays inside the build folder: its own prefix and home.
  if [[ $arch == win64 ]]; then
    use_wine_prefix "$BUILD_ROOT/wine64-prefix" win64
  else
    use_wine_prefix "$BUILD_ROOT/wine-prefix"
  fi
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  wineserver -p
  # Starts wine's background services now: started by the first test, they
  # would hold ctest's output pipe open and ctest would wait for them.
  wineboot </dev/null >/dev/null 2>&1
  ctest --test-dir "$dir" --output-on-failure --no-tests=error
}

# --- Python package --------------------------------------------------------

# Runs the Python package's tests on the build's copy of the package, which
# finds the build's libraries, and adds their counts to the configuration's.
run_python_tests() {
  local config=$1 dir=$2 status=0
  log "$config: Python tests"
  PYTHONPATH=$dir/python PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    "$ROOT/python/tests" 2>&1 | tee "$dir.pytest.log" || status=$?
  local summary passed=0 failed=0
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

declare -A RESULT TESTS_PASSED TESTS_FAILED BUILD_TIME TEST_TIME

configure_args() {
  case $1 in
    native) ;;
    win32) echo "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-i686.cmake" ;;
    asan) echo "-DQUORVEX_SANITIZE=address" ;;
    tsan) echo "-DQUORVEX_SANITIZE=thread" ;;
    win64) echo "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-x86_64.cmake -DQUORVEX_SERVER_ONLY=ON" \
      "-DQUORVEX_WIN32_BUILD_DIR=$BUILD_ROOT/win32" ;;
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
}

run_config() {
  local config=$1
  local dir=$BUILD_ROOT/$config
  local wrapper=()
  local start=$SECONDS
  RESULT[$config]="FAIL (set-up)"
  log "$config: build in $dir"

  if [[ $config == asan || $config == tsan ]]; then
    local sanitizer=address
    [[ $config == tsan ]] && sanitizer=thread
    choose_sanitizer_wrapper "$sanitizer" "$dir" || return 1
    wrapper=("${SANITIZER_WRAPPER[@]}")
  fi

  RESULT[$config]="FAIL (configure)"
  # shellcheck disable=SC2046  # configure_args prints whole words
  if ! cmake -S "$ROOT" -B "$dir" -G Ninja $(configure_args "$config") >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log" >&2
    return 1
  fi
  # The native test programs are listed by running them during the build, so
  # a sanitizer's wrapper applies to the build as well.
  RESULT[$config]="FAIL (build)"
  local buildStatus=0
  "${wrapper[@]}" ninja -C "$dir" -j "$JOBS" --quiet || buildStatus=$?
  BUILD_TIME[$config]=$((SECONDS - start))
  ((buildStatus == 0)) || return 1
  if [[ $config == win64 ]]; then
    # The cross-bitness test runs win32's host and driver.
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
  if [[ $config == win32 || $config == win64 ]]; then
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$ROOT/scripts/test.sh" --wine-tests "$dir" "$config" \
      2>&1 | tee "$dir.ctest.log" || status=$?
  else
    "${wrapper[@]}" ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$JOBS" 2>&1 |
      tee "$dir.ctest.log" || status=$?
  fi
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
    passed=$((passed + ${TESTS_PASSED[$config]:-0}))
    failed=$((failed + ${TESTS_FAILED[$config]:-0}))
  done
  echo "total: $passed passed, $failed failed"
}

main() {
  if [[ ${1:-} == --wine-tests ]]; then
    run_wine_tests "$2" "${3:-win32}"
    return
  fi
  local configs=() arg
  for arg in "$@"; do
    case $arg in
      native | win32 | asan | tsan | win64) configs+=("$arg") ;;
      all) configs+=("${kAllConfigs[@]}") ;;
      -h | --help) usage; return 0 ;;
      *) echo "Unknown configuration: $arg" >&2; usage >&2; return 2 ;;
    esac
  done
  ((${#configs[@]} > 0)) || configs=("${kAllConfigs[@]}")

  local packages=("${kNativePackages[@]}" "${kPythonPackages[@]}" "${kGstPackages[@]}" "${kGenicamPackages[@]}"
    "${kViewerPackages[@]}")
  [[ " ${configs[*]} " == *" win32 "* ]] && packages+=("${kWin32Packages[@]}")
  [[ " ${configs[*]} " == *" win64 "* ]] && packages+=("${kWin64Packages[@]}")
  install_missing "${packages[@]}"

  local config failures=0 start=$SECONDS
  for config in "${configs[@]}"; do
    local configStart=$SECONDS
    run_config "$config" || failures=$((failures + 1))
    echo "$config: ${RESULT[$config]} after $(duration $((SECONDS - configStart)))"
  done
  print_summary "${configs[@]}"
  echo "Whole run: $(duration $((SECONDS - start)))"
  if ((failures > 0)); then
    echo "FAILED: $failures of ${#configs[@]} configurations" >&2
    return 1
  fi
  echo "All ${#configs[@]} configurations passed."
}

main "$@"
