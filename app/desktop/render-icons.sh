#!/usr/bin/env bash
# Renders the PNG icons from doodlechorus.svg, for desktops that want fixed sizes beside the
# scalable one. The PNGs are kept in the repository, so building never needs this; run it
# after changing the SVG and commit the result.
# Needs rsvg-convert (Debian: librsvg2-bin). ImageMagick's own SVG renderer is not enough
# here: it drops the note head's rotation and outlines every dot.
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 128; do
    mkdir -p "icons/${size}x${size}"
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "icons/${size}x${size}/doodlechorus.png" doodlechorus.svg
done
