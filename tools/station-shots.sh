#!/usr/bin/env bash
# The station's page with four boards in four states (updating, verified, failed at img-crc,
# gone), in light and dark, as headless Chromium draws it: docs/station-light.png and
# docs/station-dark.png. Everything runs on 127.0.0.1 against the board simulator.
# Usage: tools/station-shots.sh BIN_DIR OUT_DIR   (needs chromium: apt-get install chromium)
set -euo pipefail
bin=$1
out=$2
mkdir -p "$out"
tmp=$(mktemp -d /tmp/qvota-station-shots.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

ready() { # FILE: waits for the simulator's ready line and prints its last word
    for _ in $(seq 100); do
        if [ -s "$1" ]; then sed 's/.* //' "$1"; return; fi
        sleep 0.1
    done
    echo "no ready line in $1" >&2
    exit 1
}
head -c 262108 /dev/urandom >"$tmp/plain.bin"
"$bin/qvota-board-sim" pack "$tmp/plain.bin" "$tmp/firmware-2.4.1.qvbit" >/dev/null
"$bin/qvota-board-sim" serve --pty --link "$tmp/ttyQV0" --baud 115200 >"$tmp/slow.ready" 2>/dev/null &
pids+=($!)
"$bin/qvota-board-sim" serve --udp 127.0.0.1:0 >"$tmp/good.ready" 2>/dev/null &
pids+=($!)
"$bin/qvota-board-sim" serve --udp 127.0.0.1:0 --bad-img-crc >"$tmp/bad.ready" 2>/dev/null &
pids+=($!)
"$bin/qvota-board-sim" serve --pty --link "$tmp/ttyQV1" >"$tmp/leaving.ready" 2>/dev/null &
leaving=$!
ready "$tmp/slow.ready" >/dev/null
ready "$tmp/leaving.ready" >/dev/null
good=$(ready "$tmp/good.ready")
bad=$(ready "$tmp/bad.ready")

"$bin/qvota" station "$tmp/firmware-2.4.1.qvbit" --no-history --json --http 127.0.0.1:0 \
    --board "uart:$tmp/ttyQV0" --board "udp:$good" --board "udp:$bad" --board "uart:$tmp/ttyQV1" \
    >"$tmp/station.jsonl" &
pids+=($!)
# The fourth board is taken away once it is verified; the first is still sending by then.
for _ in $(seq 200); do
    grep -q "\"board\":\"uart:$tmp/ttyQV1\",\"bytes\".*\"event\":\"result\"" "$tmp/station.jsonl" && break
    sleep 0.1
done
kill -TERM "$leaving"
wait "$leaving" 2>/dev/null || true
sleep 6
url=$(sed -n 's/.*"url":"\([^"]*\)".*/\1/p' "$tmp/station.jsonl" | head -n 1)

shot() { # NAME EXTRA-FLAGS...
    local name=$1
    shift
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$tmp/chromium-$name" --hide-scrollbars --window-size=1280,600 \
        --virtual-time-budget=2000 "$@" --screenshot="$out/station-$name.png" "$url" 2>/dev/null
}
shot light
shot dark --force-dark-mode --blink-settings=preferredColorScheme=0
echo "$out/station-light.png $out/station-dark.png"
