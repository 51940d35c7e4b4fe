#!/usr/bin/env bash
# How many requests the kernel sends the volume for each step of the small-file and large-file rows, per
# file (or per MiB), counted by opcode with the kernel's fuse:fuse_request_send tracepoint (perf, as root).
# Counts do not depend on the machine's load, so they show what a change to the volume removed. Run after
# the build (BUILD_DIR, default build); CACHING=0 counts with "Enable caching" off.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
caching=${CACHING:-1} files=${FILES:-200}

work=$(mktemp -d)
mounter_pid=""
cleanup() {
    set +e
    [ -n "$mounter_pid" ] && kill -TERM "$mounter_pid" 2> /dev/null && wait "$mounter_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT
source bench/volume_mounter.sh
start_volume "$work/mirror" "$work/volume" "$caching"
mkdir "$work/volume/small"
connection=$(stat -c %d "$work/volume")

# Each step runs alone under the tracepoint, filtered to this volume's connection.
count() {
    local step=$1 per=$2
    perf record -q -e fuse:fuse_request_send --filter "connection == $connection" -a -o "$work/trace" -- \
        /usr/bin/python3 -c "$3" "$work/volume" "$files" 2> /dev/null > /dev/null
    perf script -i "$work/trace" 2> /dev/null |
        sed -n 's/.*opcode [0-9]* (FUSE_\([A-Z_0-9]*\)).*/\1/p' | sort | uniq -c |
        awk -v step="$step" -v per="$per" '
            { total += $1; line = line sprintf(" %s %.2f", tolower($2), $1 / per) }
            END { printf "%-34s %5.2f requests:%s\n", step, total / per, line }'
}

names='import os, sys; folder = os.path.join(sys.argv[1], "small"); names = [os.path.join(folder, "f%05d.html" % i) for i in range(int(sys.argv[2]))]'
count "create + write + close, per file" "$files" "$names
for name in names:
    fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644); os.write(fd, b'<p>small</p>'); os.close(fd)"
count "stat after the write, per file" "$files" "$names
for name in names: os.stat(name)"
count "read it, per file" "$files" "$names
for name in names: open(name, 'rb', buffering=0).read()"
for time in again "once more"; do
    count "stat and read it $time, per file" "$files" "$names
for name in names: os.stat(name); open(name, 'rb', buffering=0).read()"
done
count "unlink, per file" "$files" "$names
for name in names: os.unlink(name)"
count "16 MiB in 1 MiB writes + fsync, per MiB" 16 'import os, sys
fd = os.open(os.path.join(sys.argv[1], "big.bin"), os.O_WRONLY | os.O_CREAT, 0o644)
for _ in range(16): os.write(fd, b"x" * (1 << 20))
os.fsync(fd); os.close(fd)'
