#!/usr/bin/env bash
# The main job without hardware: pack a sample image, start the board simulator on loopback and
# run two complete command-line updates, one over UDP and one over a pseudo-terminal.
# Usage: tools/demo.sh BIN_DIR
set -uo pipefail

bin=${1:-build/bin}
studio="$bin/QuelvaneOtaStudio"
sim="$bin/qvota-board-sim"
work=$(mktemp -d /tmp/qvota-demo.XXXXXX)
sims=()

cleanup() {
    for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# Starts the simulator in the background and sets endpoint to what it serves (the UDP address
# or the pty path). Not to be called in a subshell: the cleanup needs the pid.
start_sim() {
    local name=$1 line; shift
    "$sim" serve "$@" >"$work/$name.ready" 2>"$work/$name.log" &
    sims+=($!)
    for _ in $(seq 100); do
        if read -r line <"$work/$name.ready" && [ -n "$line" ]; then
            endpoint=${line##* }
            return 0
        fi
        sleep 0.1
    done
    echo "simulator '$name' did not start; its log:" >&2
    cat "$work/$name.log" >&2
    return 1
}

echo "== Packing a 96 KiB sample image with the simulator's stand-in encryption"
head -c 98304 /dev/urandom >"$work/sample.bin"
"$sim" pack "$work/sample.bin" "$work/sample.qvbit" || exit 1
"$sim" info "$work/sample.qvbit" || exit 1

start_sim udp --udp 127.0.0.1:0 || exit 1
udp_port=${endpoint##*:}
echo
echo "== Update over UDP (simulator on 127.0.0.1:$udp_port), warm boot into APP2"
echo "\$ QuelvaneOtaStudio --cli --transport udp --ip 127.0.0.1 --udp-port $udp_port --host-ip 127.0.0.1 --host-port 0 --file sample.qvbit --target 2"
"$studio" --cli --transport udp --ip 127.0.0.1 --udp-port "$udp_port" \
    --host-ip 127.0.0.1 --host-port 0 --file "$work/sample.qvbit" --target 2
udp_rc=$?
echo "(exit code $udp_rc)"

start_sim pty --pty --link "$work/ttyQV0" --baud 921600 || exit 1
tty=$endpoint
echo
echo "== Update over a pseudo-terminal paced as a UART at 921600 baud ($tty), warm boot"
echo "\$ QuelvaneOtaStudio --cli --transport uart --port $work/ttyQV0 --baud 921600 --file sample.qvbit --warm-boot"
"$studio" --cli --transport uart --port "$work/ttyQV0" --baud 921600 \
    --file "$work/sample.qvbit" --warm-boot
uart_rc=$?
echo "(exit code $uart_rc)"

echo
if [ "$udp_rc" -eq 0 ] && [ "$uart_rc" -eq 0 ]; then
    echo "== Both updates verified."
    exit 0
fi
echo "== An update failed (udp: $udp_rc, uart: $uart_rc)."
exit 1
