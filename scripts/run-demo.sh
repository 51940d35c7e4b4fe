#!/usr/bin/env bash
# Starts the simulator's demo site (ExpressionEngine, or WordPress with --wp) and the helper on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
cms=ee
tag=ExpressionEngine
title="Demo Site"
if [ "${1:-}" = "--wp" ]; then cms=wp; tag=Wordpress; title="Demo WordPress"; fi

sim_out=$(mktemp)
helper_log=$(mktemp)
"$bin/folvane3-addon-sim" --cms "$cms" > "$sim_out" &
sim_pid=$!
helper_pid=""
cleanup() {
    [ -n "$helper_pid" ] && kill -TERM "$helper_pid" 2>/dev/null && wait "$helper_pid" 2>/dev/null
    kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -f "$sim_out" "$helper_log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do grep -q '^READY ' "$sim_out" && break; sleep 0.1; done
read -r _ port base_url < "$sim_out"
echo "Demo add-on running at $base_url (user admin, password password)"

base_folder="${XDG_DATA_HOME:-$HOME/.local/share}/Folvane 3"
# The helper's log goes to the terminal and to a file, where the mount path is picked up.
echo password | "$bin/folvane3-fuse-helper" --args -admin_url "$base_url" -login admin -pass - \
    "$base_folder" "$title" 0 0 1 1 0 "http://127.0.0.1:$port" "$tag" > >(tee "$helper_log") 2>&1 &
helper_pid=$!
until grep -q '^Mounted at ' "$helper_log"; do
    kill -0 "$helper_pid" 2>/dev/null || break
    sleep 0.1
done
if grep -q '^Mounted at ' "$helper_log"; then
    echo "Demo site mounted at $(sed -n 's/^Mounted at //p' "$helper_log") (Ctrl-C ends the demo and unmounts it)"
fi
wait "$helper_pid"
