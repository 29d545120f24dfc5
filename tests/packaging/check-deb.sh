#!/usr/bin/env bash
# The Debian package as a user receives it: its control fields and file list, the desktop entry,
# metainfo, icons, man pages and bash completion it carries, and the programs unpacked from it,
# which must show their help, run one complete update over UDP on 127.0.0.1 against the packaged
# simulator (with QuelvaneOtaStudio --cli and with qvota flash) and open the window with no QML
# module beyond those the package depends on; qvota must link no GUI library, serve the station's
# page, and the station's systemd unit must pass systemd-analyze verify.
#
# Usage: check-deb.sh BUILD_DIR VERSION
# Runs only when QVOTA_PACKAGE_TEST=1 (as `make package` sets it), since the package has to be
# built first; otherwise it reports itself skipped.
set -uo pipefail

if [ "${QVOTA_PACKAGE_TEST:-}" != 1 ]; then
    echo "package test not requested (make package runs it, or QVOTA_PACKAGE_TEST=1 ctest -L package)"
    exit 0
fi
if [ $# -ne 2 ]; then
    echo "usage: check-deb.sh BUILD_DIR VERSION" >&2
    exit 2
fi
build=$1
version=$2

# What a user relies on: the package name (apt install, upgrades), the id that desktop
# settings and software centres key on, and the QML modules the window cannot start without.
name=quelvane-ota-studio
id=com.quelvane.OtaStudio
icon_sizes=(16 24 32 48 64 128 256)
qml_packages=(qml6-module-qtquick qml6-module-qtqml qml6-module-qtqml-models
    qml6-module-qtqml-workerscript qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-layouts qml6-module-qt-labs-settings)

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
skip() { echo "skip: $*"; }

tmp=$(mktemp -d /tmp/qvota-deb-test.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

arch=$(dpkg --print-architecture) || { echo "FAIL: dpkg --print-architecture"; exit 1; }
deb="$build/${name}_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
    echo "FAIL: $deb does not exist (make package builds it)"
    exit 1
fi
# A package older than the program it should carry tests yesterday's build.
if [ "$build/bin/QuelvaneOtaStudio" -nt "$deb" ]; then
    echo "FAIL: $deb is older than $build/bin/QuelvaneOtaStudio; rebuild it with make package"
    exit 1
fi

echo "== $deb"
dpkg-deb -I "$deb"

# --- control fields -------------------------------------------------------------------------
expect_field() {
    local field=$1 want=$2 got
    got=$(dpkg-deb -f "$deb" "$field")
    if [ "$got" = "$want" ]; then pass "$field: $got"; else fail "$field is '$got', not '$want'"; fi
}
expect_field Package "$name"
expect_field Version "$version"
expect_field Architecture "$arch"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
if [[ $maintainer =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]]; then
    pass "Maintainer: $maintainer"
else
    fail "Maintainer '$maintainer' is not 'Name <address>'"
fi
for field in Section Description; do
    value=$(dpkg-deb -f "$deb" "$field")
    if [ -n "$value" ]; then pass "$field present"; else fail "$field is empty"; fi
done

# Package names of Depends, without versions; of alternatives the first.
mapfile -t depends < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' |
    sed -e 's/|.*//' -e 's/(.*)//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
has_depend() { printf '%s\n' "${depends[@]}" | grep -qx -- "$1"; }
for p in "${qml_packages[@]}"; do
    if has_depend "$p"; then pass "Depends names $p"; else fail "Depends lacks $p"; fi
done

# --- contents -------------------------------------------------------------------------------
expected_files=(./usr/bin/QuelvaneOtaStudio ./usr/bin/qvota ./usr/bin/qvota-board-sim
    "./usr/share/applications/$id.desktop" "./usr/share/metainfo/$id.metainfo.xml"
    ./usr/share/man/man1/QuelvaneOtaStudio.1.gz ./usr/share/man/man1/qvota.1.gz
    ./usr/share/bash-completion/completions/qvota
    "./usr/lib/systemd/system/qvota-station@.service"
    ./usr/share/doc/quelvane-ota-studio/examples/station.conf
    ./usr/share/doc/quelvane-ota-studio/examples/prometheus.yml
    ./usr/share/doc/quelvane-ota-studio/examples/qvota-alerts.yml)
for size in "${icon_sizes[@]}"; do
    expected_files+=("./usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
# Regular files only: their path is the last field, as no packaged name holds a space.
dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $NF }' | sort >"$tmp/files.got"
printf '%s\n' "${expected_files[@]}" | sort >"$tmp/files.want"
if diff -u "$tmp/files.want" "$tmp/files.got" >"$tmp/files.diff"; then
    pass "the package holds exactly the ${#expected_files[@]} expected files"
else
    fail "the package's files differ from the expected ones (- missing, + unexpected):"
    sed -n '3,$p' "$tmp/files.diff"
fi
for exe in QuelvaneOtaStudio qvota qvota-board-sim; do
    mode=$(dpkg-deb -c "$deb" | awk -v f="./usr/bin/$exe" '$NF == f { print $1 }')
    if [ "$mode" = "-rwxr-xr-x" ]; then pass "$exe is executable"; else fail "$exe has mode '$mode'"; fi
done

root="$tmp/root"
mkdir -p "$root"
if ! dpkg -x "$deb" "$root"; then
    echo "FAIL: dpkg -x"
    exit 1
fi
studio="$root/usr/bin/QuelvaneOtaStudio"
qvota="$root/usr/bin/qvota"
sim="$root/usr/bin/qvota-board-sim"

# The packages that own the files given, into owner[FILE], with one search of dpkg's database.
# With merged /usr dpkg may know a file under /lib or /usr/lib, or only under the name its
# symbolic link resolves to.
declare -A owner=()
find_owners() {
    local f c line package path
    local -a queries=()
    local -A found=()
    for f in "$@"; do
        for c in "$f" "${f#/usr}" "/usr$f" "$(readlink -f "$f")"; do
            [ -n "$c" ] && queries+=("$c")
        done
    done
    while IFS= read -r line; do
        case $line in diversion*) continue ;; esac
        package=${line%%: /*}
        path=${line#"$package": }
        package=${package%%,*}
        found[$path]=${package%%:*}
    done < <(dpkg -S "${queries[@]}" 2>/dev/null)
    for f in "$@"; do
        for c in "$f" "${f#/usr}" "/usr$f" "$(readlink -f "$f")"; do
            if [ -n "$c" ] && [ -n "${found[$c]:-}" ]; then
                owner[$f]=${found[$c]}
                break
            fi
        done
    done
}

# Every shared library the programs link comes from a package depended on (dpkg-shlibdeps'
# part). They carry no run path: all they link is the system's, and a path into the build tree
# would even work here and nowhere else.
if command -v readelf >/dev/null; then
    for exe in "$studio" "$qvota" "$sim"; do
        exe_name=$(basename "$exe")
        if readelf -d "$exe" | grep -qE 'RPATH|RUNPATH'; then
            fail "$exe_name carries a run path: $(readelf -d "$exe" | grep -E 'RPATH|RUNPATH')"
        else
            pass "$exe_name has no run path"
        fi
        ldd "$exe" >"$tmp/ldd" 2>&1
        mapfile -t needed < <(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
        declare -A lib_path=()
        for lib in "${needed[@]}"; do
            lib_path[$lib]=$(awk -v l="$lib" '$1 == l && $2 == "=>" { print $3; exit }' "$tmp/ldd")
        done
        find_owners "${lib_path[@]}"
        for lib in "${needed[@]}"; do
            package=""
            [ -n "${lib_path[$lib]}" ] && package=${owner[${lib_path[$lib]}]:-}
            if [ -z "$package" ]; then
                fail "$exe_name needs $lib, which no installed package provides here"
            elif has_depend "$package"; then
                pass "$exe_name needs $lib from $package, a dependency"
            else
                fail "$exe_name needs $lib from $package, which Depends does not name"
            fi
        done
        unset lib_path
    done
    # A rack computer has no display and may have no GUI libraries at all. HttpServer serves the
    # station's page and metrics; it brings WebSockets with it, and nothing more of Qt.
    qt_needed=$(readelf -d "$qvota" | sed -n 's/.*(NEEDED).*\[\(libQt6[A-Za-z]*\)\.so.*/\1/p' | sort | tr '\n' ' ')
    if [ "$qt_needed" = "libQt6Core libQt6HttpServer libQt6Network libQt6SerialPort " ]; then
        pass "qvota links only Qt Core, HttpServer, Network and SerialPort"
    else
        fail "qvota links the Qt libraries $qt_needed, not just Core, HttpServer, Network and SerialPort"
    fi
    qt_loaded=$(ldd "$qvota" | sed -n 's/^[[:space:]]*\(libQt6[A-Za-z]*\)\.so.*/\1/p' | sort | tr '\n' ' ')
    if [ "$qt_loaded" = "libQt6Core libQt6HttpServer libQt6Network libQt6SerialPort libQt6WebSockets " ]; then
        pass "qvota loads no Qt library beyond those and WebSockets"
    else
        fail "qvota loads the Qt libraries $qt_loaded"
    fi
else
    skip "readelf not installed: linked libraries and run paths not checked"
fi

# --- man pages and completion ---------------------------------------------------------------
for page in QuelvaneOtaStudio qvota; do
    file="$root/usr/share/man/man1/$page.1.gz"
    [ -f "$file" ] || continue # reported by the file list
    if zcat "$file" | grep -q "^\.TH $(tr '[:lower:]' '[:upper:]' <<<"$page") \"1\""; then
        pass "$page.1 is a section 1 man page"
    else
        fail "$page.1 has no .TH line for section 1"
    fi
done
if [ -f "$root/usr/share/man/man1/qvota.1.gz" ]; then
    for word in flash station info ports --board --json --count 130; do
        zcat "$root/usr/share/man/man1/qvota.1.gz" | grep -q -- "$word" ||
            fail "qvota.1 does not mention $word"
    done
    pass "qvota.1 covers the commands, their options and the exit codes"
fi
if [ -f "$root/usr/share/man/man1/QuelvaneOtaStudio.1.gz" ]; then
    zcat "$root/usr/share/man/man1/QuelvaneOtaStudio.1.gz" | grep -q 'transport' &&
        pass "QuelvaneOtaStudio.1 lists the --cli options" ||
        fail "QuelvaneOtaStudio.1 does not list --transport"
fi
completion="$root/usr/share/bash-completion/completions/qvota"
if [ -f "$completion" ]; then
    # bash-completion's own helpers stand in here: _init_completion fills the completing
    # function's locals from the command line in LINE.
    if bash -c '_filedir() { :; }; compopt() { :; }
            _init_completion() {
                read -r -a words <<<"$LINE"; [[ $LINE == *" " ]] && words+=("")
                cword=$((${#words[@]} - 1))
                cur=${words[cword]}; prev=${words[cword - 1]}
            }
            source "$1"; complete -p qvota >/dev/null || exit 1
            LINE="qvota fl"; _qvota; [ "${COMPREPLY[*]}" = flash ] || exit 2
            LINE="qvota flash img --j"; _qvota; [ "${COMPREPLY[*]}" = --json ] || exit 3
            LINE="qvota station img --co"; _qvota; [ "${COMPREPLY[*]}" = --count ] || exit 4
            LINE="qvota flash img --target "; _qvota; [ "${COMPREPLY[*]}" = "1 2" ]' _ "$completion"; then
        pass "the bash completion completes qvota's commands and options"
    else
        fail "the bash completion does not complete qvota's commands and options"
    fi
fi

# The station's service: systemd accepts the template unit as it is installed, with its
# program at the unpacked path (the package is not installed here).
unit="$root/usr/lib/systemd/system/qvota-station@.service"
if [ -f "$unit" ]; then
    grep -q '^ExecStart=/usr/bin/qvota station ' "$unit" && pass "the unit starts /usr/bin/qvota station" ||
        fail "the unit's ExecStart is '$(grep '^ExecStart=' "$unit")'"
    if command -v systemd-analyze >/dev/null; then
        mkdir -p "$tmp/units"
        sed "s|/usr/bin/qvota|$qvota|" "$unit" >"$tmp/units/qvota-station@.service"
        if out=$(systemd-analyze verify --man=no "$tmp/units/qvota-station@.service" 2>&1) && [ -z "$out" ]; then
            pass "systemd-analyze verify accepts qvota-station@.service"
        else
            fail "systemd-analyze verify: $out"
        fi
    else
        skip "systemd-analyze not installed: the unit was not verified"
    fi
fi

# Each icon is an RGBA PNG of the size its folder names.
for size in "${icon_sizes[@]}"; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
    [ -f "$png" ] || continue # reported by the file list
    read -r -a b < <(od -An -tu1 -N26 -v "$png" | tr -s ' \n' '  ')
    signature="${b[0]} ${b[1]} ${b[2]} ${b[3]} ${b[4]} ${b[5]} ${b[6]} ${b[7]}"
    width=$(((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]))
    height=$(((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]))
    if [ "$signature" != "137 80 78 71 13 10 26 10" ]; then
        fail "${size}x${size} icon is not a PNG"
    elif [ "$width" -ne "$size" ] || [ "$height" -ne "$size" ] || [ "${b[25]}" -ne 6 ]; then
        fail "${size}x${size} icon is ${width}x${height}, colour type ${b[25]} (want RGBA, 6)"
    else
        pass "${size}x${size} icon is a ${width}x${height} RGBA PNG"
    fi
done

# --- desktop entry and metainfo -------------------------------------------------------------
desktop="$root/usr/share/applications/$id.desktop"
metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
desktop_key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
if [ -f "$desktop" ]; then
    exec_line=$(desktop_key Exec)
    read -r -a exec_words <<<"$exec_line"
    if [ "${#exec_words[@]}" -gt 0 ] && [ -x "$root/usr/bin/${exec_words[0]}" ] &&
        [ "${exec_words[0]}" = QuelvaneOtaStudio ]; then
        pass "Exec runs the packaged QuelvaneOtaStudio"
    else
        fail "Exec '$exec_line' does not name the packaged QuelvaneOtaStudio"
    fi
    case " $exec_line " in
        *" --cli "*) fail "Exec '$exec_line' starts the command line, not the window" ;;
        *) pass "Exec opens the window" ;;
    esac
    [ "$(desktop_key Icon)" = "$id" ] && pass "Icon=$id" || fail "Icon is '$(desktop_key Icon)', not $id"
    [ "$(desktop_key Terminal)" = false ] && pass "Terminal=false" || fail "Terminal is not false"
    [ "$(desktop_key Name)" = "Quelvane OTA Studio" ] && pass "Name=Quelvane OTA Studio" ||
        fail "Name is '$(desktop_key Name)'"
    if command -v desktop-file-validate >/dev/null; then
        if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then
            pass "desktop-file-validate: no findings"
        else
            fail "desktop-file-validate: $out"
        fi
    else
        skip "desktop-file-validate not installed (desktop-file-utils)"
    fi
fi
if [ -f "$metainfo" ]; then
    tag() { sed -n "s:.*<$1>\\(.*\\)</$1>.*:\\1:p" "$metainfo"; }
    [ "$(tag id)" = "$id" ] && pass "metainfo id is $id" || fail "metainfo id is '$(tag id)'"
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [ "$launchable" = "$id.desktop" ] && pass "metainfo launches $id.desktop" ||
        fail "metainfo launchable is '$launchable'"
    while read -r binary; do
        [ -x "$root/usr/bin/$binary" ] && pass "metainfo provides $binary, which is packaged" ||
            fail "metainfo provides $binary, which is not in usr/bin"
    done < <(tag binary)
    [ -n "$(tag binary)" ] || fail "metainfo provides no binary"
    newest=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -n 1)
    [ "$newest" = "$version" ] && pass "metainfo's newest release is $version" ||
        fail "metainfo's newest release is '$newest', the package's version $version"
    if command -v appstreamcli >/dev/null; then
        if out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
            pass "appstreamcli validate --no-net: $(echo "$out" | tail -n 1)"
        else
            fail "appstreamcli validate --no-net: $out"
        fi
    else
        skip "appstreamcli not installed (appstream)"
    fi
fi

# --- the programs from the package ----------------------------------------------------------
if [ "$("$qvota" --version 2>&1)" = "qvota $version" ]; then
    pass "qvota --version prints qvota $version"
else
    fail "qvota --version prints '$("$qvota" --version 2>&1)'"
fi
if out=$("$studio" --cli --help 2>&1); then
    if grep -q -- '--transport' <<<"$out" && grep -q -- '--file' <<<"$out"; then
        pass "--cli --help exits 0 with the option list"
    else
        fail "--cli --help exits 0 but prints no option list: $out"
    fi
else
    fail "--cli --help exits $?: $out"
fi

head -c 65536 /dev/urandom >"$tmp/plain.bin"
if "$sim" pack "$tmp/plain.bin" "$tmp/image.qvbit" >"$tmp/pack.log" 2>&1; then
    pass "the packaged simulator packs an image"
    "$sim" serve --udp 127.0.0.1:0 >"$tmp/sim.ready" 2>"$tmp/sim.log" &
    pids+=($!)
    endpoint=""
    for _ in $(seq 100); do
        if read -r line <"$tmp/sim.ready" && [ -n "$line" ]; then
            endpoint=${line##* }
            break
        fi
        sleep 0.1
    done
    if [ -z "$endpoint" ]; then
        fail "the packaged simulator did not start: $(cat "$tmp/sim.log")"
    else
        port=${endpoint##*:}
        echo "\$ QuelvaneOtaStudio --cli --transport udp --ip 127.0.0.1 --udp-port $port --host-ip 127.0.0.1 --host-port 0 --file image.qvbit"
        timeout 120 "$studio" --cli --transport udp --ip 127.0.0.1 --udp-port "$port" \
            --host-ip 127.0.0.1 --host-port 0 --file "$tmp/image.qvbit" >"$tmp/update.log" 2>&1
        rc=$?
        sed 's/^/    /' "$tmp/update.log"
        if [ "$rc" -eq 0 ] && [ "$(tail -n 1 "$tmp/update.log" | sed 's/^[0-9:.]* //')" = "OTA FLOW COMPLETE" ] &&
            grep -q 'MATCH - OTA WRITE VERIFIED' "$tmp/update.log"; then
            pass "an update over UDP with the packaged programs ends verified, exit 0"
        else
            fail "the update over UDP exited $rc or did not end with OTA FLOW COMPLETE"
        fi

        echo "\$ qvota flash image.qvbit --board udp:127.0.0.1:$port --json"
        timeout 120 "$qvota" flash "$tmp/image.qvbit" --board "udp:127.0.0.1:$port" --json \
            >"$tmp/qvota.out" 2>"$tmp/qvota.err"
        rc=$?
        grep -v '"event":"log"' "$tmp/qvota.out" | sed 's/^/    /'
        if [ "$rc" -eq 0 ] && grep -q '"event":"result"' "$tmp/qvota.out" &&
            grep '"event":"result"' "$tmp/qvota.out" | grep -q '"outcome":"verified"' &&
            tail -n 1 "$tmp/qvota.out" | grep -q '"event":"summary"'; then
            pass "qvota flash with the packaged programs ends verified, exit 0"
        else
            fail "qvota flash exited $rc without a verified result: $(cat "$tmp/qvota.err")"
        fi

        # The station's page and status from the packaged qvota, fetched with bash alone.
        echo "\$ qvota station image.qvbit --board udp:127.0.0.1:$port --no-history --json --http 127.0.0.1:0"
        "$qvota" station "$tmp/image.qvbit" --board "udp:127.0.0.1:$port" --no-history --json \
            --http 127.0.0.1:0 >"$tmp/station.out" 2>"$tmp/station.err" &
        station=$!
        pids+=("$station")
        http_port=""
        for _ in $(seq 200); do
            grep -q '"event":"result"' "$tmp/station.out" && break
            sleep 0.1
        done
        http_port=$(sed -n 's/.*"event":"http".*"port":\([0-9]*\).*/\1/p' "$tmp/station.out")
        http_get() {
            exec 3<>"/dev/tcp/127.0.0.1/$http_port" || return 1
            printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' "$1" >&3
            timeout 5 cat <&3
            exec 3<&-
        }
        if [ -n "$http_port" ] && http_get / | grep -q '<ul id="slots"' &&
            http_get /api/status | grep -q '"state":"verified"'; then
            pass "the packaged qvota serves the station's page and a verified slot at /api/status"
        else
            fail "the packaged qvota's station page: $(cat "$tmp/station.err") $(head -c 300 "$tmp/station.out")"
        fi
        kill -TERM "$station"
        wait "$station"
        rc=$?
        [ "$rc" -eq 130 ] && pass "SIGTERM ends the station with exit code 130" ||
            fail "the station exited $rc after SIGTERM"
    fi
else
    fail "the packaged simulator cannot pack an image: $(cat "$tmp/pack.log")"
fi

# --- the window and its QML modules ---------------------------------------------------------
# Starts the packaged window offscreen with the extra environment given and says whether it came
# up: the software scene graph announces its backend when the window is created, which happens
# only after every QML import has been resolved. Output in $tmp/window.err.
window_comes_up() {
    env -u QT_QUICK_CONTROLS_STYLE -u QML_IMPORT_PATH -u QML2_IMPORT_PATH -u QT_PLUGIN_PATH \
        XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/runtime" QT_QPA_PLATFORM=offscreen \
        QT_QUICK_BACKEND=software QT_LOGGING_RULES="qt.scenegraph.general=true" "$@" \
        "$studio" >"$tmp/window.out" 2>"$tmp/window.err" &
    local pid=$! up=1
    pids+=("$pid")
    for _ in $(seq 300); do
        if grep -q 'qt.scenegraph.general: Loading backend' "$tmp/window.err"; then
            sleep 1
            kill -0 "$pid" 2>/dev/null && up=0
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return $up
}
mkdir -p "$tmp/runtime" && chmod 700 "$tmp/runtime"

# Which packages the window loads QML modules from, with every module of the system visible:
# each of them must be a dependency, and each QML module package depended on must be loaded.
if window_comes_up QML_IMPORT_TRACE=1; then
    pass "the packaged window comes up"
    grep -o '"/[^"]*/qmldir"' "$tmp/window.err" | tr -d '"' | sort -u >"$tmp/qmldirs"
    mapfile -t qmldirs <"$tmp/qmldirs"
    find_owners "${qmldirs[@]}"
    : >"$tmp/loaded"
    for qmldir in "${qmldirs[@]}"; do
        if [ -z "${owner[$qmldir]:-}" ]; then
            fail "the window loads $qmldir, which no package owns"
        else
            echo "${owner[$qmldir]}" >>"$tmp/loaded"
        fi
    done
    mapfile -t loaded < <(sort -u "$tmp/loaded")
    echo "   QML modules loaded from: ${loaded[*]}"
    for p in "${loaded[@]}"; do
        has_depend "$p" && pass "the window loads QML from $p, a dependency" ||
            fail "the window loads QML from $p, which Depends does not name"
    done
    for p in "${depends[@]}"; do
        case $p in qml6-module-*)
            printf '%s\n' "${loaded[@]}" | grep -qx -- "$p" && pass "Depends names $p, which the window loads" ||
                fail "Depends names $p, but the window loads no QML module from it" ;;
        esac
    done
else
    fail "the packaged window does not come up: $(tail -n 5 "$tmp/window.err")"
fi

# The same window with only the Qt plugins and QML modules of the packages depended on: a qt.conf
# beside the unpacked program replaces the system's folders by one holding just those files.
# Leaving one module package out must then stop the window, or the isolation proves nothing.
isolated_prefix() {
    local prefix=$1 leave_out=$2 p f qt6
    local -a packages=()
    rm -rf "$prefix"
    mkdir -p "$prefix"
    for p in "${depends[@]}"; do
        [ "$p" = "$leave_out" ] && continue
        if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
            packages+=("$p")
        else
            fail "dependency $p is not installed here, so the isolated window cannot be tried"
        fi
    done
    dpkg -L "${packages[@]}" | grep -E '/qt6/(qml|plugins)/' | while read -r f; do
        [ -f "$f" ] && echo "$f"
    done >"$tmp/prefix.files"
    # Links at the same paths under the prefix: cp -s --parents keeps each file's folders.
    xargs -d '\n' cp -s --parents -t "$prefix" <"$tmp/prefix.files"
    qt6=$(sed -n '1s:/qt6/.*:/qt6:p' "$tmp/prefix.files")
    printf '[Paths]\nPrefix=%s%s\nPlugins=plugins\nQmlImports=qml\n' "$prefix" "$qt6" \
        >"$root/usr/bin/qt.conf"
}
isolated_prefix "$tmp/prefix" ""
if window_comes_up; then
    pass "the window comes up with only the QML modules and plugins of its dependencies"
else
    fail "the window needs more than its dependencies: $(tail -n 5 "$tmp/window.err")"
fi
isolated_prefix "$tmp/prefix" qml6-module-qtquick-layouts
if window_comes_up; then
    fail "the window came up without qml6-module-qtquick-layouts: the isolation does not hold"
elif grep -q 'QtQuick.Layouts' "$tmp/window.err"; then
    pass "without qml6-module-qtquick-layouts the window stops: $(grep -m 1 'QtQuick.Layouts' "$tmp/window.err")"
else
    fail "without qml6-module-qtquick-layouts the window stops for another reason: $(tail -n 3 "$tmp/window.err")"
fi
rm -f "$root/usr/bin/qt.conf"

echo
if [ "$failures" -eq 0 ]; then
    echo "== package checks passed"
    exit 0
fi
echo "== $failures package check(s) failed"
exit 1
