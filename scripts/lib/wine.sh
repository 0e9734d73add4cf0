# shellcheck shell=bash
# Wine for the project's scripts: sourced, not run.
#
#   use_wine_prefix PREFIX [ARCH]  a wine prefix in the folder PREFIX for ARCH
#                                  (win32, the default, or win64), quiet,
#                                  without Mono/Gecko installers or menu
#                                  entries; created once (its log:
#                                  PREFIX.wineboot.log). Exports WINE, the
#                                  loader for ARCH's programs. A script that
#                                  ends its wine processes with
#                                  `wineserver -k` wants a prefix of its own.
#   can_run_win32                  whether this machine runs 32-bit programs:
#                                  32-bit wine needs a kernel that executes
#                                  i386 code, which some virtual machines lack.

# 64-bit programs go to wine64 itself: Debian's `wine` starts the 32-bit
# loader first, which fails where i386 code cannot run.
readonly kWine64Loader=/usr/lib/wine/wine64

wine_loader() {
  if [[ $1 == win64 ]]; then
    echo "$kWine64Loader"
  else
    echo wine
  fi
}

can_run_win32() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

use_wine_prefix() {
  export WINEPREFIX=$1
  export WINEARCH=${2:-win32}
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  WINE=$(wine_loader "$WINEARCH")
  export WINE
  local ready=$WINEPREFIX/.quorvex-ready
  if [[ -f $ready ]]; then
    return 0
  fi
  echo "Creating the wine prefix $WINEPREFIX ($WINEARCH)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 600 "$WINE" wineboot -i >"$WINEPREFIX.wineboot.log" 2>&1 || {
    cat "$WINEPREFIX.wineboot.log" >&2
    return 1
  }
  timeout 120 wineserver -w
  touch "$ready"
}
