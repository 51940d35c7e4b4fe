#!/usr/bin/env bash
# Configures and builds into build/ (binaries in build/bin). Extra arguments go to the configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja "$@"
cmake --build build -j "$(nproc)"
