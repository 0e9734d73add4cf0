# shellcheck shell=bash
# Running one built configuration's tests as CI runs them: sourced, not run.
# Needs ROOT (the source tree), BUILD_ROOT (where wine's prefix and home live)
# and JOBS.
#
#   config_wrapper CONFIG DIR            sets SANITIZER_WRAPPER to what the
#                                        configuration's programs must be
#                                        started with (empty but for asan, tsan)
#   run_config_tests CONFIG DIR [ARG...] runs ctest in DIR with a private X
#                                        display, wine for win32 and win64, and
#                                        the sanitizer's wrapper; ARGs go to
#                                        ctest (no display where Xvfb is
#                                        missing). On a machine that cannot run
#                                        32-bit programs, win32 runs only the
#                                        tests that need no wine, and says so.

# shellcheck source=sanitizer.sh
source "$ROOT/scripts/lib/sanitizer.sh"
# shellcheck source=display.sh
source "$ROOT/scripts/lib/display.sh"
# shellcheck source=wine.sh
source "$ROOT/scripts/lib/wine.sh"

config_wrapper() {
  local config=$1 dir=$2
  SANITIZER_WRAPPER=()
  case $config in
    asan) choose_sanitizer_wrapper address "$dir" ;;
    tsan) choose_sanitizer_wrapper thread "$dir" ;;
  esac
}

# Wine's windows (the settings dialog) go to DISPLAY, and one persistent
# wineserver serves the whole ctest run.
run_wine_tests() {
  local config=$1 dir=$2
  shift 2
  export DISPLAY=$QUORVEX_TEST_DISPLAY
  export HOME=$BUILD_ROOT/wine-home
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
  mkdir -p "$HOME"
  # Wine stays inside the build folder: a prefix of each bitness and a home.
  use_wine_prefix "$BUILD_ROOT/$config-wine-prefix" "$config" || return 1
  wineserver -p
  # Starts wine's background services now: started by the first test, they
  # would hold ctest's output pipe open and ctest would wait for them.
  "$WINE" wineboot </dev/null >/dev/null 2>&1
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$JOBS" "$@"
}

# In a subshell of its own, so that the display and wine's server end with it
# on every path.
run_config_tests() (
  local config=$1 dir=$2
  shift 2
  trap 'stop_test_display; [[ -z ${WINEPREFIX:-} ]] || wineserver -k >/dev/null 2>&1 || true' EXIT
  # Without Xvfb the build has left the window tests out (it says so).
  if command -v Xvfb >/dev/null; then
    start_test_display "$dir.xvfb.log" || exit 1
  fi
  if [[ $config == win32 ]] && ! can_run_win32; then
    echo "NOTE: this machine cannot run 32-bit programs (its kernel refuses i386 code), so wine cannot run"
    echo "      the win32 test programs here: only the win32 tests that need no wine run. The win64"
    echo "      configuration runs the same test programs, built for 64-bit Windows, under wine64."
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$JOBS" -LE wine "$@"
  elif [[ $config == win32 || $config == win64 ]]; then
    run_wine_tests "$config" "$dir" "$@"
  else
    "${SANITIZER_WRAPPER[@]}" ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$JOBS" "$@"
  fi
)
