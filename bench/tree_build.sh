#!/usr/bin/env bash
# Connecting to a large site: 100,000 templates in 500 groups (about 200 MB of templates) served by the
# simulator. The helper's start (login, download of "list_all", mirror build, mount) against what any
# program would pay for the same data: curl of the answer to a file plus `tar -x` of the same tree.
# Also the helper's peak memory during the start, and during a refresh of the connected site (the peak
# counted afresh from the refresh's request). Prints each against its goal, best and median of RUNS
# runs, and per run where the time went: the simulator's wait before the list's first byte (paid by curl
# too), the build, the refresh's download and rebuild, the helper's end (which removes the mirror), curl and
# tar apart. The helper's log of each run, each line stamped with the time, stays in $TREE_BUILD_LOGS when
# set. Run after the build (build/bin). GROUPS_COUNT, TEMPLATES_PER_GROUP, TEMPLATE_BYTES size the site.
# PROFILE=file records the helper with `perf record -g` into that file during the first run's connect.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${FOLVANE_BIN_DIR:-build/bin}
groups=${GROUPS_COUNT:-500} templates=${TEMPLATES_PER_GROUP:-200} size=${TEMPLATE_BYTES:-2000} runs=${RUNS:-3}

source bench/session.sh
/usr/bin/python3 bench/make_tree_seed.py "$groups" "$templates" "$size" "$work/seed.json"
start_simulator --seed "$work/seed.json"
start_private_session

now() { date +%s.%N; }
since() { echo "$(now) - $1" | bc; }
# Seconds between the first lines of the log matching each pair of patterns.
phases() {
    awk -v pairs="$2" 'BEGIN { n = split(pairs, p, "|") }
        { for (i = 1; i <= n; i++) if (!(i in at) && $0 ~ p[i]) at[i] = $1 }
        END { for (i = 1; i < n; i += 2) printf "%.1f ", at[i + 1] - at[i]; print "" }' "$1"
}
connects=() baselines=() peaks=() refresh_peaks=()
for run in $(seq "$runs"); do
    log=$work/helper-$run.log mount_point=$FOLVANE_MOUNT_ROOT/Bench
    sync
    start=$(now)
    echo password | "$bin/folvane3-fuse-helper" --args -admin_url "$base_url" -login admin -pass - \
        "$work/base" "Bench" 0 0 0 1 0 "http://127.0.0.1:$port" ExpressionEngine \
        > >(perl -MTime::HiRes=time -ne '$| = 1; printf "%.3f %s", time, $_' > "$log") 2>&1 &
    helper_pid=$!
    perf_pid=""
    if [ -n "${PROFILE:-}" ] && [ "$run" = 1 ]; then
        perf record -g -o "$PROFILE" -p "$helper_pid" 2> /dev/null &
        perf_pid=$!
    fi
    until grep -q " $mount_point fuse" /proc/mounts; do
        kill -0 "$helper_pid" 2> /dev/null || { tail -5 "$log"; exit 1; }
        sleep 0.01
    done
    connects+=("$(since "$start")")
    # The helper's own processor time (user and system) until it mounted: what a busy machine does not change.
    cpu=$(awk '{printf "%.1f", ($14 + $15) / 100}' "/proc/$helper_pid/stat")
    [ -z "$perf_pid" ] || { kill -INT "$perf_pid" && wait "$perf_pid" || true; }
    peaks+=("$(awk '/VmHWM/ {print $2}' "/proc/$helper_pid/status")")
    # The helper listens for a refresh once its mount is announced.
    until grep -q "Got didMount notification" "$log"; do
        kill -0 "$helper_pid" 2> /dev/null || { tail -5 "$log"; exit 1; }
        sleep 0.01
    done
    echo 5 > "/proc/$helper_pid/clear_refs" # the peak is counted again from here
    start=$(now)
    kept=$(/usr/bin/python3 bench/refresh_site.py Bench)
    refresh_time=$(since "$start")
    [ -z "$kept" ] || { echo "the refresh kept the volume: $kept" >&2; exit 1; }
    refresh_peaks+=("$(awk '/VmHWM/ {print $2}' "/proc/$helper_pid/status")")
    mirror=$(sed -n 's/.*templates in //p' "$log")
    tar -C "$mirror" -cf "$work/tree.tar" .
    start=$(now)
    kill -TERM "$helper_pid"
    wait "$helper_pid" || true
    helper_pid="" ending=$(since "$start")
    read -r first_byte build refresh_list rebuild < <(phases "$log" \
        "Requesting templates|usedPath|usedPath|Found .* templates|refresh-Bench|reparsing|reparsing|Checking for new")
    [ -z "${TREE_BUILD_LOGS:-}" ] || { mkdir -p "$TREE_BUILD_LOGS" && cp "$log" "$TREE_BUILD_LOGS/"; }

    # ext4 without a journal does not reuse an inode freed recently (about a minute, longer while its inode
    # table block is dirty, which new files make it): each new file skips them, so a tree created where one
    # was just removed pays for it, more with every removal. The baseline is extracted where the
    # helper's mirror was, just removed, as each later connect builds where the last `tar -x` was removed.
    [ ! -e "$mirror" ] || { echo "the helper left its mirror $mirror" >&2; exit 1; }
    mkdir "$mirror"
    sync
    start=$(now)
    curl_first=$(curl -s -o "$work/answer.json" -w '%{time_starttransfer}' "$base_url&m=list_all")
    curl_time=$(since "$start")
    tar -C "$mirror" -xf "$work/tree.tar"
    baselines+=("$(since "$start")")
    rm -rf "$mirror" "$work/answer.json"
    echo "run $run: connect ${connects[-1]}s (first byte ${first_byte}s, build ${build}s, helper cpu ${cpu}s)," \
        "curl + tar -x ${baselines[-1]}s (curl ${curl_time}s, its first byte ${curl_first}s), peak ${peaks[-1]} kB," \
        "refresh ${refresh_time}s (list ${refresh_list}s, rebuild ${rebuild}s), refresh peak" \
        "${refresh_peaks[-1]} kB, end ${ending}s" >&2
done
files=$(tar -tf "$work/tree.tar" | grep -c '\.html$')
echo "site: $files templates, $(du -sb "$work/seed.json" | cut -f1) bytes of seed ($runs runs)"
/usr/bin/python3 - "${connects[*]}" "${baselines[*]}" "${peaks[*]}" "${refresh_peaks[*]}" << 'PY'
import statistics, sys
connects, baselines, peaks, refresh_peaks = ([float(v) for v in arg.split()] for arg in sys.argv[1:])
best, median = min(connects) / min(baselines), statistics.median(connects) / statistics.median(baselines)
print("connect / (curl + tar -x)     best %5.2f  median %5.2f  (goal <= 1.30) %s"
      % (best, median, "ok" if best <= 1.3 else "ABOVE GOAL"))
for label, kb in (("helper peak memory", peaks), ("helper peak memory, refresh", refresh_peaks)):
    mb = [p / 1024 for p in kb]
    print("%-29s best %5.0f MB  median %5.0f MB  (goal <= 150 MB) %s"
          % (label, min(mb), statistics.median(mb), "ok" if min(mb) <= 150 else "ABOVE GOAL"))
PY
