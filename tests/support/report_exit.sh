#!/bin/sh
# Runs a test program and, when it fails, says with which exit code: a
# program that wine could not start prints nothing else.
"$@"
status=$?
[ "$status" -eq 0 ] || echo "test program exited with code $status: $*" >&2
exit "$status"
