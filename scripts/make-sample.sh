#!/usr/bin/env bash
# Remakes data/coffee-blurred.png from data/coffee.png: a known motion of 10
# pixels at 30 degrees. Needs a build (build/src/cli/ostrivo-cli) and
# ImageMagick's convert.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${OSTRIVO_CLI:-build/src/cli/ostrivo-cli}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert data/coffee.png -virtual-pixel Edge -set option:distort:viewport 640x440-20-20 \
  -distort SRT 0 +repage "$tmp/padded.png"
"$cli" --quiet --simulate --model classic --length 10 --direction 30 "$tmp/padded.png" -o "$tmp/blurred.png"
convert "$tmp/blurred.png" -crop 600x400+20+20 +repage -define png:color-type=2 \
  data/coffee-blurred.png
echo "wrote data/coffee-blurred.png"
