#!/bin/sh
# Renders the committed 256x256 PNG from the SVG icon. Run after changing the SVG;
# the build ships both files as they are, so it needs no SVG renderer.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rsvg-convert --width 256 --height 256 --keep-aspect-ratio \
  "$here/lumarex-upgrade-tool.svg" --output "$here/lumarex-upgrade-tool.png"
