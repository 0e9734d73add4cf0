#!/usr/bin/env bash
# Run as root in a brand-new Debian 12 root (scripts/fresh-root.sh): installs
# the Debian package with apt, as a user does, with its own dependencies and
# nothing else, then uses it with nothing set: quorvex-server feeding
# quorvex-grab (the installed driver found without --driver), the Python
# package publishing a frame and reading it back through the driver, and
# GStreamer finding both elements without GST_PLUGIN_PATH.
#
# Usage: installed_deb_check.sh PACKAGE.deb
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
deb=$(realpath "$1")
readonly kShare="Fresh Root Check"

# shellcheck source=../../scripts/lib/install.sh
source "$here/../../scripts/lib/install.sh"

echo "--- apt-get install ./$(basename "$deb")"
export DEBIAN_FRONTEND=noninteractive
refresh_package_lists /tmp/apt-update.log
(cd "$(dirname "$deb")" && apt-get -qq -y -o Dpkg::Use-Pty=0 install "./$(basename "$deb")" >/tmp/apt-install.log) ||
  { tail -n 30 /tmp/apt-install.log >&2; exit 1; }

work=$(mktemp -d)
server=
stop_server() {
  [[ -z $server ]] && return 0
  kill -INT "$server" 2>/dev/null || true
  wait "$server" || true
  server=
}
trap 'stop_server; rm -rf "$work"' EXIT

echo "--- quorvex-server feeding quorvex-grab"
quorvex-server --share "$kShare" --size 320x240 --bpp 3 --fps 30 >"$work/server.log" 2>&1 &
server=$!
mkdir -p "$work/system"
quorvex-grab --system-dir "$work/system" --share "$kShare" --frames 30 --save "$work/frames" --every 10
ls "$work/frames"/*.png
stop_server
tail -n 1 "$work/server.log"

echo "--- the Python package"
python3 -c "import quorvex; print('quorvex', quorvex.__version__, 'from', quorvex.__file__)"
python3 "$here/python_user.py" /usr "$work/system"

echo "--- GStreamer's elements"
for element in quorvexsink quorvexsrc; do
  gst-inspect-1.0 "$element" >"$work/$element.txt"
  grep -E '^  (Long-name|Filename)' "$work/$element.txt"
done
echo "installed_deb_check: the installed package works"
