#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a user gets: the programs start from there
# with an empty home, the application finds its helper next to itself, and the desktop entry is valid. Then
# builds the Debian package and checks its dependencies.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "check_install: $*" >&2; exit 1; }

for program in folvane3 folvane3-fuse-helper folvane3-addon-sim; do
    [ -x "$prefix/bin/$program" ] || fail "$program is not installed in bin"
done
desktop="$prefix/share/applications/folvane3.desktop"
[ -f "$desktop" ] || fail "the desktop entry is not installed"
[ -f "$prefix/share/icons/hicolor/scalable/apps/folvane3.svg" ] || fail "the icon is not installed"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
grep -qx 'MimeType=x-scheme-handler/folvane;' "$desktop" || fail "the desktop entry does not take folvane:// links"
grep -qx 'Exec=folvane3 %u' "$desktop" || fail "the desktop entry does not pass the link on"

page="$prefix/share/man/man1/folvane3.1"
[ -f "$page" ] || fail "the manual page is not installed"
warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
rendered="$(MANWIDTH=80 man -l "$page" 2>/dev/null)"
for command in "sites add" "connect TITLE" "status" "eject TITLE" "EXIT STATUS"; do
    grep -q "$command" <<<"$rendered" || fail "the manual page does not show \"$command\""
done
completion="$prefix/share/bash-completion/completions/folvane3"
[ -f "$completion" ] || fail "the bash completion is not installed"

# A new user: nothing in the home folder yet, no display, no desktop session.
home="$work/home"
mkdir -p "$home"
run() {
    env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen "$@"
}
run "$prefix/bin/folvane3" --help | grep -q '^usage: folvane3' || fail "folvane3 --help does not print the usage"
run "$prefix/bin/folvane3" prefs get >/dev/null || fail "folvane3 prefs get fails for a new user"
run "$prefix/bin/folvane3" eject --help | grep -q '^usage: folvane3 .*eject TITLE' ||
    fail "folvane3 eject --help does not print its usage"
# Completion offers the commands, a command's options and the site titles (escaped for the shell).
complete_line() {
    run bash -c 'PATH="$1:$PATH"; source "$2"; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
                 _folvane3; printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/bin" "$completion" "$@"
}
[ "$(complete_line folvane3 ej)" = eject ] || fail "completion does not offer eject"
[ "$(complete_line folvane3 status --j)" = --json ] || fail "completion does not offer status --json"
# An empty password line stores none, so no Secret Service is needed.
printf '\n' | run "$prefix/bin/folvane3" sites add --title "My Site" --url http://localhost:1 --user a \
    >/dev/null 2>&1 || fail "folvane3 sites add fails for a new user"
[ "$(complete_line folvane3 eject My)" = 'My\ Site' ] || fail "completion does not offer the site titles"
[ "$(complete_line folvane3 -v prefs set caching o)" = $'on\noff' ] || fail "completion does not offer on|off"
[ -f "$home/.local/share/Folvane 3/preferences.plist" ] || fail "a first start does not create the preferences"
# The application starts the helper that sits next to it; without arguments it prints its usage.
helper_usage="$(run "$prefix/bin/folvane3-fuse-helper" 2>&1 || true)"
[ -n "$helper_usage" ] || fail "the installed helper does not run"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
package="$(ls "$work"/deb/folvane3_*.deb)"
depends="$(dpkg-deb -f "$package" Depends)"
for needed in fuse3 libqt6core6 libqt6widgets6 libfuse3-3; do
    grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "the package does not depend on $needed: $depends"
done
echo "check_install: ok"
