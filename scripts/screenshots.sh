#!/usr/bin/env bash
# Remakes the pictures of the main window in docs/: the start-up test, run on
# a virtual X display, shows a demo download in English and in Spanish and
# keeps a picture of each.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_BUILD_DIR:-$top/build}

bash "$top/scripts/bootstrap.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel --target tst_startup
rm -f "$build"/tests/screenshots/xcb-demo-*.png
(cd "$build" && ctest -R '^tst_startup_xvfb$' --output-on-failure </dev/null)
mkdir -p "$top/docs"
for language in en es; do
  cp "$build/tests/screenshots/xcb-demo-$language.png" "$top/docs/quillharbor-$language.png"
  echo "docs/quillharbor-$language.png"
done
