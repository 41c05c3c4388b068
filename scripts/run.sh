#!/usr/bin/env bash
# Builds the agent and runs it against a demo server on this machine: the
# reference server with the account demo/demo and a few files to fetch.
# On a desktop the agent's window opens and you click Connect; without a
# display the agent runs on a virtual display of its own and logs in by
# itself. Either way, links typed at the server's prompt become files, and
# Ctrl-D (end of input) ends the demo.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_BUILD_DIR:-$top/build}
http_port=${QUILLHARBOR_DEMO_HTTP_PORT:-8080}

# Told before the build, which takes a while on a fresh machine.
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
  echo "run.sh: no display here: the agent will run on a virtual display (Xvfb) and log in by itself."
fi

bash "$top/scripts/bootstrap.sh" run
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel --target quillharbor quillharbor-server

# Files the demo server offers. The server sends them at a steady pace (about
# 16 MB/s), so the big one keeps the progress bar, rate and time left moving
# for a good quarter of a minute.
files="$build/demo-files"
mkdir -p "$files"
[ -f "$files/sample.bin" ] || head -c $((256 * 1024 * 1024)) /dev/urandom >"$files/sample.bin"
[ -f "$files/readme.txt" ] || echo "Fetched by Quillharbor from the demo server." >"$files/readme.txt"
downloads="$build/downloads"
mkdir -p "$downloads"

# The agent keeps its state beside its executable.
settings() { # user, password, folder, auto start: as the agent writes them
  printf 'user=demo\r\npass=demo\r\ndownloaddir=%s\r\nexternal1=0\r\numsg=1\r\nautostart=%s\r\n' \
    "$downloads" "$1"
}
scratch=$(mktemp -d)
agent="" xserver="" watcher=""
stop() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  if [ -n "$agent" ] && kill -TERM "$agent" 2>/dev/null; then
    # It saves its settings and spool on the way out.
    for _ in $(seq 50); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$agent" 2>/dev/null || true
  fi
  [ -n "$xserver" ] && kill "$xserver" 2>/dev/null
  rm -rf "$scratch"
  return 0
}
trap stop EXIT

if [ "$headless" = 1 ]; then
  # A copy of the program in a folder of its own, with the demo account and
  # auto start ticked: with no one to click Connect, it logs in at start. Auto
  # start also registers a start-at-login entry; that lands in a throw-away
  # configuration folder, not on this machine's desktop, and without the
  # session bus the demo password stays out of the desktop's keyring.
  home="$build/demo-agent"
  mkdir -p "$home"
  cp -f "$build/quillharbor" "$home/quillharbor"
  settings 1 >"$home/vars.ini"
  chmod 600 "$home/vars.ini"
  mkdir -p -m 700 "$scratch/config" "$scratch/runtime"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" \
    >"$scratch/xvfb.log" 2>&1 &
  xserver=$!
  for _ in $(seq 100); do grep -q . "$scratch/display" 2>/dev/null && break; sleep 0.1; done
  grep -q . "$scratch/display" || { echo "run.sh: Xvfb did not start:"; cat "$scratch/xvfb.log"; exit 1; }
  env -u DBUS_SESSION_BUS_ADDRESS DISPLAY=":$(head -n1 "$scratch/display")" QT_QPA_PLATFORM=xcb \
    XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime" "$home/quillharbor" >"$home/agent.log" 2>&1 &
  agent=$!
  connect="The agent (in $home, its messages in agent.log there) logs in as demo by itself."
else
  home="$build"
  if [ ! -f "$home/vars.ini" ]; then
    settings 0 >"$home/vars.ini"
    chmod 600 "$home/vars.ini"
  fi
  "$home/quillharbor" &
  agent=$!
  connect='In the agent'"'"'s window, click "Connect" (user demo, password demo).'
fi

# Answers every typed link: each "Saved" or "Not saved" line the agent logs
# is printed as it appears (in English or Spanish). tail ends with this script.
outcomes() {
  tail --pid=$$ -n 0 -F "$home/log.txt" 2>/dev/null | while IFS= read -r line; do
    case "$line" in
      *" : Saved : "* | *" : Not saved : "* | *" : Guardado : "* | *" : No guardado : "*)
        echo "run.sh: ${line%$'\r'}" ;;
    esac
  done
}
outcomes &
watcher=$!

cat <<TXT

Quillharbor demo
  1. $connect
  2. Type a link here and press Enter, for example:
       http://127.0.0.1:$http_port/sample.bin
       http://127.0.0.1:$http_port/readme.txt
     The files land in $downloads, and each link is answered here
     with a "Saved" or "Not saved" line from the agent's log.
  Ctrl-D here ends the demo (Ctrl-C too).

TXT

"$build/quillharbor-server" --account demo:demo --serve "$files" --http-port "$http_port" \
  --dribble 32768
