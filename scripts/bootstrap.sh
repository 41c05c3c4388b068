#!/usr/bin/env bash
# Installs the Debian packages the project needs.
#   bootstrap.sh run   only what building and running the agent and its demo
#                      need (scripts/run.sh)
#   bootstrap.sh       that, and everything the tests, the checks CI runs, the
#                      benchmarks and coverage need; and the locales the tests use
# Idempotent and non-interactive: it only calls apt-get or localedef when
# something is missing.
set -euo pipefail

# Building and running the agent and the demo.
run_packages=(
  build-essential cmake ninja-build pkg-config  # the build
  qt6-base-dev libgl-dev                         # Qt 6 Widgets, Network, Test (with the
                                                 # offscreen and X11 platforms)
  libcurl4-openssl-dev                           # the downloader's HTTP engine
  qtkeychain-qt6-dev libsecret-1-0               # the desktop's keyring (QtKeychain loads
                                                 # libsecret for the Secret Service)
  xvfb                                           # the demo's agent without a display
)
# The tests, the checks CI runs, the benchmark and coverage.
check_packages=(
  nginx-light curl openssl                       # real HTTP(S) servers for tests, the benchmark
  tinyproxy                                      # a real HTTP proxy for the downloader's tests
  dbus-daemon gnome-keyring libsecret-tools      # a real keyring on a private session bus
  xauth                                          # xvfb-run: tests on a virtual display
  dpkg-dev file                                  # the package's dependencies (dpkg-shlibdeps)
  desktop-file-utils appstream lintian           # checks of the desktop entry, metainfo, package
  devscripts                                     # hardening-check of the packaged program
  locales                                        # decimal-comma locales for the text tests
  clang libclang-rt-14-dev                       # the fuzz targets (libFuzzer)
  g++-mingw-w64-x86-64-posix                     # the Windows compile check
  gcovr                                          # line coverage of the suite
  wget aria2                                     # the benchmark's other downloaders
  iproute2 iputils-ping                          # the benchmark's private networks and
                                                 # their calibration
)
# The C library formats numbers with a decimal comma only under a locale
# that is generated on the machine.
locales=(es_ES de_DE)

case "${1:-all}" in
  run) packages=("${run_packages[@]}") locales=() ;;
  all) packages=("${run_packages[@]}" "${check_packages[@]}") ;;
  *) echo "usage: bootstrap.sh [run]" >&2; exit 2 ;;
esac

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "bootstrap: run as root or install sudo" >&2; exit 1; }
  sudo="sudo"
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq </dev/null
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

for locale in ${locales[@]+"${locales[@]}"}; do
  if ! locale -a 2>/dev/null | grep -qx "$locale.utf8"; then
    echo "bootstrap: generating $locale.UTF-8"
    $sudo localedef -i "$locale" -c -f UTF-8 "$locale.UTF-8" || true
    locale -a | grep -qx "$locale.utf8" || { echo "bootstrap: cannot generate $locale.UTF-8" >&2; exit 1; }
  fi
done
