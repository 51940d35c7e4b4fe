#!/usr/bin/env bash
# Installs what is needed, builds, starts the add-on simulator's demo site and connects the helper to it.
# Ctrl-C ends both.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    # No desktop session here: give the demo a private session bus of its own.
    exec dbus-run-session -- bash scripts/run-demo.sh "$@"
fi
exec bash scripts/run-demo.sh "$@"
