#!/usr/bin/env bash
# Inside the Debian 13 chroot (scripts/gimp3-chroot.sh run ...): configures
# the whole tree at /src into BUILD_DIR and builds TARGETs (default: all),
# with Debian 13's compiler. The GIMP 3 tests themselves, which drive this
# chroot from outside, are left out.
#
#   bash /src/scripts/trixie-build.sh BUILD_DIR [TARGET...]
set -euo pipefail
build=$1
shift
cmake -S /src -B "$build" -DCMAKE_BUILD_TYPE=Release -DOSTRIVO_BUILD_TESTS=ON \
  -DOSTRIVO_BUILD_CLI=ON -DOSTRIVO_BUILD_BENCH=ON -DOSTRIVO_BUILD_PLUGIN3=ON \
  -DOSTRIVO_GIMP3_TESTS=OFF > "$build.log" 2>&1 ||
  { cat "$build.log"; exit 1; }
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}" >> "$build.log" 2>&1 ||
  { tail -60 "$build.log"; exit 1; }
echo "trixie-build: $(g++ --version | head -1): built ${*:-everything} in $build"
