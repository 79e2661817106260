#!/usr/bin/env bash
# A Debian 13 (trixie) chroot with GIMP 3.0 and the build tools, made once
# and reused, for building and testing the GIMP 3 plug-in on this Debian 12
# machine. Needs root.
#
#   scripts/gimp3-chroot.sh setup            make or update the chroot
#   scripts/gimp3-chroot.sh run 'COMMANDS'   run bash COMMANDS inside it
#   scripts/gimp3-chroot.sh path             print where it is
#
# OSTRIVO_GIMP3_ROOT names the folder (default /var/cache/ostrivo/trixie).
# Inside, /src is this working tree (bind-mounted, read-only use) and /work
# is a scratch folder shared with the host at $OSTRIVO_GIMP3_ROOT/work.
set -euo pipefail
R=${OSTRIVO_GIMP3_ROOT:-/var/cache/ostrivo/trixie}
SRC=$(cd "$(dirname "$0")/.." && pwd)
MIRROR=${OSTRIVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# GIMP 3 and what the whole tree needs to build and test with Debian 13's
# compiler (GCC 14): the engine, ostrivo-cli and their tests.
PACKAGES="gimp libgimp-3.0-dev g++ pkg-config cmake make libfftw3-dev libglib2.0-dev \
  libvips-dev zlib1g-dev libgtest-dev libimage-exiftool-perl \
  libheif-plugin-x265 libheif-plugin-libde265 libheif-plugin-aomenc libheif-plugin-dav1d \
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core"

die() { echo "gimp3-chroot: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root"

mounts() {
  mountpoint -q "$R/proc" || mount -t proc proc "$R/proc"
  mountpoint -q "$R/sys" || mount -t sysfs sysfs "$R/sys"
  mkdir -p "$R/dev/pts" "$R/dev/shm" "$R/src" "$R/work"
  mountpoint -q "$R/dev/pts" || mount -t devpts -o newinstance,ptmxmode=0666 devpts "$R/dev/pts"
  mountpoint -q "$R/dev/shm" || mount -t tmpfs -o mode=1777 tmpfs "$R/dev/shm"
  mountpoint -q "$R/src" || mount --bind "$SRC" "$R/src"
}
unmounts() {
  for m in src dev/shm dev/pts sys proc; do
    mountpoint -q "$R/$m" && umount -l "$R/$m"
  done
  return 0
}
inside() {
  chroot "$R" /usr/bin/env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive bash -ec "$1"
}

# Whether every package of the list is installed in the chroot (dpkg-query
# -W alone also answers for packages it merely knows of).
installed() {
  local status
  status=$(chroot "$R" dpkg-query -W -f='${Status}\n' $PACKAGES 2>/dev/null) || return 1
  [ "$(grep -c 'install ok installed' <<< "$status")" -eq "$(wc -w <<< "$PACKAGES")" ]
}

setup() {
  if [ ! -x "$R/usr/bin/apt-get" ]; then
    command -v debootstrap >/dev/null || die "debootstrap is missing (scripts/deps.sh installs it)"
    echo "gimp3-chroot: making a Debian 13 chroot in $R (about two minutes)"
    # Never remove through a mount left behind (/src is this working tree).
    unmounts
    if [ -d "$R" ] && grep -q " $R/" /proc/mounts; then die "$R still has mounts; not removing it"; fi
    rm -rf --one-file-system "$R"
    mkdir -p "$R"
    debootstrap --variant=minbase trixie "$R" "$MIRROR" > "$R.debootstrap.log" 2>&1 ||
      { tail -20 "$R.debootstrap.log"; die "debootstrap failed"; }
    printf '#!/bin/sh\nexit 101\n' > "$R/usr/sbin/policy-rc.d"
    chmod +x "$R/usr/sbin/policy-rc.d"
  fi
  mounts
  trap unmounts EXIT
  if ! installed; then
    echo "gimp3-chroot: installing GIMP 3 and the build tools"
    inside "apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends $PACKAGES >/dev/null"
  fi
  echo "gimp3-chroot: ready ($(inside 'gimp-console-3.0 --version'))"
}

case "${1:-}" in
  setup) setup ;;
  run)
    # Made, and holding every package the list names (it grows as the
    # project does).
    if [ ! -x "$R/usr/bin/gimp-console-3.0" ] || ! installed; then
      (setup)
    fi
    mounts
    trap unmounts EXIT
    inside "$2"
    ;;
  path) echo "$R" ;;
  *) sed -n '2,13p' "$0"; exit 2 ;;
esac
