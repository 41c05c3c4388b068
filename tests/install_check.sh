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

# hardening-check finds nothing missing ("unknown" means nothing needed it).
# Two readings of "no" are no fault of the build and pass only as explained:
# - no fortified calls: the unchecked calls must be those the package's
#   lintian overrides name (or copies, which both tools discount);
# - no control-flow protection: the C library's start files lack it (Debian
#   12's do), and every object of the program's own carries it.
hardened() {
  local report line
  report=$(hardening-check -v "$1") || true
  while IFS= read -r line; do
    case "$line" in
      "$1:" | *": yes"* | $'\t'* | " Stack clash protection: unknown"*) ;;
      " Fortify Source functions: unknown, no protectable libc functions used") ;;
      " Fortify Source functions: no, only unprotected functions found!")
        ! grep $'^\tunprotected: ' <<<"$report" | grep -q -v -E ': (read|pread|memcpy|memmove|memset)$' ||
          return 1 ;;
      " Control flow integrity: no"*) startfileswithoutcet && objectswithcet || return 1 ;;
      *) return 1 ;;
    esac
  done <<<"$report"
}
startfileswithoutcet() {
  ! readelf -n "$(c++ -print-file-name=crti.o)" | grep -q "IBT, SHSTK"
}
objectswithcet() {
  local objects=("$build/src/libquillharbor_core.a" "$build"/src/CMakeFiles/quillharbor.dir/app/*.o)
  [ "$(readelf -n "${objects[@]}" | grep -c "^File:")" = \
    "$(readelf -n "${objects[@]}" | grep -c "IBT, SHSTK")" ]
}
expected=(bin/quillharbor share/applications/quillharbor.desktop share/metainfo/quillharbor.metainfo.xml
          share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/quillharbor.png
          share/man/man1/quillharbor.1.gz share/doc/quillharbor/{copyright,changelog.gz}
          share/lintian/overrides/quillharbor)

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in "${expected[@]}"; do
  [ -f "$work/prefix/$file" ] || fail "not installed: $file"
done
[ -x "$work/prefix/bin/quillharbor" ] || fail "not executable"
! command -v desktop-file-validate >/dev/null ||
  desktop-file-validate "$work/prefix/share/applications/quillharbor.desktop"
if command -v appstreamcli >/dev/null; then
  # The component id is the desktop entry's name, not a reversed domain name.
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
  hints=$(lintian -I --fail-on error,warning "$package" 2>/dev/null) ||
    fail "lintian: errors or warnings: $hints"
  # Nor these notes: the program is hardened and stripped as Debian's own are.
  ! grep -E "hardening-no-bindnow|hardening-no-fortify-functions|binary-has-unneeded-section" \
    <<<"$hints" || fail "lintian: the notes above"
fi
# One licence everywhere: LICENSE's holders and terms are the package's
# (Debian's name for them is Expat), and the metainfo names the same, MIT.
copyright="$work/root/usr/share/doc/quillharbor/copyright"
licence=$(dirname "$0")/../LICENSE
terms() { sed -n '/Permission is hereby granted/,$p' "$1" | sed -E 's/^ +//; /^\.$/d' | tr -s ' \n' '  '; }
holders=$(sed -n 's/^Copyright (c) //p' "$licence")
grep -qx "Copyright: $holders" "$copyright" && grep -qx "License: Expat" "$copyright" &&
  [ "$(terms "$copyright")" = "$(terms "$licence")" ] || fail "the copyright file is not LICENSE's"
grep -q "<project_license>MIT</project_license>" "$work/root/usr/share/metainfo/quillharbor.metainfo.xml" ||
  fail "the metainfo does not name the licence MIT"

packaged="$work/root/usr/bin/quillharbor"
! readelf -S "$packaged" | grep -q '\.comment' || fail "the packaged program keeps its .comment section"
! command -v hardening-check >/dev/null || hardened "$packaged" ||
  fail "hardening-check: $(hardening-check -v "$packaged")"

# The packaged program starts, and a termination request ends it the clean
# way, which writes its settings beside it.
QT_QPA_PLATFORM=offscreen "$packaged" >/dev/null 2>&1 &
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
