#!/usr/bin/env bash
# Runs the tests of one built configuration N times, as scripts/test.sh runs
# them (ctest -j2 on a private X display; wine for win32 and win64; the sanitizer's
# wrapper for asan and tsan), and prints per test how often it failed.
#
# Usage: scripts/repeat-tests.sh CONFIG N [CTEST_REGEX]
#   CONFIG       native, win32, win64, asan or tsan, built by scripts/test.sh in
#                build/CONFIG (QUORVEX_BUILD_ROOT moves build/ as there)
#   N            how many runs
#   CTEST_REGEX  only the tests whose names match (ctest -R)
#
# Each run's output: build/CONFIG.repeat/run-K.log. Exits non-zero when any
# test failed in any run.
set -euo pipefail

usage() { sed -n '2,13s/^# \{0,1\}//p' "$0"; }

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=$(cd "${QUORVEX_BUILD_ROOT:-$ROOT/build}" && pwd)
readonly ROOT BUILD_ROOT
readonly JOBS=2

# shellcheck source=lib/config_tests.sh
source "$ROOT/scripts/lib/config_tests.sh"

main() {
  if (($# < 2)) || [[ ! $2 =~ ^[1-9][0-9]*$ ]]; then
    usage >&2
    return 2
  fi
  local config=$1 runs=$2 filter=${3:-}
  local dir=$BUILD_ROOT/$config
  case $config in
    native | win32 | win64 | asan | tsan) ;;
    *) echo "Unknown configuration: $config" >&2; usage >&2; return 2 ;;
  esac
  if [[ ! -f $dir/CTestTestfile.cmake ]]; then
    echo "$dir is not built: run scripts/test.sh $config first" >&2
    return 2
  fi
  config_wrapper "$config" "$dir"
  local ctestArgs=()
  [[ -n $filter ]] && ctestArgs=(-R "$filter")

  local logs=$dir.repeat run failedRuns=0
  mkdir -p "$logs"
  declare -A failures=()
  for ((run = 1; run <= runs; run++)); do
    local runLog=$logs/run-$run.log status=0
    rm -f "$dir/Testing/Temporary/LastTestsFailed.log"
    run_config_tests "$config" "$dir" "${ctestArgs[@]}" >"$runLog" 2>&1 || status=$?
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed' "$runLog" | tail -n 1) || summary="no ctest summary (exit $status)"
    echo "run $run/$runs: $summary"
    if ((status != 0)); then
      failedRuns=$((failedRuns + 1))
      local name
      # ctest lists the failed tests as "NUMBER:NAME".
      while IFS=: read -r _ name; do
        failures[$name]=$((${failures[$name]:-0} + 1))
      done <"$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null || failures["(run $run: $summary)"]=1
    fi
  done

  echo
  echo "$config: $runs runs, $failedRuns with failures${filter:+ (tests matching $filter)}"
  if ((${#failures[@]} == 0)); then
    echo "every test passed every time"
    return 0
  fi
  local name
  for name in "${!failures[@]}"; do
    printf '%4d/%d failed  %s\n' "${failures[$name]}" "$runs" "$name"
  done | sort -rn
  return 1
}

main "$@"
