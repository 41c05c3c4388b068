#!/usr/bin/env bash
# Remakes the pictures of the main window in docs/: the screenshots tool, run
# on a virtual X display, shows a demo download in English and in Spanish and
# keeps a picture of each.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_BUILD_DIR:-$top/build}

bash "$top/scripts/bootstrap.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel --target screenshots
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$top/docs"
# A fixed English locale, a home of its own and no session bus, as for the
# tests: the demo account stays out of the desktop's keyring.
env -u DBUS_SESSION_BUS_ADDRESS HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home \
  LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 LANGUAGE=en_US QT_QPA_PLATFORM=xcb \
  xvfb-run -a "$build/tests/quillharbor-screenshots" "$top/docs"
