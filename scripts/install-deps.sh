#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Folvane 3.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools
    libfuse3-dev fuse3 libsecret-1-dev libplist-dev libplist++-dev nlohmann-json3-dev libcpp-httplib-dev
    libssl-dev libgtest-dev libgmock-dev
    dbus dbus-daemon gnome-keyring python3 python3-dbus python3-gi
    vim-tiny rsync libglib2.0-bin bc curl openssl bindfs
    xvfb fonts-dejavu-core
    packagekit polkitd desktop-file-utils man-db
)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
