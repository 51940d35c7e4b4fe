#!/usr/bin/env bash
# Every row of the volume's goals in one command: the requests each small file and each MiB costs (counts,
# which do not depend on the load), the volume against native and bindfs (interleaved rounds, medians,
# the load with each row, a table at the end), then connecting to a 100,000-template site against
# curl + tar. Run after the build, as root (the counts use perf's tracepoints).
set -euo pipefail
cd "$(dirname "$0")/.."
bash bench/volume_requests.sh
bash bench/volume_io.sh
bash bench/tree_build.sh
