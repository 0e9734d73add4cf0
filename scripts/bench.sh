#!/usr/bin/env bash
# Builds Quorvex in Release and runs its benchmark: one camera's delivery
# beside the bare pipe+mutex+copy floor for three frame sizes, row reads
# beside memcpy, 32 cameras in one host and the largest count that loses no
# frame; natively also GStreamer's shmsink -> shmsrc beside quorvexsink ->
# driver -> quorvexsrc through the same pipelines (the peer).
#
# Usage: scripts/bench.sh [--wine | --wine64] [--repeat N] [--smoke]
#   --wine      the 32-bit Windows build (mingw-w64), run under wine
#   --wine64    a 64-bit Windows build, run under wine64: for kernels that run
#               no 32-bit programs (no IA-32 emulation), where wine32 cannot
#   --repeat N  runs everything N times and reports medians (default 3)
#   --smoke     every case briefly, to see that it runs
#
# Prints the table and writes it as JSON to build/<config>/bench/results.json
# (config: release, win32-release or win64-release). Installs the Debian
# packages it needs and lacks (as root). Goals are reported, never enforced;
# the exit code says whether every case ran.
set -euo pipefail

readonly kNativePackages=(cmake ninja-build g++ libgtest-dev googletest libstb-dev)
readonly kWin32Packages=(g++-mingw-w64-i686 wine wine32:i386)
readonly kWin64Packages=(g++-mingw-w64-x86-64 wine wine64)

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly ROOT

usage() {
  sed -n '2,16s/^# \{0,1\}//p' "$0"
}

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
# shellcheck source=lib/wine.sh
source "$ROOT/scripts/lib/wine.sh"

machine() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
  printf '%s, %s cores, %s %s' "${cpu:-unknown processor}" "$(nproc)" "$(uname -s)" "$(uname -r)"
}

main() {
  local wine=0 benchArgs=()
  while (($# > 0)); do
    case $1 in
      --wine) wine=32 ;;
      --wine64) wine=64 ;;
      --repeat) benchArgs+=(--repeat "${2:?--repeat needs a count}"); shift ;;
      --smoke) benchArgs+=(--smoke) ;;
      -h | --help) usage; return 0 ;;
      *) echo "Unknown argument: $1" >&2; usage >&2; return 2 ;;
    esac
    shift
  done

  local config=release packages=("${kNativePackages[@]}") configureArgs=()
  if ((wine == 32)); then
    can_run_win32 || { echo "This machine runs no 32-bit programs, so wine32 cannot start: use --wine64." >&2; return 1; }
    config=win32-release
    packages+=("${kWin32Packages[@]}")
    configureArgs=("-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-i686.cmake")
  elif ((wine == 64)); then
    config=win64-release
    packages+=("${kWin64Packages[@]}")
    configureArgs=("-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-x86_64.cmake")
  fi
  install_missing "${packages[@]}"

  local dir=$ROOT/build/$config
  mkdir -p "$dir/bench"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "${configureArgs[@]}" >"$dir.configure.log" ||
    { cat "$dir.configure.log" >&2; return 1; }
  ninja -C "$dir" -j 2 --quiet link_bench
  local peer=0 targets
  # The list whole before grep: grep -q stops at the first match, and under
  # pipefail ninja's broken pipe would fail the test.
  targets=$(ninja -C "$dir" -t targets all 2>/dev/null)
  if ((!wine)) && grep -q '^gst_peer_bench:' <<<"$targets"; then
    ninja -C "$dir" -j 2 --quiet gst_peer_bench
    peer=1
  fi

  local results=$dir/bench/results.json
  if ((wine)); then
    local arch=win32 label=wine
    if ((wine == 64)); then
      arch=win64 label=wine64
    fi
    use_wine_prefix "$dir/wine-prefix" "$arch"
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    wineserver -p
    "$WINE" "$dir/bin/link_bench.exe" "${benchArgs[@]}" --label "$label" \
      --machine "$(machine), $("$WINE" --version)" --json "$("$WINE" winepath.exe -w "$results")"
  else
    "$dir/bin/link_bench" "${benchArgs[@]}" --label native --machine "$(machine)" --json "$results"
    if ((peer)); then
      echo
      local peerArgs=()
      [[ " ${benchArgs[*]} " == *" --smoke "* ]] && peerArgs=(--smoke)
      "$dir/bin/gst_peer_bench" "${peerArgs[@]}"
    else
      echo "The peer (GStreamer's shared memory) is left out: no GStreamer development files in this build."
    fi
  fi
  echo "Results: $results"
}

main "$@"
