#!/usr/bin/env bash
# clazy's qstring-arg check over every project source in the build's compilation database:
# chained QString::arg() calls substitute into what an earlier argument brought in (a "%1" in a
# file name, "%2" in an IPv6 zone), so the project uses the multi-argument form.
# Usage: tools/lint-cpp.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
mapfile -t sources < <(python3 - "$build/compile_commands.json" "$top" <<'PY'
import json, sys
top = sys.argv[2].rstrip('/') + '/'
seen = set()
for entry in json.load(open(sys.argv[1])):
    f = entry['file']
    if f.startswith(top) and '/build' not in f[len(top) - 1:] and f not in seen:
        seen.add(f)
        print(f)
PY
)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
clazy-standalone -p "$build" -checks=qstring-arg "${sources[@]}" 2>&1 | tee "$log" | grep -E 'warning|error' || true
if grep -qE 'warning:|error:' "$log"; then
    echo "lint: clazy found the above" >&2
    exit 1
fi
echo "lint: clazy qstring-arg clean over ${#sources[@]} files"
