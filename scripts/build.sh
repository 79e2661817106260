#!/usr/bin/env bash
# Configures and builds everything into build/ (Release).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > build.log 2>&1 || { cat build.log; exit 1; }
cmake --build build -j"$(nproc)" >> build.log 2>&1 || { tail -50 build.log; exit 1; }
echo "build: done (log in build.log)"
