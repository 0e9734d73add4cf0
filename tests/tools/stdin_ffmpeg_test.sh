#!/usr/bin/env bash
# quorvex-server --stdin fed by ffmpeg through a pipe, as a user runs it: a
# host must receive ffmpeg's 90 frames byte for byte, in order; a short last
# frame is reported and not published; a failing read ends with exit code 1.
#
#   stdin_ffmpeg_test.sh RUNNER SERVER HOST WORK_DIR
#
# RUNNER is "native", or the wine loader that runs the Windows programs (the
# pipe still comes from the Linux ffmpeg).
set -euo pipefail

readonly runner=$1 server=$2 host=$3 work=$4
readonly kWidth=320 kHeight=240 kFrames=90
readonly kFrameBytes=$((kWidth * kHeight * 3))
share="QuorvexStdinTest-$$-$(date +%s%N)"
readonly share

fail() {
  echo "FAIL: $*" >&2
  for file in "$work"/*.out; do
    [[ -f $file ]] && { echo "--- $file"; cat "$file"; } >&2
  done
  exit 1
}

run() {
  if [[ $runner != native ]]; then
    "$runner" "$@"
  else
    "$@"
  fi
}

# A path as the program under test spells it.
program_path() {
  if [[ $runner != native ]]; then
    "$runner" winepath -w "$1"
  else
    echo "$1"
  fi
}

# Whether the output file $1 has a line matching $2; Windows programs end
# their lines with CR LF.
said() {
  tr -d '\r' 2>/dev/null <"$1" | grep -q "$2"
}

# Waits up to $3 seconds for the output file $1 to have a line matching $2.
wait_for_text() {
  local deadline=$((SECONDS + $3))
  until said "$1" "$2"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

rm -rf "$work"
mkdir -p "$work"

ffmpeg_frames() {
  ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=${kWidth}x${kHeight}:rate=30" -frames:v "$kFrames" \
    -f rawvideo -pix_fmt rgb24 -
}

# ffmpeg's own output, to compare with what the host receives.
ffmpeg_frames >"$work/expected.raw"
(($(stat -c %s "$work/expected.raw") == kFrames * kFrameBytes)) || fail "ffmpeg wrote an unexpected size"

# The frames flow once the host has the server's frame size, so that the
# host sees every one; --fps leaves the host time to copy each, also on a
# busy machine.
(
  wait_for_text "$work/host.out" "^ready ${kWidth}x${kHeight}" 60 || exit 1
  ffmpeg_frames
) | run "$server" --stdin "${kWidth}x${kHeight}" --format rgb24 --fps 10 --share "$share" >"$work/server.out" 2>&1 &
pipeline=$!
run "$host" "$share" "$kFrames" "$(program_path "$work/received.raw")" 60000 >"$work/host.out" 2>&1 &
hostPid=$!

hostStatus=0
wait "$hostPid" || hostStatus=$?
serverStatus=0
wait "$pipeline" || serverStatus=$?
((hostStatus == 0)) || fail "the host ended with $hostStatus"
((serverStatus == 0)) || fail "the server ended with $serverStatus"
cmp "$work/expected.raw" "$work/received.raw" || fail "the host's frames are not ffmpeg's bytes"
said "$work/server.out" "^quorvex-server: end of input after $kFrames frames" ||
  fail "no summary of the end of input"
echo "the host received ffmpeg's $kFrames frames byte for byte"

# Two whole frames and 1234 bytes of a third: two published, the third
# reported. No host is needed for that.
status=0
head -c $((2 * kFrameBytes + 1234)) "$work/expected.raw" |
  run "$server" --stdin "${kWidth}x${kHeight}" --format rgb24 --share "$share-short" >"$work/short.out" 2>&1 ||
  status=$?
((status == 0)) || fail "a short last frame ended the server with $status"
said "$work/short.out" "^quorvex-server: input ended 1234 bytes into frame 3$" ||
  fail "the short frame was not reported"
said "$work/short.out" "^quorvex-server: stopped after 2 frames" || fail "the short frame was published"
echo "a short last frame is reported and not published"

# Standard input that cannot be read: a directory.
status=0
run "$server" --stdin 4x4 --format gray8 --share "$share-error" <"$work" >"$work/error.out" 2>&1 || status=$?
((status == 1)) || fail "a failing read ended the server with $status, not 1"
said "$work/error.out" "^quorvex-server: cannot read standard input after 0 frames: " ||
  fail "no message for the failing read"
echo "a failing read ends the server with exit code 1"
