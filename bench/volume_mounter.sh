# Sourced by the benchmarks that measure the volume without a site behind it. Expects `work` (a folder
# removed at exit) and `build` (the build folder); `start_volume MIRROR MOUNT_POINT CACHING [BUILD]` compiles
# bench/volume_mounter.cpp against the libraries of BUILD (default `build`; an earlier commit's build measures
# that volume), mounts the volume and sets `mounter_pid`. Its log goes to a file, as the helper's does.
start_volume() {
    local from=${4:-$build} name tree
    name=$work/mounter-$(basename "$2")
    tree=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$from/CMakeCache.txt")
    # shellcheck disable=SC2046
    g++ -std=c++20 -O2 -fPIC -I"$tree/common" -I"$tree/helper" -I"$from/generated" \
        $(pkg-config --cflags Qt6Core Qt6DBus) bench/volume_mounter.cpp -o "$name" \
        "$from/helper/libfolvane-helper-fs.a" "$from/common/libfolvane-common.a" \
        $(pkg-config --libs Qt6Core Qt6DBus Qt6Network fuse3)
    mkdir -p "$1"
    "$name" "$1" "$2" "$3" > "$name.out" 2> "$name.log" &
    mounter_pid=$!
    until grep -qs "^MOUNTED" "$name.out"; do
        kill -0 "$mounter_pid" 2> /dev/null || { cat "$name.log"; exit 1; }
        sleep 0.05
    done
}
