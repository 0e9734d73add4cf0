#!/bin/sh
# Runs a GoogleTest program and passes it only when it ended as a program
# that ran its tests ends: with exit code 0 after GoogleTest's closing line.
# Under wine, a program that crashes ends with code 0 now and then, and one
# that wine could not start prints nothing; either way, this says so.
out=$(mktemp) || exit 1
trap 'rm -f "$out" "$out.status"' EXIT
{
  "$@"
  echo $? >"$out.status"
} 2>&1 | tee "$out"
status=$(cat "$out.status")
if [ "$status" -ne 0 ]; then
  echo "test program exited with code $status: $*" >&2
  exit "$status"
fi
if ! grep -Eq '^\[==========\] [0-9]+ tests? from [0-9]+ test suites? ran\.' "$out"; then
  echo "test program exited with code 0 without GoogleTest's closing line (did it crash?): $*" >&2
  exit 1
fi
