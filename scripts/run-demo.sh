#!/usr/bin/env bash
# Starts the simulator's demo site (ExpressionEngine, or WordPress with --wp) and the helper on it. It says
# where the site is mounted and what each upload came to; -v shows the helper's whole log.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
cms=ee
tag=ExpressionEngine
title="Demo Site"
verbose=0
for arg in "$@"; do
    case "$arg" in
    --wp) cms=wp; tag=Wordpress; title="Demo WordPress" ;;
    -v | --verbose) verbose=1 ;;
    *) echo "usage: $0 [--wp] [-v|--verbose]" >&2; exit 2 ;;
    esac
done

sim_out=$(mktemp)
helper_log=$(mktemp)
"$bin/folvane3-addon-sim" --cms "$cms" > "$sim_out" &
sim_pid=$!
helper_pid=""
uploads_pid=""
cleanup() {
    [ -n "$helper_pid" ] && kill -TERM "$helper_pid" 2>/dev/null && wait "$helper_pid" 2>/dev/null
    [ -n "$uploads_pid" ] && kill -TERM "$uploads_pid" 2>/dev/null && wait "$uploads_pid" 2>/dev/null
    kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -f "$sim_out" "$helper_log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do grep -q '^READY ' "$sim_out" && break; sleep 0.1; done
read -r _ port base_url < "$sim_out"
echo "Demo add-on running at $base_url (user admin, password password)"

base_folder="${XDG_DATA_HOME:-$HOME/.local/share}/Folvane 3"
# The helper's log goes to a file, where the mount path is picked up, and with -v to the terminal too.
helper=("$bin/folvane3-fuse-helper" --args -admin_url "$base_url" -login admin -pass -
    "$base_folder" "$title" 0 0 1 1 0 "http://127.0.0.1:$port" "$tag")
if [ "$verbose" = 1 ]; then
    echo password | "${helper[@]}" > >(tee "$helper_log") 2>&1 &
else
    echo password | "${helper[@]}" > "$helper_log" 2>&1 &
fi
helper_pid=$!
until grep -q '^Mounted at ' "$helper_log"; do
    kill -0 "$helper_pid" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q '^Mounted at ' "$helper_log"; then
    # Why the helper ended is in the last lines of its log.
    [ "$verbose" = 1 ] || tail -n 20 "$helper_log" >&2
    wait "$helper_pid"
    exit
fi
volume=$(sed -n 's/^Mounted at //p' "$helper_log")
echo "Demo site mounted at $volume (Ctrl-C ends the demo and unmounts it)"
if [ "$verbose" = 0 ]; then
    echo "Each upload is shown here; -v shows the helper's whole log."
    # One line per upload the site answered ("Saved news/index.html", "Could not save …: <the reason>"),
    # and one per save that found the template changed on the site too.
    tail -n +1 -f --pid="$helper_pid" "$helper_log" |
        grep --line-buffered -E '^(Saved |Could not save |Changed on the site too: )' &
    uploads_pid=$!
fi

# Someone else edits the site (through the add-on, as the CMS's own editor would), then the helper is
# asked to refresh, as the application's refresh button does.
change_site_and_refresh() {
    local round=$1 picked
    picked=$(curl -s "http://127.0.0.1:$port/_sim/state" | /usr/bin/python3 -c '
import json, sys
t = next(t for t in json.load(sys.stdin)["templates"] if t["path"].endswith((".html", ".php")))
print(t["group_id"], t["id"], t["path"])')
    read -r group_id template_id path <<< "$picked"
    local text="Changed on the site ($round) at $(date +%T)"
    local action="&m=update_template_data"
    [ "$cms" = wp ] && action="/update_template_data"
    curl -s -o /dev/null --data-urlencode "template_group_id=$group_id" --data-urlencode "template_id=$template_id" \
        --data-urlencode "template_data=$(printf '%s\n' "$text" | base64 -w 0)" "$base_url$action"
    echo "The site's $path now reads: $text"
    gdbus emit --session --object-path /org/folvane/Bus --signal org.folvane.Bus.Notification \
        "refresh-$title" "{'row': <int32 $round>}" > /dev/null
    for _ in $(seq 100); do
        [ "$(cat "$volume$path" 2> /dev/null)" = "$text" ] && break
        sleep 0.1
    done
    echo "After the refresh the volume's $path reads: $(cat "$volume$path")"
}
# Someone else edits a template with the CMS's own editor, and then the user saves the same file here: the
# helper finds the site's text changed before its save goes, keeps it in the recovery folder and says so.
change_site_then_save() {
    local round=$1 path
    path=$(curl -s "http://127.0.0.1:$port/_sim/state" | /usr/bin/python3 -c '
import json, sys
print(next(t for t in json.load(sys.stdin)["templates"] if t["path"].endswith((".html", ".php")))["path"])')
    curl -s -o /dev/null -H 'Content-Type: application/json' \
        --data "{\"path\": \"$path\", \"content\": \"Their change ($round) made in the CMS\\n\"}" \
        "http://127.0.0.1:$port/_sim/edit"
    echo "Someone changed $path on the site; now it is saved here too"
    echo "My change ($round) at $(date +%T)" >> "$volume$path"
    for _ in $(seq 100); do
        grep -q "^Changed on the site too: $path" "$helper_log" && break
        sleep 0.1
    done
    echo "The site's version was kept in: $(sed -n "s|^Changed on the site too: $path; the site's version is kept in ||p" "$helper_log" | tail -n 1)"
}
if [ -t 0 ]; then
    echo "Press Enter to change a template on the site and refresh the volume;"
    echo "type s and Enter to change it on the site and then save it here (both versions are kept)."
    round=0
    while kill -0 "$helper_pid" 2> /dev/null; do
        if read -r -t 1 answer; then
            round=$((round + 1))
            if [ "$answer" = s ]; then change_site_then_save "$round"; else change_site_and_refresh "$round"; fi
        fi
    done
fi
wait "$helper_pid"
