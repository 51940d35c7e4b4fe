# Sourced by the benchmarks that measure the volume without a site behind it. Expects `work` (a folder
# removed at exit) and `build` (the build folder); `start_volume MIRROR MOUNT_POINT CACHING` compiles
# bench/volume_mounter.cpp against the build's libraries, mounts the volume and sets `mounter_pid`. Its log
# goes to a file, as the helper's does.
start_volume() {
    # shellcheck disable=SC2046
    g++ -std=c++20 -O2 -fPIC -Icommon -Ihelper -I"$build/generated" $(pkg-config --cflags Qt6Core Qt6DBus) \
        bench/volume_mounter.cpp -o "$work/mounter" "$build/helper/libfolvane-helper-fs.a" \
        "$build/common/libfolvane-common.a" $(pkg-config --libs Qt6Core Qt6DBus Qt6Network fuse3)
    mkdir -p "$1"
    "$work/mounter" "$1" "$2" "$3" > "$work/mounter.out" 2> "$work/mounter.log" &
    mounter_pid=$!
    until grep -qs "^MOUNTED" "$work/mounter.out"; do
        kill -0 "$mounter_pid" 2> /dev/null || { cat "$work/mounter.log"; exit 1; }
        sleep 0.05
    done
}
