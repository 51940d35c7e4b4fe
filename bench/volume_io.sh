#!/usr/bin/env bash
# The site's volume against the mirror folder it serves (native) and against bindfs over the same folder,
# in one run on this machine, one row per goal: sequential write of 256 MiB with fsync, sequential read of
# it with the page cache warm, create + stat + unlink of 10,000 small files, 4 workers stat-ing and
# reading 10,000 small files, and a 4 KiB random read/write mix (fio). Rounds alternate between the
# places; each row prints the ratio of the best and of the median of RUNS rounds against its goal. Run
# after the build (BUILD_DIR, default build): it compiles a small program against the build's libraries.
# Installs bindfs and fio when missing. CACHING=0 measures the volume with "Enable caching" off. ROWS picks
# rows by number (e.g. ROWS="3 4" reruns the two metadata rows); PROFILE=file records the volume's serving
# process with `perf record -g` into that file while the rows run. EARLIER_BUILD=dir adds the volume of another
# build (an earlier commit's, built there) over the same folder, and each row then prints the volume against it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
runs=${RUNS:-3} caching=${CACHING:-1} rows=${ROWS:-1 2 3 4 5} profile=${PROFILE:-} earlier=${EARLIER_BUILD:-}

for tool in bindfs fio; do
    command -v "$tool" > /dev/null && continue
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$tool" > /dev/null 2>&1 ||
        { apt-get update -q > /dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$tool" > /dev/null; }
done

work=$(mktemp -d)
mounter_pid="" earlier_pid="" bindfs_mount="" perf_pid=""
# Every step runs whatever the one before returned (a process's exit status must not end the cleanup).
cleanup() {
    set +e
    [ -n "$perf_pid" ] && kill -INT "$perf_pid" 2> /dev/null && wait "$perf_pid" 2> /dev/null
    [ -n "$bindfs_mount" ] && fusermount3 -uz "$bindfs_mount" 2> /dev/null
    for pid in $mounter_pid $earlier_pid; do kill -TERM "$pid" 2> /dev/null && wait "$pid" 2> /dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
source bench/volume_mounter.sh

mirror=$work/mirror volume=$work/volume bindfs_mount=$work/bindfs
mkdir -p "$mirror" "$bindfs_mount"
if [ -n "$earlier" ]; then
    start_volume "$mirror" "$work/earlier" "$caching" "$earlier"
    earlier_pid=$mounter_pid
fi
start_volume "$mirror" "$volume" "$caching"
bindfs "$mirror" "$bindfs_mount"
if [ -n "$profile" ]; then
    perf record -g -o "$profile" -p "$mounter_pid" 2> /dev/null &
    perf_pid=$!
fi

/usr/bin/python3 - "$runs" "$mirror" "$volume" "$bindfs_mount" "$rows" "${earlier:+$work/earlier}" << 'EOF'
import json, os, statistics, subprocess, sys, time

runs = int(sys.argv[1])
wanted = {int(row) for row in sys.argv[5].split()}
places = {"native": sys.argv[2], "volume": sys.argv[3], "bindfs": sys.argv[4]}
if sys.argv[6]:
    places["earlier"] = sys.argv[6]
chunk = b"\xa5" * (1 << 20)
size_mib, files, workers = 256, 10_000, 4

# Rounds alternate between the places, so that each sees the same state of the disk (a filesystem
# creates files more slowly right after many were deleted), and each round starts at the next place (what
# ran just before, a warm read of another copy of the same file say, changes the next one's rate). Each
# measure returns a rate (higher is better).
def rounds(measure):
    rates, order = {place: [] for place in places}, list(places.items())
    for run in range(runs):
        for place, folder in order[run % len(order):] + order[:run % len(order)]:
            rates[place].append(measure(folder))
    return rates

def timed(action):
    start = time.perf_counter()
    action()
    return 1 / (time.perf_counter() - start)

# Each place writes a new file, removed again outside the timing: the mirror's filesystem may discard freed
# blocks at once, and truncating the last round's file would time that instead.
def write(folder, name="written.bin"):
    def action():
        fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        for _ in range(size_mib):
            os.write(fd, chunk)
        os.fsync(fd)
        os.close(fd)
    rate = timed(action)
    if name == "written.bin":
        os.remove(os.path.join(folder, name))
    return rate

def read(folder):
    if not os.path.exists(os.path.join(places["native"], "big.bin")):
        write(places["native"], "big.bin")
    buffer = bytearray(1 << 20)
    def action():
        with open(os.path.join(folder, "big.bin"), "rb", buffering=0) as f:
            while f.readinto(buffer):
                pass
    action()  # warms the page cache
    return timed(lambda: [action() for _ in range(4)])

def metadata(folder):
    folder = os.path.join(folder, "small")
    os.makedirs(folder, exist_ok=True)
    names = [os.path.join(folder, "f%05d.html" % i) for i in range(files)]
    def action():
        for name in names:
            fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
            os.write(fd, b"<p>small</p>\n")
            os.close(fd)
        for name in names:
            os.stat(name)
        for name in names:
            os.unlink(name)
    return timed(action)

many = "many"
native_many = os.path.join(places["native"], many)
os.makedirs(native_many, exist_ok=True)
for i in range(files):
    with open(os.path.join(native_many, "t%05d.html" % i), "wb") as f:
        f.write(b"<p>template %d</p>\n" % i * 20)

# Four processes share the files; the time runs from their common start until the last one is done.
def parallel(folder):
    names = [os.path.join(folder, many, "t%05d.html" % i) for i in range(files)]
    go_read, go_write = os.pipe()
    children = []
    for w in range(workers):
        pid = os.fork()
        if pid == 0:
            os.close(go_write)
            os.read(go_read, 1)
            for name in names[w::workers]:
                os.stat(name)
                with open(name, "rb", buffering=0) as f:
                    f.read()
            os._exit(0)
        children.append(pid)
    os.close(go_read)
    def action():
        os.close(go_write)
        for pid in children:
            os.waitpid(pid, 0)
    return timed(action)

def fio(folder):
    out = subprocess.run(["fio", "--name=mix", "--directory=" + folder, "--rw=randrw", "--rwmixread=70",
                          "--bs=4k", "--size=64M", "--ioengine=psync", "--runtime=4", "--time_based",
                          "--output-format=json"], check=True, capture_output=True, text=True).stdout
    job = json.loads(out)["jobs"][0]
    for name in os.listdir(folder):
        if name.startswith("mix."):
            os.remove(os.path.join(folder, name))
    return job["read"]["iops"] + job["write"]["iops"]

rows = (
    ("write 256 MiB + fsync", write, (("native", 0.90), ("bindfs", 2.0))),
    ("read 256 MiB, warm", read, (("native", 0.95),)),
    ("10,000 create+stat+unlink", metadata, (("native", 0.50), ("bindfs", 1.5))),
    ("4 workers stat+read 10,000", parallel, (("native", 0.70),)),
    ("4 KiB random r/w mix (fio)", fio, (("bindfs", 1.0),)),
)
def load():
    return "load %.2f" % os.getloadavg()[0]

# Each row is judged by its median; the table at the end is the note's copy of the run.
table = ["| Row | Goal | Volume median (best) | bindfs/native median |", "|---|---|---|---|"]
print("rounds: %d, %s at the start" % (runs, load()), flush=True)
for number, (title, measure, goals) in enumerate(rows, 1):
    if number not in wanted:
        continue
    rates = rounds(measure)
    bindfs = statistics.median(rates["bindfs"]) / statistics.median(rates["native"])
    for against, goal in goals + ((("earlier", 1.0),) if "earlier" in places else ()):
        best = max(rates["volume"]) / max(rates[against])
        median = statistics.median(rates["volume"]) / statistics.median(rates[against])
        verdict = "ok" if median >= goal else "BELOW GOAL"
        print("%-28s volume/%-6s median %5.2f  best %5.2f  (goal >= %.2f) %-10s  bindfs/native median %.2f  %s"
              % (title, against, median, best, goal, verdict, bindfs, load()), flush=True)
        table.append("| %s | >= %.2f x %s | %.2f (%.2f)%s | %.2f |" % (title, goal, against, median, best,
                                                                     "" if median >= goal else " below", bindfs))
print("\n".join(table))
print("rounds: %d, %s at the end" % (runs, load()))
if os.path.exists(os.path.join(places["native"], "big.bin")):
    os.remove(os.path.join(places["native"], "big.bin"))
EOF
