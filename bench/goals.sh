#!/usr/bin/env bash
# Every row of the volume's goals in one command: the volume against native and bindfs, then connecting
# to a 100,000-template site against curl + tar. Run after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash bench/volume_io.sh
bash bench/tree_build.sh
