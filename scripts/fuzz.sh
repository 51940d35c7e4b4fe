#!/usr/bin/env bash
# The fuzz targets (fuzz/): libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, built by clang
# in build-fuzz/ (the normal build is left as it is).
#   scripts/fuzz.sh build                      configure build-fuzz/ and build every target
#   scripts/fuzz.sh run [SECONDS] [TARGET...]  run each target (default: all) in turn for SECONDS (default 60)
# A run starts from the seeds in fuzz/corpus/<target>/ and grows its corpus in build-fuzz/work/<target>/
# (never in the repository); scratch folders go to $FUZZ_SCRATCH (default /dev/shm). Inputs that crash,
# leak or hang are written to build-fuzz/findings/<target>/, the fuzzer's own output to
# build-fuzz/work/<target>.log; $FUZZ_ARGS adds libFuzzer options (e.g. -max_len=65536). One line per target
# tells the outcome; the exit status is 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz
targets_all=(mirror_builder lenient_json property_lists helper_command_line deep_link)

build_targets() {
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DFOLVANE_FUZZ=ON -DFOLVANE_BUILD_TESTS=OFF "${launcher[@]}"
    cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-2}" --target "${targets_all[@]/#/fuzz_}"
}

run_target() {
    local target=$1 seconds=$2
    local binary=$build/bin/fuzz_$target work=$build/work/$target findings=$build/findings/$target
    local log=$build/work/$target.log
    if [[ ! -x $binary ]]; then
        echo "$target: not built (run: scripts/fuzz.sh build)"
        return 1
    fi
    mkdir -p "$work" "$findings"
    # Scratch folders (the walker's mirrors) go to memory when it can: the target makes and removes a few
    # folders per input.
    local scratch=${FUZZ_SCRATCH:-/dev/shm}
    [[ -d $scratch && -w $scratch ]] || scratch=$build/work/tmp
    mkdir -p "$scratch"
    local status=0
    # The walker's log lines go to standard error: the fuzzer keeps its own report and drops the rest.
    TMPDIR=$scratch ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$binary" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=2 -timeout=25 \
        -rss_limit_mb=4096 -artifact_prefix="$findings/" ${FUZZ_ARGS:-} "$work" "$root/fuzz/corpus/$target" \
        >"$log" 2>&1 || status=$?
    local runs corpus found
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    corpus=$(find "$work" -type f | wc -l)
    found=$(find "$findings" -type f | wc -l)
    if ((status == 0 && found == 0)); then
        echo "$target: ok, ${seconds}s, ${runs:-0} runs, corpus $corpus inputs, nothing found"
    else
        echo "$target: FOUND something (exit $status), ${seconds}s, ${runs:-?} runs, corpus $corpus inputs;" \
            "inputs in $findings, output in $log"
        return 1
    fi
}

case ${1:-} in
build)
    build_targets
    ;;
run)
    shift
    seconds=60
    if [[ ${1:-} =~ ^[0-9]+$ ]]; then
        seconds=$1
        shift
    fi
    targets=("$@")
    ((${#targets[@]})) || targets=("${targets_all[@]}")
    failed=0
    for target in "${targets[@]}"; do
        run_target "$target" "$seconds" || failed=1
    done
    exit $failed
    ;;
*)
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
