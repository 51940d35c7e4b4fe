#!/usr/bin/env bash
# Saving a 1 MiB template on the volume in 4 KiB blocks, against the simulator over real HTTP:
#   - bytes uploaded / bytes saved (the site gets the whole file once, not once per block);
#   - the time from the last write until the site holds the content, as a ratio to the 300 ms quiet
#     period: once with `dd bs=4k` (the file is closed at the end, so the upload goes at once) and once
#     with a writer that keeps the file open (the upload waits for the quiet period);
#   - the same time (dd) with "Check the site before each save" on, as a ratio to it with the check off:
#     the check fetches the template before the save goes (goal <= 1.5). The preference is switched in the
#     support folder's preferences.plist, which the helper reads at each save.
# Best of RUNS runs each. Run after the build (build/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${FOLVANE_BIN_DIR:-build/bin}
runs=${RUNS:-3}
quiet_ms=300

source bench/session.sh
start_simulator --cms ee
start_private_session

echo password | "$bin/folvane3-fuse-helper" --args -admin_url "$base_url" -login admin -pass - \
    "$work/base" "Upload Bench" 0 0 0 1 0 "http://127.0.0.1:$port" ExpressionEngine > "$work/helper.log" 2>&1 &
helper_pid=$!
until grep -q '^Mounted at ' "$work/helper.log"; do
    kill -0 "$helper_pid" 2> /dev/null || { cat "$work/helper.log"; exit 1; }
    sleep 0.05
done
volume=$(sed -n 's/^Mounted at //p' "$work/helper.log")

/usr/bin/python3 - "$volume" "$port" "$runs" "$quiet_ms" "$work/base" << 'EOF'
import base64, json, os, plistlib, subprocess, sys, tempfile, time, urllib.request

volume, port, runs, quiet_ms, support = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
control = f"http://127.0.0.1:{port}/_sim/"
target = os.path.join(volume, "news", "index.html")
block, size = 4096, 1 << 20

def sim(path, body=None):
    request = urllib.request.Request(control + path, data=body, method="POST" if body is not None else "GET")
    with urllib.request.urlopen(request) as answer:
        return json.loads(answer.read() or b"null")

def site_holds(content):
    for template in sim("state")["templates"]:
        if template["path"] == "/news/index.html":
            return base64.b64decode(template["data"]) == content
    return False

def wait_for_site(content, since):
    deadline = time.monotonic() + 60
    while not site_holds(content):
        if time.monotonic() > deadline:
            sys.exit("the site never got the content")
        time.sleep(0.005)
    return time.monotonic() - since

def uploaded_bytes():
    return sum(len(entry.get("content") or "") for entry in sim("log")
               if entry.get("action") == "update_template_data")

def content_for(run, kind):
    text = base64.b64encode(os.urandom(size))[:size - 32]
    return (f"{kind} run {run:03d}\n".encode() + text).ljust(size, b"\n")[:size]

def with_dd(content):
    with tempfile.NamedTemporaryFile() as source:
        source.write(content)
        source.flush()
        subprocess.run(["dd", f"if={source.name}", f"of={target}", "bs=4k", "status=none"], check=True)
        return time.monotonic()

def held_open(content):
    f = os.open(target, os.O_WRONLY | os.O_TRUNC)
    try:
        for offset in range(0, size, block):
            os.write(f, content[offset:offset + block])
        last_write = time.monotonic()
        took = wait_for_site(content, last_write)
    finally:
        os.close(f)
    return took

def check_site(on):
    with open(os.path.join(support, "preferences.plist.new"), "wb") as f:
        plistlib.dump({"Check the site before each save": int(on)}, f, fmt=plistlib.FMT_BINARY)
    os.replace(os.path.join(support, "preferences.plist.new"), os.path.join(support, "preferences.plist"))

def fetches():
    return sum(1 for entry in sim("log") if entry.get("action") == "get_template")

results = {"dd": [], "open": [], "unchecked": [], "checked": []}
checks = {"unchecked": [], "checked": []}
ratios = []
for run in range(runs):
    content = content_for(run, "dd")
    sim("log/clear", b"")
    results["dd"].append(wait_for_site(content, with_dd(content)))
    time.sleep(0.5)  # nothing more goes out after the content arrived
    ratios.append(uploaded_bytes() / size)
    content = content_for(run, "open")
    sim("log/clear", b"")
    results["open"].append(held_open(content))
    time.sleep(0.5)
    ratios.append(uploaded_bytes() / size)
    print(f"run {run + 1}: dd {results['dd'][-1] * 1000:.0f} ms, held open {results['open'][-1] * 1000:.0f} ms, "
          f"uploaded {ratios[-2]:.2f}x and {ratios[-1]:.2f}x of the file", file=sys.stderr)
    # Check off and on, in turn, so that both meet the same machine.
    for kind in ("unchecked", "checked"):
        check_site(kind == "checked")
        content = content_for(run, kind)
        sim("log/clear", b"")
        results[kind].append(wait_for_site(content, with_dd(content)))
        time.sleep(0.5)
        checks[kind].append(fetches())
    print(f"run {run + 1}: check off {results['unchecked'][-1] * 1000:.0f} ms, "
          f"check on {results['checked'][-1] * 1000:.0f} ms", file=sys.stderr)

quiet = quiet_ms / 1000
print(f"bytes uploaded/bytes saved: {max(ratios):.2f} (worst of {len(ratios)} saves; goal <= 1.1; "
      f"an upload of the whole file at each 4 KiB block would be about {size // block // 2}x)")
print(f"last write to site, file closed (dd bs=4k), / quiet period: {min(results['dd']) / quiet:.2f}")
print(f"last write to site, file kept open, / quiet period: {min(results['open']) / quiet:.2f}")
if max(checks["unchecked"]) != 0 or min(checks["checked"]) < 1:
    sys.exit(f"expected fetches before checked saves only: {checks}")
print(f"last write to site, check on / check off (dd bs=4k): "
      f"{min(results['checked']) / min(results['unchecked']):.2f} (goal <= 1.5; "
      f"fetches per checked save: {max(checks['checked'])})")
EOF
