#!/usr/bin/env bash
# Installs the dependencies, builds Quillbox and runs the demo in the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLBOX_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
./build/bin/quillbox-demo
