#!/bin/sh
# Starts a test program with an X display to show its windows on: the one in
# DISPLAY when it answers, otherwise a private Xvfb through xvfb-run. With
# neither, the program runs as it is and its dialog tests skip themselves,
# saying why. Listing the tests needs no display.
#
# Usage: with_display.sh PROGRAM [ARGUMENT...]
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac

# Wine's windows are left to no window manager: wine draws their frames and
# captions itself, and does not wait at each close for a manager that a bare
# test display lacks (about two seconds a window). Set for this program only.
if [ "$(basename "$1")" = wine ] && [ $# -ge 2 ]; then
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$2")\\X11 Driver" \
    /v Managed /d N /f >/dev/null 2>&1 || echo "with_display.sh: cannot set wine's X11 options" >&2
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
if command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"
fi
echo "with_display.sh: no X display and no xvfb-run; the dialog tests skip" >&2
exec "$@"
