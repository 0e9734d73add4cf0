#!/usr/bin/env bash
# The project as a user meets it on a machine that has nothing installed,
# each check in a brand-new Debian 12 root of its own (scripts/fresh-root.sh):
#   demo     the README's first command, scripts/run-demo.sh: it must end
#            with the grab's summary and PNG files
#   deb      the Debian package from scripts/package.sh --deb, installed with
#            apt-get install ./quorvex_*.deb and used there
#            (tests/package/installed_deb_check.sh)
#   minimal  scripts/test.sh --required-only native: the build and its tests
#            with none of the optional packages, saying what is left out
#
# Usage: scripts/fresh-checks.sh [demo] [deb] [minimal]   (default: demo deb)
#
# Run as root on Debian 12. Prints each check's time; exits non-zero if one
# failed. The logs: build/fresh-root/<check>.log.
# QUORVEX_BUILD_ROOT moves the build folder elsewhere (default: build).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
mkdir -p "$BUILD_ROOT/fresh-root"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
readonly ROOT BUILD_ROOT
readonly LOGS=$BUILD_ROOT/fresh-root

log() { printf '\n=== %s\n' "$*"; }
duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

check_demo() {
  "$ROOT/scripts/fresh-root.sh" bash -c \
    'scripts/run-demo.sh && echo "PNG files: $(ls build/demo-native-frames/*.png | wc -l)"' 2>&1 |
    tee "$LOGS/demo.log"
  grep -q '^latency: median' "$LOGS/demo.log" || { echo "the demo printed no summary" >&2; return 1; }
  grep -Eq '^PNG files: [1-9]' "$LOGS/demo.log" || { echo "the demo saved no PNG file" >&2; return 1; }
}

check_deb() {
  "$ROOT/scripts/package.sh" --deb 2>&1 | tee "$LOGS/package.log" || { echo "the package was not built" >&2; return 1; }
  local deb
  deb=$(ls -t "$BUILD_ROOT"/packages/quorvex_*.deb | head -n 1)
  "$ROOT/scripts/fresh-root.sh" --copy "$deb" \
    bash tests/package/installed_deb_check.sh "/root/$(basename "$deb")" 2>&1 | tee "$LOGS/deb.log"
}

check_minimal() {
  "$ROOT/scripts/fresh-root.sh" scripts/test.sh --required-only native 2>&1 | tee "$LOGS/minimal.log"
}

main() {
  local checks=() check
  for check in "$@"; do
    case $check in
      demo | deb | minimal) checks+=("$check") ;;
      -h | --help) sed -n '2,18s/^# \{0,1\}//p' "$0"; return 0 ;;
      *) echo "fresh-checks.sh: unknown check $check" >&2; return 2 ;;
    esac
  done
  ((${#checks[@]} > 0)) || checks=(demo deb)
  local -A result times
  local failures=0 start
  for check in "${checks[@]}"; do
    log "fresh root: $check"
    start=$SECONDS
    if "check_$check"; then result[$check]=PASS; else result[$check]=FAIL; failures=$((failures + 1)); fi
    times[$check]=$(duration $((SECONDS - start)))
  done
  log "Fresh-root checks"
  for check in "${checks[@]}"; do
    printf '%-8s %s after %s\n' "$check" "${result[$check]}" "${times[$check]}"
  done
  ((failures == 0))
}

main "$@"
