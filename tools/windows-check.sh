#!/usr/bin/env bash
# Compiles the Windows-only code (the console attachment behind Q_OS_WIN) with the mingw-w64
# cross compiler, against this machine's Qt headers: it proves the Windows branch compiles,
# warning-free, without a Windows machine. The rest is portable Qt; building and linking it all
# for Windows needs a Windows Qt and is left to a Windows build.
# Usage: tools/windows-check.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cxx=x86_64-w64-mingw32-g++-posix
qt=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)
flags=(-std=c++17 -Wall -Wextra -Werror -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII
       -DQT_USE_QSTRINGBUILDER -I"$qt" -I"$qt/QtCore" -I"$top/app")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$cxx" "${flags[@]}" -c "$top/app/console.cpp" -o "$out/console.cpp.obj"
# The console branch must really have been compiled, not skipped by the preprocessor.
x86_64-w64-mingw32-objdump -t "$out/console.cpp.obj" >"$out/symbols"
grep -q 'AttachConsole' "$out/symbols" \
    || { echo "windows-check: console.cpp.obj does not call AttachConsole" >&2; exit 1; }
echo "windows-check: app/console.cpp compiles for x86_64-w64-mingw32 and calls AttachConsole"
