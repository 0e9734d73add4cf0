#!/bin/sh
# Starts a test program on the run's X display, the one scripts/test.sh
# started for every test that shows windows (QUORVEX_TEST_DISPLAY), else the
# one in DISPLAY. Without a display that answers, it says so and fails: the
# windows' tests cannot run. Listing the tests needs no display.
#
# Usage: with_display.sh PROGRAM [ARGUMENT...]
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac

if [ -n "${QUORVEX_TEST_DISPLAY:-}" ]; then
  DISPLAY=$QUORVEX_TEST_DISPLAY
  export DISPLAY
fi
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "with_display.sh: no X display answers (DISPLAY=${DISPLAY:-unset}); run the tests through scripts/test.sh or scripts/repeat-tests.sh, or set DISPLAY" >&2
  exit 1
fi

# Wine's windows are left to no window manager: wine draws their frames and
# captions itself, and does not wait at each close for a manager that a bare
# test display lacks (about two seconds a window). Set for this program only.
case "$(basename "$1")" in
wine | wine64) wineLoader=$1 ;;
*) wineLoader= ;;
esac
if [ -n "$wineLoader" ] && [ $# -ge 2 ]; then
  "$wineLoader" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$2")\\X11 Driver" \
    /v Managed /d N /f >/dev/null 2>&1 || echo "with_display.sh: cannot set wine's X11 options" >&2
fi
exec "$@"
