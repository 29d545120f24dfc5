#!/usr/bin/env bash
# Runs one update from the window through AT-SPI only (see drive_update.py), against the
# simulator, in a network namespace of its own: its one host adapter carries 127.0.0.2, so the
# window's adapter list has an entry and every datagram stays on loopback.
# Needs root (unshare), xvfb, dbus, at-spi2-core and python3-pyatspi.
# Usage: sudo tools/a11y/drive-update.sh [BIN_DIR]
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
    exec unshare -n xvfb-run -a dbus-run-session "$0" --inside "$(realpath "${1:-build/bin}")"
fi
bin=$2
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d /tmp/qvota-a11y.XXXXXX)
ip link set lo up
ip link add qv0 type veth peer name qv1
ip addr add 127.0.0.2/32 dev qv0
ip link set qv0 up && ip link set qv1 up

# English, so the script can find the controls by their source texts.
mkdir -p "$work/config/Quelvane"
printf '[ui]\nlanguage=en\ntheme=abyss\n' >"$work/config/Quelvane/Quelvane OTA Studio.conf"
export XDG_CONFIG_HOME=$work/config QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

head -c 65536 /dev/urandom >"$work/fw.bin"
"$bin/qvota-board-sim" pack "$work/fw.bin" "$work/fw.qvbit" >/dev/null
"$bin/qvota-board-sim" serve --udp 127.0.0.1:0 --latency-ms 3 >"$work/ready" 2>"$work/sim.log" &
sim=$!
/usr/libexec/at-spi-bus-launcher --launch-immediately &
sleep 1
"$bin/QuelvaneOtaStudio" &
app=$!
port=$(sed 's/.*://' "$work/ready")
rc=0
/usr/bin/python3 "$here/drive_update.py" "$port" "$work/fw.qvbit" || rc=$?
kill "$app" "$sim" 2>/dev/null || true
rm -rf "$work"
exit $rc
