#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the checks CI runs, the
# benchmark and the agent need. Idempotent and non-interactive: it only calls
# apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config  # the build
  qt6-base-dev libgl-dev                         # Qt 6 Widgets, Network, Test
  qt6-qpa-plugins                                # offscreen and X11 platforms
  nginx-light curl                               # a real HTTP server for tests, the benchmark
  xvfb xauth                                     # running the window without a display
  desktop-file-utils                             # checks the desktop entry
  clang libclang-rt-14-dev                       # the fuzz targets (libFuzzer)
  g++-mingw-w64-x86-64-posix                     # the Windows compile check
  gcovr                                          # line coverage of the suite
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "bootstrap: run as root or install sudo" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq </dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
