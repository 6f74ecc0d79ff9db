#!/usr/bin/env bash
# Configures and builds everything into build/ (the application folder is
# build/app).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_BUILD_TESTS=ON -DVELMO_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)"
