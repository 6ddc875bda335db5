#!/usr/bin/env bash
# Installs what is missing, builds Penrika and starts it on the current X display.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${run_packages[@]}"
build_penrika OFF
if [ -z "${DISPLAY:-}" ]; then
    echo "No X display (DISPLAY is not set): start Penrika from a desktop session: $build/penrika" >&2
    exit 1
fi
exec "$build/penrika"
