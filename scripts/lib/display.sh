# shellcheck shell=bash
# A private X display for a test run: sourced, not run.
#
#   start_test_display LOG   starts Xvfb on a display number that the X server
#                            takes itself (-displayfd), so that servers started
#                            at the same time by other runs never pick the same
#                            one; exports QUORVEX_TEST_DISPLAY=:N once the
#                            display accepts connections. Xvfb's output: LOG.
#                            -noreset: by default an X server resets when its
#                            last client disconnects, and a client that
#                            connects meanwhile is refused; a test's GTK,
#                            connecting just after the test's own display
#                            check, then found no display.
#   stop_test_display        ends that Xvfb by its pid and waits for it.
#
# The display is handed to the tests that show windows through
# QUORVEX_TEST_DISPLAY rather than DISPLAY: the other tests keep running as on
# a machine without a display.

TEST_DISPLAY_PID=

start_test_display() {
  local log=$1 numberFile
  numberFile=$(mktemp)
  Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$numberFile" >"$log" 2>&1 &
  TEST_DISPLAY_PID=$!
  local tries
  # Xvfb writes the number, then a line end, when it is ready.
  for ((tries = 0; tries < 300; tries++)); do
    if [[ $(wc -l <"$numberFile") -ge 1 ]]; then
      QUORVEX_TEST_DISPLAY=:$(head -n 1 "$numberFile")
      export QUORVEX_TEST_DISPLAY
      rm -f "$numberFile"
      echo "Test display $QUORVEX_TEST_DISPLAY (Xvfb pid $TEST_DISPLAY_PID)"
      return 0
    fi
    kill -0 "$TEST_DISPLAY_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numberFile"
  echo "Xvfb did not start a display within 30 s; its output:" >&2
  cat "$log" >&2
  stop_test_display
  return 1
}

stop_test_display() {
  if [[ -n $TEST_DISPLAY_PID ]]; then
    kill "$TEST_DISPLAY_PID" 2>/dev/null || true
    wait "$TEST_DISPLAY_PID" 2>/dev/null || true
  fi
  TEST_DISPLAY_PID=
  unset QUORVEX_TEST_DISPLAY
}
