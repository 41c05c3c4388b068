#!/bin/sh
# Runs a command on a private session bus with GNOME Keyring's Secret Service,
# unlocked, in a throw-away home. The home is set before the bus starts, or
# the bus would start a keyring of the real home that asks for its password;
# without a display, an unlock question fails at once instead of waiting.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/runtime"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
  XDG_RUNTIME_DIR="$home/runtime"
unset DISPLAY WAYLAND_DISPLAY
dbus-run-session -- sh -c '
  echo keyring-password | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  for attempt in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q true && break
    sleep 0.1
  done
  "$@"' keyringsession "$@"
