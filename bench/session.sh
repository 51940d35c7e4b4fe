# Sourced by the benchmarks that run the helper against the simulator: a work folder, the simulator, a
# private session bus and a home of their own, all gone at exit (with the helper whose pid is in helper_pid).
# Expects `bin` (the folder of the built programs).
work=$(mktemp -d)
sim_pid="" helper_pid="" bus_pid=""
cleanup() {
    for pid in $helper_pid $sim_pid $bus_pid; do kill -TERM "$pid" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Starts the simulator with the given options; sets port and base_url.
start_simulator() {
    "$bin/folvane3-addon-sim" "$@" > "$work/sim.out" &
    sim_pid=$!
    # A large seed takes the simulator a while to load: wait as long as it runs.
    until grep -qs '^READY ' "$work/sim.out"; do
        kill -0 "$sim_pid" 2> /dev/null || { echo "the simulator ended before it was ready" >&2; exit 1; }
        sleep 0.05
    done
    read -r _ port base_url < "$work/sim.out"
}

# A private session bus, and the benchmark's own home, support folder and mount root.
start_private_session() {
    read -r bus_address bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -s -d ' ')
    export DBUS_SESSION_BUS_ADDRESS=$bus_address HOME=$work/home XDG_DATA_HOME=$work/home/data
    export FOLVANE_MOUNT_ROOT=$work/mnt
}
