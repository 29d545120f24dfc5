#!/usr/bin/env bash
# Renders the window mid-update against the simulator into OUT_DIR (default build/screenshots):
# the abyss and light themes in each language, and the file picker.
# Usage: tools/screenshots.sh BIN_DIR [OUT_DIR]
set -euo pipefail

bin=${1:-build/bin}
out=$(realpath -m "${2:-build/screenshots}")
sim="$bin/qvota-board-sim"
work=$(mktemp -d /tmp/qvota-shots.XXXXXX)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out"

# About 1200 frames with a few milliseconds each: the run lasts long enough for every shot.
head -c 300000 /dev/urandom >"$work/firmware.bin"
"$sim" pack "$work/firmware.bin" "$work/pgl25g-app2.qvbit" >/dev/null
"$sim" serve --udp 127.0.0.1:0 --latency-ms 8 >"$work/ready" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
    read -r line <"$work/ready" 2>/dev/null && [ -n "${line:-}" ] && break
    sleep 0.1
done
port=${line##*:}

# The window keeps the theme and language it was last shown in; these runs keep theirs apart.
export XDG_CONFIG_HOME="$work/config"
shots=("$bin/qvota-window-shots" "$out" "$port" "$work/pgl25g-app2.qvbit" "$work")
if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x800x24" "${shots[@]}"
else
    QT_QPA_PLATFORM=offscreen "${shots[@]}"
fi
ls "$out"/*.png
