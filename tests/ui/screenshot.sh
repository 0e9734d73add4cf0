#!/bin/sh
# Saves a picture of the X display as PNG, cut to GEOMETRY (WxH+X+Y) when
# given. The picture appears under its name only when complete; on failure
# PICTURE.failed holds the reason instead.
#
# Usage: screenshot.sh PICTURE.png [GEOMETRY]
set -u
picture=$1
geometry=${2:-}
partial=$picture.part

fail() {
  echo "$*" >"$picture.failed"
  echo "screenshot.sh: $*" >&2
  exit 1
}

mkdir -p "$(dirname "$picture")" || fail "cannot create the folder of $picture"
rm -f "$picture" "$picture.failed"
command -v import >/dev/null 2>&1 || fail "import is not installed (package imagemagick)"
# The root window itself: xwd -root would take a window that wine marks as
# a virtual root instead.
if [ -n "$geometry" ]; then
  import -silent -window root -crop "$geometry" +repage "png:$partial" || fail "import failed"
else
  import -silent -window root "png:$partial" || fail "import failed"
fi
mv -f "$partial" "$picture"
