#!/usr/bin/env bash
# Ostrivo's Debian packages, each built in a clean chroot of its Debian
# release and written to dist/:
#
#   Debian 12 (bookworm)   ostrivo-gimp2 (the GIMP 2.10 plug-in), ostrivo-cli
#   Debian 13 (trixie)     ostrivo-gimp3 (the GIMP 3 plug-in),    ostrivo-cli
#
#   bash scripts/package.sh [RELEASE...]           build the packages
#   bash scripts/package.sh --check [RELEASE...]   check the packages in dist/
#
# RELEASE is bookworm or trixie (default: both). The check runs lintian on
# each package in its build chroot, installs the packages with apt into a
# fresh chroot of their release that holds only the base system and GIMP,
# runs the plug-in in that GIMP and the command line on a photo, then purges
# them and compares the file tree with the one before. Needs root.
#
# The chroots are made once with debootstrap and kept in OSTRIVO_PKG_CACHE
# (default /var/cache/ostrivo): pkg-RELEASE to build in, pkg-check-RELEASE.tar
# the base system with GIMP, unpacked afresh into pkg-check-RELEASE for each
# check (a check that fails leaves it there to look into). Logs go to
# build-pkg/.
set -euo pipefail
export LC_ALL=C  # one sort order for the file lists compared here
SRC=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${OSTRIVO_PKG_CACHE:-/var/cache/ostrivo}
MIRROR=${OSTRIVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
DIST=$SRC/dist
LOGS=$SRC/build-pkg

# What every build chroot holds: the tools, the engine's libraries, libvips
# for ostrivo-cli, dpkg-shlibdeps (dpkg-dev) and file for CPack, help2man
# for the manual page, and lintian.
BUILD_PACKAGES="g++ cmake make pkg-config libfftw3-dev libglib2.0-dev libvips-dev \
  dpkg-dev file help2man lintian"

# Per release: the Debian version tag of its packages, the packages, the
# GIMP development package, and the front ends to build.
release_tag() { case $1 in bookworm) echo deb12 ;; trixie) echo deb13 ;; esac; }
release_packages() {
  case $1 in bookworm) echo ostrivo-gimp2 ostrivo-cli ;; trixie) echo ostrivo-gimp3 ostrivo-cli ;; esac
}
release_gimp_dev() { case $1 in bookworm) echo libgimp2.0-dev ;; trixie) echo libgimp-3.0-dev ;; esac; }
release_cmake_flags() {
  case $1 in
    bookworm) echo -DOSTRIVO_BUILD_PLUGIN=ON -DOSTRIVO_BUILD_PLUGIN3=OFF ;;
    trixie) echo -DOSTRIVO_BUILD_PLUGIN=OFF -DOSTRIVO_BUILD_PLUGIN3=ON ;;
  esac
}

say() { echo "package: $*"; }
die() { echo "package: $*" >&2; exit 1; }
took() { echo "$((SECONDS - $1)) s"; }

# --- chroots -----------------------------------------------------------------

MOUNTED=()
mounts() {
  local r=$1
  mountpoint -q "$r/proc" || mount -t proc proc "$r/proc"
  mountpoint -q "$r/sys" || mount -t sysfs sysfs "$r/sys"
  mkdir -p "$r/dev/pts" "$r/dev/shm"
  mountpoint -q "$r/dev/pts" || mount -t devpts -o newinstance,ptmxmode=0666 devpts "$r/dev/pts"
  mountpoint -q "$r/dev/shm" || mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
  MOUNTED+=("$r")
}
# Ends what still runs inside the chroot (a helper GIMP left behind), by
# process id, then unmounts.
unmounts() {
  local r=$1 p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$r" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  for m in dev/shm dev/pts sys proc; do
    if mountpoint -q "$r/$m"; then umount -l "$r/$m"; fi
  done
  return 0
}
cleanup() {
  local r
  for r in "${MOUNTED[@]}"; do unmounts "$r"; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

inside() {
  chroot "$1" /usr/bin/env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive bash -ec "$2"
}

# Runs bash COMMANDS in the check chroot R as the user "checker", in
# /tmp/ostrivo-check, with its home folder there.
as_user() {
  printf '%s\n' "$2" > "$1/tmp/ostrivo-check/step.sh"
  inside "$1" "cd /tmp/ostrivo-check && runuser -u checker -- env HOME=/tmp/ostrivo-check/home \
    bash -e /tmp/ostrivo-check/step.sh"
}

# Removes a chroot folder, never through a mount left in it.
remove_root() {
  local r=$1
  [ -e "$r" ] || return 0
  unmounts "$r"
  if grep -q " $r/" /proc/mounts; then die "$r still has mounts; not removing it"; fi
  rm -rf --one-file-system "$r"
}

# A minimal Debian system of RELEASE in R, whose services never start.
make_root() {
  local r=$1 release=$2
  command -v debootstrap > /dev/null || {
    say "installing debootstrap"
    apt-get update -qq && apt-get install -y -qq --no-install-recommends debootstrap > /dev/null
  }
  remove_root "$r"
  mkdir -p "$r"
  debootstrap --variant=minbase "$release" "$r" "$MIRROR" > "$r.debootstrap.log" 2>&1 ||
    { tail -20 "$r.debootstrap.log"; die "debootstrap $release failed"; }
  printf '#!/bin/sh\nexit 101\n' > "$r/usr/sbin/policy-rc.d"
  chmod +x "$r/usr/sbin/policy-rc.d"
}

# Whether every package named is installed in the chroot.
installed() {
  local r=$1 status
  shift
  # shellcheck disable=SC2016
  status=$(chroot "$r" dpkg-query -W -f='${Status}\n' "$@" 2>/dev/null) || return 1
  [ "$(grep -c 'install ok installed' <<< "$status")" -eq $# ]
}

# The build chroot of RELEASE ($CACHE/pkg-RELEASE), made and holding its
# packages; mounted.
build_root() {
  local release=$1 r=$CACHE/pkg-$1 t=$SECONDS packages
  packages="$BUILD_PACKAGES $(release_gimp_dev "$release")"
  if [ ! -x "$r/usr/bin/apt-get" ]; then
    say "making the $release build chroot in $r (a few minutes, once)"
    make_root "$r" "$release"
  fi
  mounts "$r"
  # shellcheck disable=SC2086
  if ! installed "$r" $packages; then
    say "installing the build tools into $r"
    inside "$r" "apt-get update -q && apt-get install -y -q --no-install-recommends $packages &&
      apt-get clean" > "$r.install.log" 2>&1 || { tail -20 "$r.install.log"; die "apt-get install failed"; }
    say "$release build chroot ready ($(took $t))"
  fi
}

# --- building ----------------------------------------------------------------

# The working tree's files (tracked, and new ones git does not ignore) into
# DEST: what is committed or about to be, never build folders or dist/.
export_tree() {
  local dest=$1
  if git -C "$SRC" rev-parse --git-dir > /dev/null 2>&1; then
    if [ -n "$(git -C "$SRC" status --porcelain)" ]; then
      say "note: the working tree has uncommitted changes; they go into the packages"
    fi
    (cd "$SRC" && git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -T - -cf -) | tar -xf - -C "$dest"
  else
    (cd "$SRC" && tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - .) |
      tar -xf - -C "$dest"
  fi
}

source_date() {
  git -C "$SRC" log -1 --format=%ct 2> /dev/null || date +%s
}

build() {
  local release=$1 t=$SECONDS r=$CACHE/pkg-$1 tag
  tag=$(release_tag "$release")
  build_root "$release"
  say "building the $release packages"
  remove_root "$r/build"
  mkdir -p "$r/build/src" "$LOGS" "$DIST"
  export_tree "$r/build/src"
  local log=$LOGS/build-$release.log
  if ! inside "$r" "
    cd /build/src
    export SOURCE_DATE_EPOCH=$(source_date) DEB_BUILD_MAINT_OPTIONS=hardening=+all \
      DEB_LDFLAGS_MAINT_APPEND=-Wl,--as-needed
    export CFLAGS=\"\$(dpkg-buildflags --get CFLAGS) \$(dpkg-buildflags --get CPPFLAGS)\"
    export CXXFLAGS=\"\$(dpkg-buildflags --get CXXFLAGS) \$(dpkg-buildflags --get CPPFLAGS)\"
    export LDFLAGS=\"\$(dpkg-buildflags --get LDFLAGS)\"
    cmake -S /build/src -B /build/b -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DOSTRIVO_BUILD_TESTS=OFF -DOSTRIVO_BUILD_BENCH=OFF -DOSTRIVO_GIMP3_TESTS=OFF \
      -DOSTRIVO_BUILD_CLI=ON $(release_cmake_flags "$release")
    cmake --build /build/b -j\$(nproc)
    cd /build/b && cpack -G DEB" > "$log" 2>&1; then
    tail -40 "$log"
    die "the $release build failed (log: $log)"
  fi

  local p f made
  for p in $(release_packages "$release"); do
    made=("$r"/build/b/packages/"${p}"_*~"${tag}"u*_*.deb)
    [ -f "${made[0]}" ] || die "$release: no $p package was made (log: $log)"
    rm -f "$DIST/${p}"_*~"${tag}"u*_*.deb
    cp "${made[0]}" "$DIST/"
    say "  dist/$(basename "${made[0]}")"
  done
  # The manual page must be there: help2man is in the build chroot.
  dpkg-deb -c "$DIST"/ostrivo-cli_*~"${tag}"u*_*.deb | grep -q 'man1/ostrivo-cli.1.gz' ||
    die "$release: ostrivo-cli has no manual page"
  say "$release packages built ($(took $t))"
}

# --- checking ----------------------------------------------------------------

# FILES: the packages of RELEASE in dist/, one file each.
FILES=()
dist_files() {
  local release=$1 tag p files
  tag=$(release_tag "$release")
  FILES=()
  for p in $(release_packages "$release"); do
    files=("$DIST/${p}"_*~"${tag}"u*_*.deb)
    [ -f "${files[0]}" ] || die "no $p package for $release in dist/: run bash scripts/package.sh first"
    [ ${#files[@]} -eq 1 ] || die "several $p packages for $release in dist/: ${files[*]}"
    FILES+=("${files[0]}")
  done
}

# Lintian, in the build chroot of the packages' release: no errors allowed.
lint() {
  local release=$1 r=$CACHE/pkg-$1 report status=0
  build_root "$release"
  dist_files "$release"
  rm -rf "$r/build/lint"
  mkdir -p "$r/build/lint" "$LOGS"
  cp "${FILES[@]}" "$r/build/lint/"
  report=$LOGS/lintian-$release.txt
  inside "$r" "cd /build/lint && runuser -u nobody -- env HOME=/tmp lintian -I --pedantic \
    --tag-display-limit 0 *.deb" > "$report" 2>&1 || status=$?
  say "lintian ($release, $(inside "$r" 'lintian --version')): $(grep -c '^E:' "$report" || true) errors," \
    "$(grep -c '^W:' "$report" || true) warnings, $(grep -c '^[IP]:' "$report" || true) notes"
  sed 's/^/    /' "$report"
  if grep -q '^E:' "$report"; then die "lintian found errors in the $release packages"; fi
  [ $status -eq 0 ] || die "lintian failed ($status; see $report)"
}

# The base system of RELEASE with GIMP as apt installs it (with what it
# depends on and recommends), as a tarball to unpack a fresh chroot from.
check_base() {
  local release=$1 tar=$CACHE/pkg-check-$1.tar r=$CACHE/pkg-check-$1 t=$SECONDS
  [ -f "$tar" ] && return 0
  say "making the $release base system with GIMP in $tar (a few minutes, once)"
  make_root "$r" "$release"
  mounts "$r"
  inside "$r" "apt-get update -q && apt-get install -y -q gimp &&
    apt-get clean" > "$r.install.log" 2>&1 || { tail -20 "$r.install.log"; die "apt-get install failed"; }
  unmounts "$r"
  tar --numeric-owner -C "$r" -cf "$tar.part" .
  mv "$tar.part" "$tar"
  remove_root "$r"
  say "$release base system ready ($(took $t))"
}

# Every file and folder of the chroot's system, but for what apt, dpkg and
# the kernel keep changing (lists, caches, logs, the status database).
SNAPSHOT='find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
  -o -path /var/cache/apt -o -path /var/cache/debconf -o -path /var/cache/ldconfig \
  -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log \) -prune -o -print | LC_ALL=C sort'
PACKAGE_SET="dpkg-query -W -f='\${Package} \${Version} \${db:Status-Abbrev}\n' | LC_ALL=C sort"

check() {
  local release=$1 t=$SECONDS tag r files names
  tag=$(release_tag "$release")
  dist_files "$release"
  files=("${FILES[@]}")
  names=$(release_packages "$release")
  say "checking the $release packages: ${files[*]##*/}"
  lint "$release"

  check_base "$release"
  r=$CACHE/pkg-check-$release
  remove_root "$r"
  mkdir -p "$r"
  tar --numeric-owner -C "$r" -xpf "$CACHE/pkg-check-$release.tar"
  mounts "$r"
  local c=$r/tmp/ostrivo-check
  mkdir -p "$c/debs" "$c/home" "$c/profile"
  cp "${files[@]}" "$c/debs/"
  cp "$SRC/data/coffee-blurred.png" "$c/in.png"
  # GIMP and ostrivo-cli run as a user, as people run them.
  inside "$r" "useradd -M -d /tmp/ostrivo-check/home -s /bin/sh checker
    chown -R checker: /tmp/ostrivo-check"
  inside "$r" "$SNAPSHOT" > "$c/files-before"
  inside "$r" "$PACKAGE_SET" > "$c/packages-before"

  say "apt install ${files[*]##*/} (into a fresh $release with GIMP)"
  inside "$r" "apt-get update -q > /dev/null
    cd /tmp/ostrivo-check/debs && apt install -y -q $(printf './%s ' "${files[@]##*/}")" \
    > "$c/install.log" 2>&1 || { tail -30 "$c/install.log"; die "apt install failed"; }
  # (apt 3 says how many on the line after "Summary:".)
  grep -A1 -E '^Setting up (ostrivo|libheif-plugin)|newly installed|^Summary:' "$c/install.log" |
    grep -E 'ostrivo|libheif-plugin|newly installed|Installing: [0-9]' | sed 's/^ */    /' || true
  local p
  for p in $names; do
    inside "$r" "dpkg -L $p" > "$c/list-$p"
    if grep -Eq '^/(root|home)' "$c/list-$p"; then die "$p installs into a home folder"; fi
  done
  sed 's/^/    /' "$c"/list-ostrivo-gimp*

  check_cli "$r"
  case $release in
    bookworm) check_gimp2 "$r" "$c" ;;
    trixie) check_gimp3 "$r" "$c" ;;
  esac

  say "apt remove and purge $names, apt autoremove --purge"
  # (apt remove leaves nothing to purge of a package without configuration
  # files: dpkg forgets it, and apt purge would no longer find it.)
  # shellcheck disable=SC2086
  inside "$r" "apt remove -y -q $names
    for p in $names; do
      if dpkg-query -W \$p > /dev/null 2>&1; then apt purge -y -q \$p; fi
    done
    apt autoremove --purge -y -q" \
    > "$c/remove.log" 2>&1 || { tail -30 "$c/remove.log"; die "apt remove failed"; }
  # What the packages installed that was not there before and still is.
  local left kept
  left=$(cat "$c"/list-* | sort -u | comm -23 - "$c/files-before" |
    while read -r f; do if [ -e "$r$f" ]; then echo "$f"; fi; done)
  [ -z "$left" ] || die "files of the packages left after purging: $left"
  # apt autoremove keeps a package that an installed one recommends or
  # suggests (gsfonts, which graphviz suggests, on Debian 12): those are
  # named, then purged as well. After that the system must be as before.
  kept=$(inside "$r" "dpkg-query -W -f='\${Package}\n'" | sort |
    comm -13 <(cut -d' ' -f1 "$c/packages-before") - | tr '\n' ' ')
  if [ -n "$kept" ]; then
    say "  apt autoremove kept ${kept}(installed with them, suggested or recommended by the system's packages); purging it"
    inside "$r" "apt purge -y -q $kept && apt autoremove --purge -y -q" >> "$c/remove.log" 2>&1 ||
      { tail -30 "$c/remove.log"; die "apt purge failed"; }
  fi
  inside "$r" "$SNAPSHOT" > "$c/files-after"
  inside "$r" "$PACKAGE_SET" > "$c/packages-after"
  if ! diff "$c/files-before" "$c/files-after" > "$c/files-diff"; then
    head -40 "$c/files-diff" | sed 's/^/    /'
    die "the $release system's files differ before installing and after purging"
  fi
  if ! diff "$c/packages-before" "$c/packages-after" > "$c/packages-diff"; then
    head -40 "$c/packages-diff" | sed 's/^/    /'
    die "the $release system's packages differ before installing and after purging"
  fi
  say "  purged: no file of the packages left; the system's files and packages as before"
  unmounts "$r"
  remove_root "$r"
  say "$release packages pass ($(took $t))"
}

# ostrivo-cli as a user meets it: its version, its manual page, a repair of
# a photo into PNG, HEIC and AVIF (HEIC and AVIF need libheif's codecs), and
# nothing written into the user's home folder.
check_cli() {
  local r=$1
  as_user "$r" "export HOME=/tmp/ostrivo-check/cli-home
    mkdir -p \$HOME
    ostrivo-cli --version
    ostrivo-cli -l 10 -d 30 in.png -o cli.png
    ostrivo-cli -q -l 10 -d 30 in.png -o cli.heic
    ostrivo-cli -q -l 10 -d 30 in.png -o cli.avif
    for f in cli.heic cli.avif; do
      head -c 12 \$f | grep -q ftyp || { echo \"\$f is not a HEIF file\"; exit 1; }
    done
    ls -l cli.png cli.heic cli.avif
    ostrivo-cli --estimate in.png
    zcat /usr/share/man/man1/ostrivo-cli.1.gz | grep -qF -- '\\-\\-length' ||
      { echo 'the manual page has no --length'; exit 1; }
    [ -z \"\$(ls -A \$HOME)\" ] || { echo 'ostrivo-cli wrote into the home folder'; exit 1; }" 2>&1 |
    sed 's/^/    /'
  [ "${PIPESTATUS[0]}" -eq 0 ] || die "ostrivo-cli failed"
}

# Checks a batch run's RESULT lines: the procedure was found, in GIMP's
# system folder, and ran; it changed most pixels of the photo, and so did
# ostrivo-cli. Prints them.
check_results() {
  local c=$1 what=$3 changed found log=$2.results
  # (Script-Fu's prompt may stand before a line.)
  sed -n 's/^.*\(RESULT .*\)$/\1/p' "$2" > "$log"
  sed 's/^RESULT/   /' "$log"
  grep -q '^RESULT registered \(1\|True\)$' "$log" || { tail -30 "$2"; die "$what: plug-in-ostrivo is not registered"; }
  grep -q '^RESULT status success$' "$log" || { tail -30 "$2"; die "$what: plug-in-ostrivo failed"; }
  for changed in plugin-changed cli-changed; do
    awk -v x="$(sed -n "s/^RESULT $changed \([0-9.]*\)\$/\1/p" "$log")" 'BEGIN { exit !(x > 0.5) }' ||
      die "$what: $changed: too few pixels changed"
  done
  # GIMP's list of the plug-ins it registered, in the fresh profile.
  found=$(grep -o '"[^"]*/plug-ins/ostrivo/ostrivo"' "$c/profile/pluginrc" | head -1 || true)
  echo "    registered from $found (pluginrc)"
  # shellcheck disable=SC2016
  case $found in
    '"${gimp_plug_in_dir}/plug-ins/ostrivo/ostrivo"' | '"/usr/lib/'*) ;;
    *) die "$what: the plug-in was not found in GIMP's system folder" ;;
  esac
}

# Script-Fu in GIMP 2.10 with a fresh profile: the procedure is there and
# repairs the photo with stored settings (length 10, direction 30, K 0.001,
# frame 2 %, brightness repair); the result is compared with the input, and
# with ostrivo-cli's classic model at the same settings.
check_gimp2() {
  local r=$1 c=$2
  as_user "$r" "ostrivo-cli -q --model classic -l 10 -d 30 -k 0.001 -f 2 -b in.png -o cli-classic.png"
  as_user "$r" "mkdir -p profile/{gradients,brushes,patterns,palettes,fonts}"
  cat > "$c/job.scm" << 'EOF'
(define (result key value) (display "RESULT ") (display key) (display " ") (display value) (newline))
(define dir "/tmp/ostrivo-check/")
(define (load name) (car (gimp-file-load RUN-NONINTERACTIVE (string-append dir name) name)))
; The share of pixels where photos A and B differ, and the mean difference (0 to 255).
(define (compare a b)
  (let* ((img (load a))
         (other (load b))
         (top (car (gimp-layer-new-from-drawable (car (gimp-image-get-active-drawable other)) img))))
    (gimp-image-insert-layer img top 0 0)
    (gimp-image-delete other)
    (gimp-layer-set-mode top LAYER-MODE-DIFFERENCE)
    (let* ((d (car (gimp-image-merge-down img top CLIP-TO-IMAGE)))
           (all (gimp-drawable-histogram d HISTOGRAM-VALUE 0.0 1.0))
           (changed (gimp-drawable-histogram d HISTOGRAM-VALUE 0.002 1.0)))
      (gimp-image-delete img)
      (list (/ (list-ref changed 4) (list-ref all 3)) (car all)))))
(result "registered" (car (gimp-procedural-db-proc-exists "plug-in-ostrivo")))
(let* ((img (load "in.png"))
       (drw (car (gimp-image-get-active-drawable img))))
  (gimp-procedural-db-set-data "plug-in-ostrivo" 40
     #(0 0 0 0 0 0 36 64  0 0 0 0 0 0 62 64  252 169 241 210 77 98 80 63
       0 0 0 0 0 0 0 64  1 0 0 0  0 0 0 0))
  (plug-in-ostrivo RUN-WITH-LAST-VALS img drw)
  (result "status" "success")
  (file-png-save2 RUN-NONINTERACTIVE img drw (string-append dir "gimp.png") "gimp.png" 0 9 0 0 0 0 0 0 1)
  (gimp-image-delete img))
(let ((d (compare "in.png" "gimp.png")))
  (result "plugin-changed" (car d))
  (result "plugin-mean-change" (cadr d)))
(result "plugin-vs-cli-classic-differs" (car (compare "gimp.png" "cli-classic.png")))
(result "cli-changed" (car (compare "in.png" "cli.png")))
(gimp-quit 0)
EOF
  as_user "$r" "GIMP2_DIRECTORY=/tmp/ostrivo-check/profile timeout 300 gimp-console-2.10 -i -d -f \
    --batch-interpreter plug-in-script-fu-eval -b - < job.scm" > "$c/gimp.log" 2>&1 || true
  say "GIMP $(as_user "$r" 'gimp-console-2.10 --version | grep -o "[0-9.]*$"'), Script-Fu:"
  check_results "$c" "$c/gimp.log" "GIMP 2.10"
  # The command line's classic model gives the plug-in's very bytes.
  grep -q '^RESULT plugin-vs-cli-classic-differs 0\(\.0*\)\?$' "$c/gimp.log.results" ||
    die "GIMP 2.10: the plug-in and ostrivo-cli --model classic differ"
}

# Python in GIMP 3 with a fresh profile: the procedure is there and repairs
# the photo with named arguments (length 10, direction 30, K 0.001, the
# smooth model); the result is compared with the input, and with
# ostrivo-cli's at the same settings.
check_gimp3() {
  local r=$1 c=$2
  as_user "$r" "ostrivo-cli -q --model classic -l 10 -d 30 -k 0.001 -f 2 -b in.png -o cli-classic.png"
  cat > "$c/job.py" << 'EOF'
from gi.repository import Gimp, Gio
D = '/tmp/ostrivo-check/'
def result(key, value):
    print(f'RESULT {key} {value}', flush=True)
def load(name):
    return Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, Gio.File.new_for_path(D + name))
def compare(a, b):
    # the share of pixels where photos a and b differ, and the mean difference (0 to 255)
    image, other = load(a), load(b)
    top = Gimp.Layer.new_from_drawable(other.get_layers()[0], image)
    image.insert_layer(top, None, 0)
    other.delete()
    top.set_mode(Gimp.LayerMode.DIFFERENCE)
    d = image.merge_down(top, Gimp.MergeType.CLIP_TO_IMAGE)
    every = d.histogram(Gimp.HistogramChannel.VALUE, 0.0, 1.0)
    changed = d.histogram(Gimp.HistogramChannel.VALUE, 0.002, 1.0)
    image.delete()
    return f'{changed[5] / every[4]:.4f}', f'{every[1]:.2f}'
pdb = Gimp.get_pdb()
proc = pdb.lookup_procedure('plug-in-ostrivo')
result('registered', proc is not None)
if proc is None:
    raise RuntimeError('plug-in-ostrivo is not registered')
def repair(out, **arguments):
    image = load('in.png')
    config = proc.create_config()
    config.set_property('run-mode', Gimp.RunMode.NONINTERACTIVE)
    config.set_property('image', image)
    config.set_core_object_array('drawables', [image.get_layers()[0]])
    for name, value in arguments.items():
        config.set_property(name.replace('_', '-'), value)
    status = proc.run(config).index(0).value_nick
    Gimp.file_save(Gimp.RunMode.NONINTERACTIVE, image, Gio.File.new_for_path(D + out), None)
    image.delete()
    return status
result('status', repair('gimp.png', length=10.0, direction=30.0, k=0.001))
changed, mean = compare('in.png', 'gimp.png')
result('plugin-changed', changed)
result('plugin-mean-change', mean)
result('plugin-vs-cli-differs', ' '.join(compare('gimp.png', 'cli.png')))
repair('gimp-classic.png', length=10.0, direction=30.0, k=0.001, frame_width=2.0,
       repair_brightness=True, model='classic')
result('plugin-vs-cli-classic-differs', compare('gimp-classic.png', 'cli-classic.png')[0])
result('cli-changed', compare('in.png', 'cli.png')[0])
EOF
  as_user "$r" "GIMP3_DIRECTORY=/tmp/ostrivo-check/profile timeout 300 gimp-console-3.0 -i -d -f \
    --batch-interpreter python-fu-eval -b 'exec(open(\"/tmp/ostrivo-check/job.py\").read())' \
    --quit" > "$c/gimp.log" 2>&1 || true
  say "GIMP $(as_user "$r" 'gimp-console-3.0 --version | grep -o "[0-9.]*$"'), Python:"
  check_results "$c" "$c/gimp.log" "GIMP 3"
  grep -q '^RESULT plugin-vs-cli-classic-differs 0\(\.0*\)\?$' "$c/gimp.log.results" ||
    die "GIMP 3: the plug-in and ostrivo-cli --model classic differ"
}

# --- main --------------------------------------------------------------------

[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, chroot, mount)"
mode=build
releases=()
for a in "$@"; do
  case $a in
    --check) mode=check ;;
    bookworm | trixie) releases+=("$a") ;;
    *) sed -n '2,21p' "$0"; exit 2 ;;
  esac
done
[ ${#releases[@]} -gt 0 ] || releases=(bookworm trixie)
mkdir -p "$CACHE"
start=$SECONDS
for release in "${releases[@]}"; do
  # One run at a time on a release's chroots.
  exec 9> "$CACHE/pkg-$release.lock"
  flock -n 9 || die "another scripts/package.sh is working on $release"
  "$mode" "$release"
done
case $mode in
  build) say "done in $(took $start): $(cd "$DIST" && echo ./*.deb | sed 's|\./||g')" ;;
  check) say "every check passed ($(took $start))" ;;
esac
