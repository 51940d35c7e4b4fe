#!/usr/bin/env bash
# Draws the README's screenshots afresh: runs the window tests, which write every window they draw into
# <build>/screenshots, and copies those the README shows into docs/screenshots. BUILD_DIR selects the build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
ctest --test-dir "$build" -R '^gui\.' --output-on-failure
grep -o 'docs/screenshots/[^)]*\.png' "$root/README.md" | sort -u | while read -r shown; do
    cp "$build/screenshots/$(basename "$shown")" "$root/$shown"
    echo "$shown"
done
