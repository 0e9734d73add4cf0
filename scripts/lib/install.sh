# shellcheck shell=bash
# Debian packages for the project's scripts: sourced, not run.
#
#   install_missing PACKAGE...   installs those not installed yet (as root),
#                                with apt's output in $QUORVEX_APT_LOG
#                                (default: /tmp/quorvex-apt.log)
#   is_installed PACKAGE         whether dpkg has it installed

is_installed() {
  dpkg -s "$1" 2>/dev/null | grep -q '^Status: install ok installed'
}

install_missing() {
  local missing=() pkg
  for pkg in "$@"; do
    is_installed "$pkg" || missing+=("$pkg")
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  printf '\n=== Installing %s\n' "${missing[*]}"
  if ((EUID != 0)); then
    echo "Installing packages needs root; run as root or install them yourself." >&2
    return 1
  fi
  local aptLog=${QUORVEX_APT_LOG:-/tmp/quorvex-apt.log}
  # wine32 is an i386 package.
  if [[ " ${missing[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  if ! { DEBIAN_FRONTEND=noninteractive apt-get -qq update &&
    DEBIAN_FRONTEND=noninteractive apt-get -qq -y -o Dpkg::Use-Pty=0 install "${missing[@]}"; } >"$aptLog" 2>&1; then
    tail -n 40 "$aptLog" >&2
    echo "Package installation failed; the full output is in $aptLog" >&2
    return 1
  fi
}
