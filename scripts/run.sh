#!/usr/bin/env bash
# Builds the agent and runs it against a demo server on this machine: the
# reference server with the account demo/demo and a few files to fetch.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_BUILD_DIR:-$top/build}
http_port=${QUILLHARBOR_DEMO_HTTP_PORT:-8080}

bash "$top/scripts/bootstrap.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel --target quillharbor quillharbor-server

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display here. The agent is a desktop program: run it under a virtual"
  echo "        display with   xvfb-run bash scripts/run.sh   (or from a desktop session)."
  exit 1
fi

# Files the demo server offers.
files="$build/demo-files"
mkdir -p "$files"
[ -f "$files/sample.bin" ] || head -c $((256 * 1024 * 1024)) /dev/urandom >"$files/sample.bin"
[ -f "$files/readme.txt" ] || echo "Fetched by Quillharbor from the demo server." >"$files/readme.txt"

# The agent keeps its state beside its executable; a first run gets the demo
# account filled in and a download folder of its own.
downloads="$build/downloads"
mkdir -p "$downloads"
if [ ! -f "$build/vars.ini" ]; then
  printf 'user=demo\r\npass=demo\r\ndownloaddir=%s\r\nexternal1=0\r\numsg=1\r\nautostart=0\r\n' \
    "$downloads" >"$build/vars.ini"
  chmod 600 "$build/vars.ini"
fi

cat <<TXT

Quillharbor demo
  1. In the agent's window, click "Connect" (user demo, password demo).
  2. Type a link here and press Enter, for example:
       http://127.0.0.1:$http_port/sample.bin
       http://127.0.0.1:$http_port/readme.txt
     It appears in $downloads
  Ctrl-D or Ctrl-C here ends the server and the agent.

TXT

"$build/quillharbor" &
agent=$!
trap 'kill $agent 2>/dev/null || true' EXIT
"$build/quillharbor-server" --account demo:demo --serve "$files" --http-port "$http_port"
