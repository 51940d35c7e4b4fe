#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test (unit and end-to-end) with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 600 "$@"
