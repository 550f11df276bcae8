#!/usr/bin/env bash
# Runs a Windows test program under Wine and carries out the xdotool commands
# it asks for: Wine cannot start Unix programs itself, so the program writes
# each command to a request file in a shared folder and waits for the answer.
# Usage: x_relay.sh program.exe [args...]
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
relay=$(mktemp -d /tmp/vek-x-relay.XXXXXX)
# The program's display: the caller's, else the one wine-run starts when it
# is not running yet (so DISPLAY stays unset for wine-run).
x_display=${DISPLAY:-:${VEK_XVFB_DISPLAY:-97}}
export VEK_X_RELAY="Z:${relay//\//\\}"
timeout 300 "$root/tools/wine-run" "$@" &
program=$!
while kill -0 "$program" 2>/dev/null; do
  for request in "$relay"/req-*; do
    [ -e "$request" ] || continue
    name=${request##*/req-}
    read -r -a words <"$request"
    rm -f "$request"
    DISPLAY=$x_display timeout 10 xdotool "${words[@]}" >/dev/null 2>&1
    echo $? >"$relay/done-$name.tmp" && mv "$relay/done-$name.tmp" "$relay/done-$name"
  done
  sleep 0.02
done
wait "$program"
rc=$?
rm -rf "$relay"
exit $rc
