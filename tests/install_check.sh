#!/usr/bin/env bash
# Installs into a temporary prefix and builds the Debian package; both must
# hold the executable, the desktop entry and the icon.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected=(bin/quillharbor share/applications/quillharbor.desktop
          share/icons/hicolor/256x256/apps/quillharbor.png)

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in "${expected[@]}"; do
  [ -f "$work/prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
[ -x "$work/prefix/bin/quillharbor" ] || { echo "not executable"; exit 1; }
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$work/prefix/share/applications/quillharbor.desktop"
fi

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
package=$(ls "$work"/package/quillharbor_*.deb)
contents=$(dpkg-deb -c "$package")
for file in "${expected[@]}"; do
  grep -q "\./usr/$file\$" <<<"$contents" || { echo "not packaged: $file"; exit 1; }
done
echo "installed and packaged: ${expected[*]}"
