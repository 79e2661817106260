#!/usr/bin/env bash
# Installs, from Debian 12's packages, whatever of Ostrivo's build, run and
# test dependencies is missing (with --bench, also what the benchmarks
# compare against). Needs root (or sudo).
set -euo pipefail

packages=(
  g++ cmake make pkg-config            # build
  libfftw3-dev libglib2.0-dev          # the engine
  libgimp2.0-dev gimp                  # the GIMP 2.10 plug-in, and the editor that runs it
  libvips-dev zlib1g-dev               # photo files for ostrivo-cli
  libgtest-dev                         # unit tests
  libimage-exiftool-perl               # metadata checks of the command line's tests
  xvfb xauth xdotool x11-utils         # the dialog test under a virtual display
  imagemagick                          # screenshots and image comparisons
  fonts-dejavu-core gtk2-engines-pixbuf  # fonts and the theme engine of the dialog
  debootstrap                          # the Debian 13 chroot that holds GIMP 3 for its tests
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(
    python3-numpy python3-scipy python3-opencv  # the quality benchmark and its OpenCV peer
    python3-skimage                      # sample photos (chelsea, rocket, camera)
    gmic hyperfine time                  # the G'MIC peer, timing, peak memory
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: everything is installed"
  exit 0
fi

echo "deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
