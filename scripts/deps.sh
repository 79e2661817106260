#!/usr/bin/env bash
# Installs, from Debian 12's packages, whatever of Ostrivo's build, run and
# test dependencies is missing. Needs root (or sudo).
set -euo pipefail

packages=(
  g++ cmake make pkg-config            # build
  libfftw3-dev libglib2.0-dev          # the engine
  libgimp2.0-dev gimp                  # the plug-in, and the editor that runs it
  libvips-dev zlib1g-dev               # photo files for ostrivo-cli
  libgtest-dev                         # unit tests
  libimage-exiftool-perl               # metadata checks of the command line's tests
  xvfb xauth xdotool x11-utils         # the dialog test under a virtual display
  imagemagick                          # screenshots and image comparisons
  fonts-dejavu-core gtk2-engines-pixbuf  # fonts and the theme engine of the dialog
)

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
