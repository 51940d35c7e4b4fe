#!/usr/bin/env bash
# A mutation sample: small hand-written faults in the product, applied one at a time, to show that the
# tests still catch them. For each fault the script rebuilds, runs the tests that cover that module and
# records whether any of them failed ("caught") or all passed ("missed"). A fault whose original text is
# not found exactly once is "not applicable" (the code has changed since it was written) and not counted.
#
#   scripts/mutants.sh [-o FILE] [-k REGEX] [-r REV] [-n]
#     -o FILE    also write the report to FILE
#     -r REV     test the files of commit REV instead of the worktree's (e.g. the suite before a change)
#     -k REGEX   only the mutants whose id matches REGEX (e.g. -k '^sync')
#     -n         only say which mutants apply to the worktree as it is; build and run nothing
#
# The worktree is never modified: its files (committed or not, ignoring what .gitignore ignores) are copied
# into build-mutants/src ($FOLVANE_MUTANTS_DIR/src), built in its build/ folder with ccache, so a run with the
# same product costs mostly cache hits (two runs over different suites may go side by side in two folders). Each fault is undone before the next, also on Ctrl-C or failure.
# A mutant that does not build is reported as such and not counted.
# Runs under nice (niceness 10, or $FOLVANE_MUTANT_NICE) with at most two jobs ($FOLVANE_MUTANT_JOBS).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=
only=.
dry=
revision=
while getopts o:k:r:n option; do
    case $option in
    r) revision=$OPTARG ;;
    n) dry=1 ;;
    o) out=$OPTARG ;;
    k) only=$OPTARG ;;
    *) sed -n '2,18p' "$0" >&2; exit 2 ;;
    esac
done
jobs=${FOLVANE_MUTANT_JOBS:-2}
niceness=${FOLVANE_MUTANT_NICE:-10}
scratch=${FOLVANE_MUTANTS_DIR:-$root/build-mutants}
src=$scratch/src
build=$src/build
export CCACHE_DIR=${CCACHE_DIR:-/work/ccache} CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_NOHASHDIR=1

# The tests that cover each module: its unit tests and the end-to-end tests that drive it most directly
# (the slow random end-to-end runs left out, so that a whole run stays within the better part of an hour).
sync_tests='^unit\.([A-Za-z]+/)?(SyncEngineTest|RequestScheduler|ChangeOrder)\.|^e2e\.([A-Za-z]+/)?FolderSync\.'
fs_tests='^unit\.([A-Za-z]+/)?(Volume|UncachedVolume|VolumeMount)\.|^e2e\.([A-Za-z]+/)?(VolumeLifecycle|VolumeMount)\.'
tree_tests='^unit\.([A-Za-z]+/)?(MirrorBuilder|RecordTree|TemplateListSpool|ContentDigest|StableHash|Paths|SyncEngineTest)\.|^e2e\.([A-Za-z]+/)?(HelperStartup|HostileAnswers)\.'
addon_tests='^unit\.([A-Za-z]+/)?(FormEncoding|HelperCommandLine|HttpClient[A-Za-z]*|AddonUrls|CmsTag)\.|^e2e\.([A-Za-z]+/)?(AddonOperations[A-Za-z]*|HelperStartup)\.'
core_tests='^unit\.([A-Za-z]+/)?(SiteListMerge|Stores|SiteRecord|ConnectionCheckRules|ConnectionControlRules|PropertyLists)\.|^e2e\.([A-Za-z]+/)?(SiteStore|AppCli)\.|^gui\.(site_list|site_editor)_test$'
cli_tests='^unit\.([A-Za-z]+/)?(CommandLineSyntax|Stores|SiteRecord)\.|^e2e\.AppCli\.'
# What those tests need built (the end-to-end programs bring the three programs they run).
sync_targets='unit_sync_engine_test unit_request_scheduler_test unit_change_order_test e2e_folder_sync_test'
fs_targets='unit_loopback_fs_test e2e_volume_lifecycle_test'
tree_targets='unit_mirror_builder_test unit_common_rules_test unit_sync_engine_test e2e_helper_startup_test
    e2e_hostile_answers_test'
addon_targets='unit_addon_form_encoding_test unit_addon_helper_command_line_test unit_addon_http_client_test
    unit_addon_urls_test e2e_addon_operations_test e2e_helper_startup_test'
core_targets='unit_app_stores_test unit_app_site_record_test unit_app_connection_rules_test
    unit_app_property_list_test e2e_app_site_store_test e2e_app_cli_test gui_site_list_test gui_site_editor_test'
cli_targets='unit_app_connection_rules_test unit_app_stores_test unit_app_site_record_test e2e_app_cli_test'

# id @@ file @@ original text @@ replacement @@ tests. Modules take turns, so that a run cut short is still a
# sample of all of them. Texts are Python string literals (escapes allowed).
mutants=$(
    cat <<'EOF'
sync-settled-inverted @@ helper/sync/ChangeOrder.cpp @@ "if (made < order && path.startsWith(folder + u'/'))" @@ "if (made > order && path.startsWith(folder + u'/'))" @@ sync
fs-mkdir-wrong-event @@ helper/fs/LoopbackFS.cpp @@ "fs().report(&VolumeEvents::folderMade, path);" @@ "fs().report(&VolumeEvents::folderRemoved, path);" @@ fs
tree-name-max-off-by-one @@ helper/tree/SafeName.cpp @@ "name.toUtf8().size() <= nameMax" @@ "name.toUtf8().size() < nameMax" @@ tree
addon-form-order-inverted @@ common/addon/FormEncoding.cpp @@ "return a.first < b.first;" @@ "return a.first > b.first;" @@ addon
core-same-entry-ignores-user @@ app/core/SiteListManager.cpp @@ "a.dirtyURL == b.dirtyURL && a.login == b.login;" @@ "a.dirtyURL == b.dirtyURL;" @@ core
cli-own-title-refused @@ app/cli/SiteCommands.cpp @@ "if (sameTitle >= 0 && sameTitle != position)" @@ "if (sameTitle >= 0)" @@ cli
sync-unchanged-inverted @@ helper/sync/TemplateFiles.cpp @@ "if (item.confirmed == digest)" @@ "if (item.confirmed != digest)" @@ sync
fs-exchange-is-move @@ helper/fs/LoopbackFS.cpp @@ "if (flags & RENAME_EXCHANGE)" @@ "if (false)" @@ fs
tree-dotdot-allowed @@ helper/tree/SafeName.cpp @@ " && name != QLatin1String(\"..\")" @@ "" @@ tree
addon-move-urls-swapped @@ common/addon/AddonUrls.cpp @@ "action(\"move_template_group\"),\n            action(\"move_template\")}" @@ "action(\"move_template\"),\n            action(\"move_template_group\")}" @@ addon
core-remove-wrong-index @@ app/core/SiteListManager.cpp @@ "current.erase(current.begin() + at);" @@ "current.erase(current.begin());" @@ core
cli-user-not-required @@ app/cli/SiteCommands.cpp @@ "if (!title || !url || !user) {" @@ "if (!title || !url) {" @@ cli
sync-rename-during-create-dropped @@ helper/sync/TemplateRequests.cpp @@ "    if (item.path != item.sitePath)\n        move(key, item.sitePath, item.path);\n" @@ "" @@ sync
fs-move-swapped @@ helper/fs/LoopbackFS.cpp @@ "fs().events_.moved(source, destination);" @@ "fs().events_.moved(destination, source);" @@ fs
tree-partials-wrong-group @@ helper/tree/MirrorBuilder.cpp @@ "*textID == QLatin1String(\"snippets\") ? QStringLiteral(\"Partials\")" @@ "*textID == QLatin1String(\"variables\") ? QStringLiteral(\"Partials\")" @@ tree
addon-query-off-by-one @@ common/addon/AddonUrls.cpp @@ "url.indexOf(u'?') + 1;" @@ "url.indexOf(u'?');" @@ addon
core-https-prefix-off-by-one @@ app/core/BaseWebsite.cpp @@ "return QStringLiteral(\"http://www.\") + text.mid(8);" @@ "return QStringLiteral(\"http://www.\") + text.mid(7);" @@ core
cli-pref-value-inverted @@ app/cli/PrefsCommands.cpp @@ "changePreference(*title, on ? 1 : 0)" @@ "changePreference(*title, on ? 0 : 1)" @@ cli
sync-update-ids-swapped @@ helper/sync/TemplateFiles.cpp @@ "client_.updateTemplate(item.groupID, item.templateID," @@ "client_.updateTemplate(item.templateID, item.groupID," @@ sync
fs-truncate-unreported @@ helper/fs/LoopbackFS.cpp @@ "size));\n        if (result == 0)\n            fs().report(&VolumeEvents::fileWritten, path);" @@ "size));" @@ fs
tree-ee-special-inverted @@ helper/tree/MirrorBuilder.cpp @@ "if (group.id.is_number_integer() && group.isSpecial) {" @@ "if (group.id.is_number_integer() && !group.isSpecial) {" @@ tree
addon-caching-wrong-position @@ common/addon/HelperCommandLine.cpp @@ "parsed.caching = textBoolValue(args.at(13));" @@ "parsed.caching = textBoolValue(args.at(12));" @@ addon
core-duplicate-needs-both @@ app/core/BaseWebsite.cpp @@ "return isTitleInList(other) || isURLInList(other);" @@ "return isTitleInList(other) && isURLInList(other);" @@ core
cli-pref-filter-inverted @@ app/cli/PrefsCommands.cpp @@ "if (only && title != *only)" @@ "if (only && title == *only)" @@ cli
sync-delete-during-create-lost @@ helper/sync/TemplateRequests.cpp @@ "if (!item->onSite && !(item->creating && queue_.hasPending(item->key))) {" @@ "if (!item->onSite) {" @@ sync
fs-open-truncate-inverted @@ helper/fs/LoopbackFS.cpp @@ "if ((fi->flags & O_TRUNC) && forWriting(fi))" @@ "if ((fi->flags & O_TRUNC) && !forWriting(fi))" @@ fs
tree-depth-off-by-one @@ helper/tree/MirrorBuilder.cpp @@ "if (depth > maxDepth) {" @@ "if (depth >= maxDepth) {" @@ tree
addon-argument-count-off-by-one @@ common/addon/HelperCommandLine.cpp @@ "if (args.size() < count + 1) {" @@ "if (args.size() < count) {" @@ addon
core-refusal-order-swapped @@ app/core/ConnectionCheck.cpp @@ "    if (disabled)\n        return LoggingInError::saveTemplatesTurnedOn;\n    if (timedOut)\n        return LoggingInError::timedOut;\n" @@ "    if (timedOut)\n        return LoggingInError::timedOut;\n    if (disabled)\n        return LoggingInError::saveTemplatesTurnedOn;\n" @@ core
cli-option-value-off-by-one @@ app/cli/CommandLine.cpp @@ "i + 1 >= arguments.size()" @@ "i + 2 >= arguments.size()" @@ cli
sync-group-rename-inverted @@ helper/sync/TemplateGroups.cpp @@ "if (parentOf(source) == parentOf(destination))" @@ "if (parentOf(source) != parentOf(destination))" @@ sync
fs-remove-wrong-kind @@ helper/fs/VolumeEventQueue.cpp @@ "return to.fileRemoved(event.path);" @@ "return to.folderRemoved(event.path);" @@ fs
tree-subtree-takes-look-alikes @@ helper/tree/RecordTree.cpp @@ "const QString prefix = path + u'/';" @@ "const QString prefix = path;" @@ tree
addon-cut-short-missed @@ common/addon/HttpClient.cpp @@ "received < length.toLongLong();" @@ "received <= length.toLongLong();" @@ addon
core-out-of-date-inverted @@ app/core/ConnectionCheck.cpp @@ "compareVersions(*wanted, *version) > 0)" @@ "compareVersions(*wanted, *version) < 0)" @@ core
cli-dash-is-option @@ app/cli/CommandLine.cpp @@ " || argument == QStringLiteral(\"-\")" @@ "" @@ cli
sync-group-delete-does-not-wait @@ helper/sync/TemplateGroups.cpp @@ "return !settleBelow.isEmpty() && order_.waitForFileRequests(order, settleBelow, whenFree);" @@ "return false;" @@ sync
EOF
)

# Copies the worktree (or the commit asked for) into the scratch source folder, modification times kept so
# that an unchanged file is not rebuilt, and removes files it no longer has.
sync_sources() {
    mkdir -p "$src"
    find "$src" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
    if [[ -n $revision ]]; then
        git archive "$revision" | tar -xf - -C "$src"
        return
    fi
    git ls-files -z --cached --others --exclude-standard |
        (while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done) |
        tar --null -T - -cf - | tar -xf - -C "$src"
}

# Applies (apply) or undoes (undo) one mutant to the scratch copy; apply prints "ok" or "n/a".
edit() {
    python3 - "$@" <<'EOF'
import ast, os, pathlib, sys
action, path, original, replacement = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3], sys.argv[4]
backup = path.with_name(path.name + ".mutant-original")
if action == "undo":
    if backup.exists():
        backup.replace(path)
        os.utime(path)  # newer than the mutant's objects, or the build would keep them
    sys.exit(0)
original, replacement = ast.literal_eval(original.strip()), ast.literal_eval(replacement.strip())
text = path.read_text() if path.exists() else ""
if text.count(original) != 1:
    print("n/a")
    sys.exit(0)
if action == "check":
    print("ok")
    sys.exit(0)
backup.write_text(text)
path.write_text(text.replace(original, replacement))
print("ok")
EOF
}

current_file=
restore() {
    if [[ -n $current_file ]]; then
        edit undo "$src/$current_file" '' ''
        current_file=
    fi
}
trap 'restore' EXIT
trap 'restore; exit 130' INT TERM

# Builds the given targets (word-split lists).
build_quietly() {
    # shellcheck disable=SC2068
    nice -n "$niceness" cmake --build "$build" -j "$jobs" --target $@ >"$scratch/build.log" 2>&1
}
# Everything the chosen mutants' tests need.
all_targets=$(
    while IFS= read -r line; do
        id=${line%% @@ *} module=${line##* @@ }
        if [[ $id =~ $only ]]; then echo "${module}_targets"; fi
    done <<<"$mutants" | sort -u | while read -r name; do echo "${!name}"; done
)

if [[ -n $dry ]]; then
    separator=$'\x1f'
    while IFS=$separator read -r id file original replacement tests; do
        [[ $id =~ $only ]] && printf '%-36s %s\n' "$id" "$(edit check "$file" "$original" "$replacement")"
    done <<<"${mutants// @@ /$separator}"
    exit 0
fi
sync_sources
# Every file a mutant changes is newer than its objects, so that one left by an interrupted run is rebuilt.
while IFS= read -r line; do
    file=${line#* @@ } file=${file%% @@ *}
    touch "$src/$file"
done <<<"$mutants"
nice -n "$niceness" cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$scratch/configure.log"
build_quietly $all_targets || { echo "the unchanged product does not build: see $scratch/build.log" >&2; exit 1; }

report=$scratch/report.txt
: >"$report"
caught=0 missed=0 inapplicable=0 broken=0
started=$(date +%s)
separator=$'\x1f'
while IFS=$separator read -r id file original replacement tests; do
    [[ $id =~ $only ]] || continue
    regex_name=${tests}_tests targets_name=${tests}_targets
    regex=${!regex_name} targets=${!targets_name}
    applied=$(edit apply "$src/$file" "$original" "$replacement")
    if [[ $applied != ok ]]; then
        outcome="not applicable"
        inapplicable=$((inapplicable + 1))
    else
        current_file=$file
        if ! build_quietly $targets; then
            outcome="does not build"
            broken=$((broken + 1))
        elif nice -n "$niceness" ctest --test-dir "$build" -R "$regex" -j "$jobs" --timeout 300 --no-tests=error \
            --stop-on-failure >"$scratch/ctest-$id.log" 2>&1; then
            outcome=missed
            missed=$((missed + 1))
        else
            outcome="caught by $(awk '/\*\*\*(Failed|Exception|Timeout)/ { print $4; exit }' "$scratch/ctest-$id.log")"
            caught=$((caught + 1))
        fi
        restore
    fi
    printf '%-36s %-34s %s\n' "$id" "$file" "$outcome" | tee -a "$report"
done <<<"${mutants// @@ /$separator}"
build_quietly $all_targets || true
minutes=$((($(date +%s) - started + 59) / 60))
summary="caught $caught of $((caught + missed)) (not applicable: $inapplicable, not building: $broken) in $minutes min"
echo "$summary" | tee -a "$report"
[[ -z $out ]] || cp "$report" "$out"
