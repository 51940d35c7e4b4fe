#!/usr/bin/env bash
# The mirror tree built from a large "list_all" answer (10,000 templates in 200 groups, about 20 MB),
# served by the simulator, against `tar -x` of the same tree; and the helper's peak memory for it.
# Prints:  tree-build/tar ratio, and the helper's peak RSS in MB. Run after the build (build/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${FOLVANE_BIN_DIR:-build/bin}
groups=${GROUPS_COUNT:-200} templates=${TEMPLATES_PER_GROUP:-50} size=${TEMPLATE_BYTES:-2000} runs=${RUNS:-3}

source bench/session.sh
/usr/bin/python3 bench/make_tree_seed.py "$groups" "$templates" "$size" "$work/seed.json"
start_simulator --seed "$work/seed.json"
start_private_session

now() { date +%s.%N; }
less() { [ "$(echo "$1 < $2" | bc)" = 1 ]; }
# The simulator's own time to produce the 27 MB answer, which no add-on-free baseline pays.
best_answer=""
for _ in 1 2 3; do
    t=$(curl -s -o /dev/null -w '%{time_total}' "$base_url&m=list_all")
    if [ -z "$best_answer" ] || less "$t" "$best_answer"; then best_answer=$t; fi
done
best_helper="" best_tar="" peak_kb=0
for run in $(seq "$runs"); do
    log=$work/helper-$run.log
    sync
    start=$(now)
    echo password | "$bin/folvane3-fuse-helper" --args -admin_url "$base_url" -login admin -pass - \
        "$work/base" "Bench" 0 0 0 1 0 "http://127.0.0.1:$port" ExpressionEngine > "$log" 2>&1 &
    helper_pid=$!
    until grep -q 'templates in ' "$log"; do
        kill -0 "$helper_pid" 2>/dev/null || { cat "$log"; exit 1; }
        sleep 0.01
    done
    elapsed=$(echo "$(now) - $start" | bc)
    kb=$(awk '/VmHWM/ {print $2}' "/proc/$helper_pid/status")
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
    mirror=$(sed -n 's/.*templates in //p' "$log")
    tar -C "$mirror" -cf "$work/tree.tar" .
    kill -TERM "$helper_pid"; wait "$helper_pid" || true; helper_pid=""

    mkdir "$work/untar"
    sync
    start=$(now)
    tar -C "$work/untar" -xf "$work/tree.tar"
    elapsed_tar=$(echo "$(now) - $start" | bc)
    rm -rf "$work/untar"
    if [ -z "$best_helper" ] || less "$elapsed" "$best_helper"; then best_helper=$elapsed; fi
    if [ -z "$best_tar" ] || less "$elapsed_tar" "$best_tar"; then best_tar=$elapsed_tar; fi
    echo "run $run: helper ${elapsed}s (start, login, download, build), tar -x ${elapsed_tar}s" >&2
done
files=$(tar -tf "$work/tree.tar" | grep -c '\.html$')
echo "tree: $files templates, $(du -sb "$work/seed.json" | cut -f1) bytes of seed (best of $runs runs)"
printf 'tree-build/tar ratio: %.2f (goal <= 1.5)\n' "$(echo "$best_helper / $best_tar" | bc -l)"
printf 'tree-build/tar ratio without the simulator producing its answer (%.2fs): %.2f\n' "$best_answer" \
    "$(echo "($best_helper - $best_answer) / $best_tar" | bc -l)"
printf 'helper peak RSS: %.1f MB (goal <= 80)\n' "$(echo "$peak_kb / 1024" | bc -l)"
