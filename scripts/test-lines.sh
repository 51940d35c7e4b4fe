#!/usr/bin/env bash
# Non-blank lines of the product and of its tests, as committed (git ls-files), and the tests' share.
#   product: common/ helper/ app/ tools/addon-sim/src
#   tests:   tests/ fuzz/ tools/addon-sim/tests
set -euo pipefail
cd "$(dirname "$0")/.."
# Tracked files as they are in the worktree (a file deleted there counts no more).
count() {
    git ls-files -z -- "$@" | (while IFS= read -r -d '' f; do [[ -f $f ]] && cat -- "$f"; done) |
        grep -acv '^[[:space:]]*$'
}
product=$(count common helper app tools/addon-sim/src)
tests=$(count tests fuzz tools/addon-sim/tests)
awk -v p="$product" -v t="$tests" \
    'BEGIN { printf "product %d  tests %d  tests/(product+tests) %.3f\n", p, t, t / (p + t) }'
