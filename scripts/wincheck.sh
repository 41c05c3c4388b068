#!/usr/bin/env bash
# Checks that the Windows side compiles: every source file of the agent and of
# the reference server goes through Debian's MinGW-w64 C++ compiler against
# the installed Qt headers, syntax only. That compiler defines the Windows
# macros, so the Q_OS_WIN branches are the ones checked. Qt's headers are
# system headers here (their Linux configuration gives a warning or two under
# MinGW); any error fails the check.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_WINCHECK_DIR:-$top/build-wincheck}

bash "$top/scripts/bootstrap.sh"
compiler=x86_64-w64-mingw32-g++-posix
qt=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)

# Only for the generated config.h (version, server host, website).
cmake -S "$top" -B "$build" -G Ninja -DQUILLHARBOR_BUILD_TESTS=OFF >/dev/null

# curl's headers are the same on Windows, but Debian keeps them among the
# Linux-only multiarch headers: a copy of them alone goes on the path. So is
# QtKeychain's header, which declares the same jobs on every system.
rm -rf "$build/include"
mkdir -p "$build/include"
cp -r "$(pkg-config --variable=includedir libcurl)/curl" "$build/include/"
cp -r /usr/include/qt6keychain "$build/include/"

flags=(-fsyntax-only -std=c++20 -Wall -Wextra
       -DUNICODE -D_UNICODE # as Qt's CMake support sets them for Windows targets
       -I"$top/src" -I"$top/tools/refserver" -I"$build/generated" -isystem "$qt"
       -isystem "$build/include")
for module in QtCore QtGui QtWidgets QtNetwork; do flags+=(-isystem "$qt/$module"); done

cd "$top"
# The screenshots tool is built with the tests, which run on Linux only.
mapfile -t sources < <(find src tools/refserver -name '*.cpp' | sort)
log="$build/wincheck.log"
# Two files at a time; each file's messages are kept together in the log.
printf '%s\n' "${sources[@]}" |
  xargs -P 2 -I{} sh -c 'out=$("$0" "$@" {} 2>&1); status=$?; [ -z "$out" ] || printf "%s\n" "$out"; [ $status -eq 0 ] || { echo "wincheck: {} FAILED"; exit 1; }' \
    "$compiler" "${flags[@]}" >"$log" 2>&1 && ok=1 || ok=0
cat "$log"
if [ $ok -eq 1 ]; then
  echo "wincheck: ${#sources[@]} files compile for Windows"
else
  echo "wincheck: errors above" >&2
  exit 1
fi
