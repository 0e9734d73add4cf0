#!/usr/bin/env bash
# Runs a command as root in a brand-new minimal Debian 12 root, as a user
# meets the project on a machine that has nothing installed yet.
#
# Usage: scripts/fresh-root.sh [--copy FILE]... [--keep] [--] COMMAND [ARGUMENT...]
#   --copy FILE  also put FILE into the root's /root (a package to install, say)
#   --keep       leave the root's folder behind (its mounts are undone anyway)
#
# The first run makes the base with debootstrap (variant minbase) from the
# Debian mirror that this machine's own apt sources name, and keeps it as
# build/fresh-root/bookworm-base.tar.gz for the next runs. Each run unpacks it
# into a new folder, copies the checkout (without build/ and .git) into
# /root/quorvex there, gives it this machine's apt sources and name servers,
# mounts /proc, /dev and a /dev/shm of its own, and runs COMMAND with bash in
# /root/quorvex. On every way out, programs still running in the root are
# ended, the mounts undone and the folder removed. Exits with COMMAND's code.
# Needs root and debootstrap (installed when missing).
# QUORVEX_BUILD_ROOT moves the build folder elsewhere (default: build).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${QUORVEX_BUILD_ROOT:-$ROOT/build}
mkdir -p "$BUILD_ROOT/fresh-root"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
readonly ROOT BUILD_ROOT
readonly kSuite=bookworm
readonly kWork=$BUILD_ROOT/fresh-root
readonly kBase=$kWork/$kSuite-base.tar.gz
export QUORVEX_APT_LOG=$kWork/apt.log

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"

usage() { sed -n '2,20s/^# \{0,1\}//p' "$0"; }

copies=() keep=false
while (($# > 0)); do
  case $1 in
    --copy) copies+=("$(realpath "$2")"); shift ;;
    --keep) keep=true ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) echo "fresh-root.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
(($# > 0)) || { usage >&2; exit 2; }
((EUID == 0)) || { echo "fresh-root.sh: run it as root" >&2; exit 1; }

# The first Debian archive (not the security one) that apt's sources name, in
# either format: deb822 (*.sources) or one-line (*.list).
host_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$file"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] || continue
    awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) print $i; break } }' "$file"
  done
}

make_base() {
  local mirror
  mirror=$(host_mirror | head -n 1)
  [[ -n $mirror ]] || { echo "fresh-root.sh: no Debian mirror in this machine's apt sources" >&2; return 1; }
  install_missing debootstrap
  local staging=$kWork/base-staging
  rm -rf --one-file-system "$staging"
  echo "Making a minimal Debian 12 root from $mirror (once; kept as $kBase)"
  local start=$SECONDS
  debootstrap --variant=minbase "$kSuite" "$staging" "$mirror" >"$kWork/debootstrap.log" 2>&1 || {
    tail -n 30 "$kWork/debootstrap.log" >&2
    return 1
  }
  tar -C "$staging" -czf "$kBase.part" .
  mv "$kBase.part" "$kBase"
  rm -rf --one-file-system "$staging"
  echo "Base made in $((SECONDS - start)) s"
}

[[ -f $kBase ]] || make_base

run=$(mktemp -d "$kWork/run-XXXXXX")
target=$run/root
mounts=()

# Programs left in the root hold its mounts busy: they are ended first (each
# by its process id, found by the root it runs in).
end_programs_in_root() {
  local link pid
  for link in /proc/[0-9]*/root; do
    [[ $(readlink "$link" 2>/dev/null) == "$target" ]] || continue
    pid=${link#/proc/}
    pid=${pid%/root}
    kill -KILL "$pid" 2>/dev/null || true
  done
}

clean_up() {
  local status=$? i
  trap - EXIT INT TERM
  end_programs_in_root
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
  done
  if grep -qF " $target/" /proc/self/mounts || grep -qF " $target " /proc/self/mounts; then
    echo "fresh-root.sh: mounts remain under $target; it is left in place" >&2
  elif $keep; then
    echo "The root stays in $target"
  else
    rm -rf --one-file-system "$run"
  fi
  exit "$status"
}
trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in_root() {
  local where=$target$1
  shift
  mkdir -p "$where"
  mount "$@" "$where"
  mounts+=("$where")
}

mkdir -p "$target"
tar -C "$target" -xzf "$kBase"
mkdir -p "$target/root/quorvex"
tar -C "$ROOT" --exclude=./build --exclude=./.git -cf - . | tar -C "$target/root/quorvex" -xf -
for file in "${copies[@]}"; do
  cp "$file" "$target/root/"
done
# This machine's package sources and name servers, so that apt there reaches
# the same archives as here.
rm -f "$target/etc/apt/sources.list"
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [[ ! -f $file ]] || cp "$file" "$target$file"
done
cp -L /etc/resolv.conf "$target/etc/resolv.conf"
# The root is thrown away after the run: dpkg need not sync every file it
# unpacks, which makes installing many times slower on a busy disk.
echo force-unsafe-io >"$target/etc/dpkg/dpkg.cfg.d/fresh-root-unsafe-io"
# Services that packages install are not started in the root: nothing
# would stop them.
printf '#!/bin/sh\nexit 101\n' >"$target/usr/sbin/policy-rc.d"
chmod +x "$target/usr/sbin/policy-rc.d"

mount_in_root /proc -t proc proc
mount_in_root /dev --bind /dev
mount_in_root /dev/shm -t tmpfs -o mode=1777 shm

status=0
env -i HOME=/root TERM="${TERM:-dumb}" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 chroot "$target" /bin/bash -c 'cd /root/quorvex && exec "$@"' fresh-root "$@" || status=$?
exit "$status"
