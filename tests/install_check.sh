#!/usr/bin/env bash
# Installs into a temporary prefix and builds the Debian package; both must
# hold every file below, the package must pass lintian (where installed)
# with its dependencies computed from the executable, and the program
# unpacked from it must start and shut down cleanly.
set -euo pipefail
build=$1
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
expected=(bin/quillharbor
          share/applications/quillharbor.desktop
          share/icons/hicolor/48x48/apps/quillharbor.png
          share/icons/hicolor/64x64/apps/quillharbor.png
          share/icons/hicolor/128x128/apps/quillharbor.png
          share/icons/hicolor/256x256/apps/quillharbor.png
          share/metainfo/quillharbor.metainfo.xml
          share/man/man1/quillharbor.1.gz
          share/doc/quillharbor/copyright
          share/doc/quillharbor/changelog.gz)

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in "${expected[@]}"; do
  [ -f "$work/prefix/$file" ] || fail "not installed: $file"
done
[ -x "$work/prefix/bin/quillharbor" ] || fail "not executable"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$work/prefix/share/applications/quillharbor.desktop"
fi
if command -v appstreamcli >/dev/null; then
  # The component id is the desktop entry's name, which task bars and the
  # start-at-login entry use too, rather than a reversed domain name.
  appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info \
    "$work/prefix/share/metainfo/quillharbor.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$work/prefix/share/metainfo/quillharbor.metainfo.xml"
fi

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
package=$(ls "$work"/package/quillharbor_*.deb)
contents=$(dpkg-deb -c "$package")
for file in "${expected[@]}"; do
  grep -q "\./usr/$file\$" <<<"$contents" || fail "not packaged: $file"
done

# Dependencies from the executable's libraries, nothing more.
depends=$(dpkg-deb -f "$package" Depends)
for library in libc6 libcurl4 libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6; do
  grep -q "\b$library (>= " <<<"$depends" || fail "no versioned dependency on $library: $depends"
done
! grep -q "qt6-qpa-plugins" <<<"$depends" || fail "needless dependency: $depends"
[ "$(dpkg-deb -f "$package" Description | wc -l)" -gt 3 ] || fail "no long description"
version=$(dpkg-deb -f "$package" Version)
mkdir "$work/root"
dpkg-deb -x "$package" "$work/root"
zcat "$work/root/usr/share/doc/quillharbor/changelog.gz" | head -n1 | grep -qF "quillharbor ($version)" ||
  fail "the changelog's newest entry is not $version"
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$package" 2>/dev/null || fail "lintian: errors or warnings"
fi

# The packaged program runs: it starts, and a termination request ends it
# the clean way, which writes its settings beside it.
exe="$work/root/usr/bin/quillharbor"
QT_QPA_PLATFORM=offscreen "$exe" >/dev/null 2>&1 &
pid=$!
handled() { # its SIGTERM handler is in place once its state is loaded
  local mask
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || return 1
  [ -n "$mask" ] && (((16#$mask >> 14) & 1))
}
for _ in $(seq 300); do handled && break; sleep 0.1; done
handled || fail "the packaged program did not start"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || fail "the packaged program ended with status $status"
[ -f "$work/root/usr/bin/vars.ini" ] || fail "the packaged program saved no settings"
echo "installed and packaged: ${expected[*]}"
