#!/usr/bin/env bash
# Mounts the volume twice (caching on and off) and bindfs --no-allow-other, each over a folder of its own,
# and runs posix_compare.py against a native folder. Argument: the volume mounter program.
set -euo pipefail
mounter=$1
work=$(mktemp -d /tmp/folvane-posix-XXXXXX)
pids=() mounts=()
cleanup() {
    set +e
    for mount in "${mounts[@]}"; do fusermount3 -uz "$mount" 2> /dev/null; done
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2> /dev/null && wait "$pid" 2> /dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/native"
for caching in 1 0; do
    mkdir -p "$work/mirror$caching"
    "$mounter" "$work/mirror$caching" "$work/volume$caching" "$caching" > "$work/mounter$caching.out" \
        2> /dev/null &
    pids+=($!)
    until grep -qs "^MOUNTED" "$work/mounter$caching.out"; do
        kill -0 "${pids[-1]}" 2> /dev/null || { echo "the volume did not mount" >&2; exit 1; }
        sleep 0.05
    done
done
places=("native=$work/native" "volume=$work/volume1" "volume-uncached=$work/volume0")
if command -v bindfs > /dev/null; then
    mkdir -p "$work/bound" "$work/bindfs"
    bindfs --no-allow-other "$work/bound" "$work/bindfs"
    mounts+=("$work/bindfs")
    places+=("bindfs=$work/bindfs")
fi
python3 "$(dirname "$0")/posix_compare.py" "${places[@]}"
