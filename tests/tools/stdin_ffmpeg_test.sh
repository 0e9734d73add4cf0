#!/usr/bin/env bash
# quorvex-server --stdin fed by ffmpeg through a pipe, as a user runs it: a
# host must receive ffmpeg's 90 frames byte for byte, in order, and then the
# server's Stop; with --wait-for-hosts, a host that comes after the frames
# started flowing still receives every one; a short last frame is reported
# and not published; quorvex-check finds every rule kept; a failing read
# ends with exit code 1; SIGTERM ends a server whose input is idle at once,
# with its summary.
#
#   stdin_ffmpeg_test.sh RUNNER SERVER HOST CHECK WORK_DIR
#
# RUNNER is "native", or the wine loader that runs the Windows programs (the
# pipe still comes from the Linux ffmpeg).
set -euo pipefail

readonly runner=$1 server=$2 host=$3 check=$4 work=$5
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
run "$host" "$share" "$kFrames" "$(program_path "$work/received.raw")" 60000 stop >"$work/host.out" 2>&1 &
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
said "$work/server.out" "^quorvex-server: end of the frames; sent Stop to 1 host$" || fail "no Stop at the end of input"
said "$work/host.out" "^stopped$" || fail "the host did not see the stream end"
echo "the host received ffmpeg's $kFrames frames byte for byte, then the server's Stop"
# Numbered 1 to 90 with no number left out, each captured (published) less
# than a second before the host had it.
tr -d '\r' <"$work/received.raw.numbers" |
  awk -v frames="$kFrames" '$1 != NR || $2 != 0 || $3 < 0 || $3 >= 1000 { bad = 1 } END { exit bad || NR != frames }' ||
  fail "the frames' numbers are not 1 to $kFrames without gaps, captured within a second: $(head -c 400 "$work/received.raw.numbers")"
echo "the host saw the numbers 1 to $kFrames without a gap, each frame less than a second old"

# The server holds the first frame until a host can take it: the host
# starts after the server and ffmpeg, and misses nothing.
ffmpeg_frames | run "$server" --stdin "${kWidth}x${kHeight}" --format rgb24 --fps 10 --share "$share-wait" \
  --wait-for-hosts 1 --wait-timeout 60 >"$work/wait-server.out" 2>&1 &
pipeline=$!
wait_for_text "$work/wait-server.out" "^quorvex-server: waiting for 1 host before the first frame" 60 ||
  fail "the server does not wait for its host"
run "$host" "$share-wait" "$kFrames" "$(program_path "$work/received-wait.raw")" 60000 stop \
  >"$work/wait-host.out" 2>&1 || fail "the host that came late ended with $?"
serverStatus=0
wait "$pipeline" || serverStatus=$?
((serverStatus == 0)) || fail "the waiting server ended with $serverStatus"
cmp "$work/expected.raw" "$work/received-wait.raw" || fail "the late host's frames are not ffmpeg's bytes"
echo "a host that comes after the server and ffmpeg receives every frame"

# A server fed from standard input keeps the rules a host relies on.
ffmpeg_frames | run "$server" --stdin "${kWidth}x${kHeight}" --format rgb24 --fps 10 --share "$share-check" \
  --wait-for-hosts 1 --wait-timeout 60 >"$work/check-server.out" 2>&1 &
pipeline=$!
checkStatus=0
run "$check" "$share-check" --frames 12 --json >"$work/check.out" 2>&1 || checkStatus=$?
serverStatus=0
wait "$pipeline" || serverStatus=$?
((checkStatus == 0)) || fail "quorvex-check ended with $checkStatus"
((serverStatus == 0)) || fail "the checked server ended with $serverStatus"
said "$work/check.out" '^{"share": ".*", "pass": true, ' || fail "quorvex-check did not pass the server"
echo "quorvex-check passes the server fed from standard input"

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

# SIGTERM while standard input stays open and idle: the server ends within a
# second, with its summary. Native only: wine ends a Windows program on
# SIGTERM without its console handler, and the Windows build's interrupt is
# tried through its own event by the process tests.
if [[ $runner == native ]]; then
  # A FIFO this script holds open for writing: input that never ends.
  mkfifo "$work/idle.fifo"
  exec 3<>"$work/idle.fifo"
  "$server" --stdin 4x4 --format gray8 --share "$share-idle" <"$work/idle.fifo" >"$work/idle.out" 2>&1 &
  serverPid=$!
  wait_for_text "$work/idle.out" "^quorvex-server: serving" 30 || fail "the idle server did not start"
  sleep 0.3
  started=$(date +%s%N)
  kill -TERM "$serverPid"
  status=0
  wait "$serverPid" || status=$?
  elapsedMs=$((($(date +%s%N) - started) / 1000000))
  exec 3>&-
  ((status == 0)) || fail "SIGTERM ended the idle server with $status"
  ((elapsedMs < 1000)) || fail "the idle server took $elapsedMs ms to end after SIGTERM"
  said "$work/idle.out" "^quorvex-server: stopped after 0 frames (interrupted)$" || fail "no summary after SIGTERM"
  echo "SIGTERM ends a server with idle input in $elapsedMs ms, with its summary"
fi
