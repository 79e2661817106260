#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the engine's unit
# tests (also under AddressSanitizer and UBSan), the command line's, and
# the plug-in's in the real GIMP 2.10 (batch, and the dialog under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)"
