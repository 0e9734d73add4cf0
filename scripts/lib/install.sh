# shellcheck shell=bash
# Debian packages for the project's scripts: sourced, not run.
#
#   install_missing PACKAGE...   installs those not installed yet (as root),
#                                with apt's output in $QUORVEX_APT_LOG
#                                (default: /tmp/quorvex-apt.log)
#   is_installed PACKAGE         whether dpkg has it installed
#   refresh_package_lists LOG    apt-get update into LOG, tried again once
#                                after a pause; says so when it still fails

# dpkg lists one line per installed instance: with wine32, some packages are
# there for i386 as well, and `dpkg -s NAME` then refuses the name as
# ambiguous. NAME means the machine's own architecture's instance (or the
# architecture-independent one); NAME:ARCH that architecture's.
is_installed() {
  local native
  native=$(dpkg --print-architecture)
  dpkg-query -W -f='${db:Status-Abbrev}|${binary:Package}\n' "$1" 2>/dev/null |
    grep -Fxq -e "ii |$1" -e "ii |$1:$native"
}

# A mirror in the middle of a sync fails an index or two for a while, and
# the lists as they are may still have every package: the install decides.
refresh_package_lists() {
  local log=$1
  DEBIAN_FRONTEND=noninteractive apt-get -qq update >>"$log" 2>&1 && return 0
  sleep 20
  DEBIAN_FRONTEND=noninteractive apt-get -qq update >>"$log" 2>&1 && return 0
  echo "apt-get update failed twice ($log); installing from the package lists as they are" >&2
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
  # wine32 is an i386 package (named wine32:i386 by the scripts).
  if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  : >"$aptLog"
  refresh_package_lists "$aptLog"
  if ! DEBIAN_FRONTEND=noninteractive apt-get -qq -y -o Dpkg::Use-Pty=0 install "${missing[@]}" >>"$aptLog" 2>&1; then
    tail -n 40 "$aptLog" >&2
    echo "Package installation failed; the full output is in $aptLog" >&2
    return 1
  fi
}
