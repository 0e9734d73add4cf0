# shellcheck shell=bash
# Wine for the project's scripts: sourced, not run.
#
#   use_wine_prefix PREFIX [ARCH]
#                            a wine prefix in the folder PREFIX, quiet,
#                            without Mono/Gecko installers or menu entries;
#                            created once (its log: PREFIX.wineboot.log).
#                            ARCH: win32 (the default) or win64, which runs
#                            64-bit and 32-bit programs side by side.
#                            A script that ends its wine processes with
#                            `wineserver -k` wants a prefix of its own.

use_wine_prefix() {
  export WINEPREFIX=$1
  export WINEARCH=${2:-win32}
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  local ready=$WINEPREFIX/.quorvex-ready
  if [[ -f $ready ]]; then
    return 0
  fi
  echo "Creating the wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 600 wineboot -i >"$WINEPREFIX.wineboot.log" 2>&1 || {
    cat "$WINEPREFIX.wineboot.log" >&2
    return 1
  }
  timeout 120 wineserver -w
  touch "$ready"
}
