#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the engine's unit
# tests (also under AddressSanitizer, UBSan and ThreadSanitizer), the command
# line's, the GIMP 2.10 plug-in's in the real GIMP 2.10, and the GIMP 3
# plug-in's in the real GIMP 3.0 of a Debian 13 chroot that the tests make
# once (scripts/gimp3-chroot.sh) -- batch runs, and the dialogs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)"
