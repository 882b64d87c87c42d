#!/usr/bin/env bash
# Builds the Debian package from a configured and built build folder, unpacks it into a scratch root (the
# machine itself is left alone), checks its declared dependencies and its files, then runs what it installed:
# the installed qm4107-sim on a pseudo-terminal, and the installed qm4107-panel on a virtual display with no
# library path set. The test presses "打开" with xdotool, as an operator would, and passes when the
# simulated module has served the window's input and coil polls and the program has mapped the
# libMODBUS485.so from the scratch root.
#
# Usage: installed_package_test.sh BUILD_DIR [CPACK]
set -euo pipefail
build=$(cd "$1" && pwd)
cpack=${2:-cpack}

work=$(mktemp -d "${TMPDIR:-/tmp}/qm4107-package.XXXXXX")
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/*.err; do
        [[ -s "$f" ]] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }
    done
    exit 1
}

# The package.
(cd "$work" && "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.err" 2>&1) ||
    fail "cpack did not make the package"
debs=("$work"/out/qm4107-panel_*.deb)
[[ -f "${debs[0]}" ]] || fail "no qm4107-panel_*.deb"
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libmodbus5 fonts-arphic-uming; do
    [[ ",$depends," =~ [,\ ]$needed[\ ,\(] ]] || fail "Depends lacks $needed"
done

root="$work/root"
dpkg -x "$deb" "$root"
for f in usr/bin/qm4107-panel usr/bin/qm4107-checkout usr/bin/qm4107-sim usr/bin/qm4107-ports \
    usr/lib/qm4107/libMODBUS485.so usr/share/applications/qm4107-panel.desktop \
    usr/share/applications/qm4107-checkout.desktop \
    usr/share/icons/hicolor/16x16/apps/qm4107.png usr/share/icons/hicolor/48x48/apps/qm4107.png \
    usr/share/icons/hicolor/256x256/apps/qm4107.png; do
    [[ -f "$root/$f" ]] || fail "package lacks /$f"
done
grep -qx 'Exec=qm4107-panel' "$root/usr/share/applications/qm4107-panel.desktop" ||
    fail "desktop entry does not start qm4107-panel"
grep -qx 'Name=QM4107调试向导' "$root/usr/share/applications/qm4107-checkout.desktop" ||
    fail "the checkout's desktop entry is not named QM4107调试向导"

# The installed checkout rebuilds a record from a journal with no display.
printf '%s\n' '{"format":1,"type":"header","project":"P","moduleTag":"T","port":1,"station":1}' >"$work/r.jsonl"
env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/qm4107-checkout" report "$work/r.jsonl" >/dev/null &&
    [[ -s "$work/r.pdf" && -s "$work/r.csv" ]] || fail "the installed qm4107-checkout report wrote no record"

# The installed simulator: X1, X3, X6 and X10 closed.
"$root/usr/bin/qm4107-sim" -c "inputs 1010010001" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
pids+=($!)
for _ in $(seq 100); do
    [[ -s "$work/sim.out" ]] && break
    sleep 0.05
done
device=$(head -n1 "$work/sim.out")
[[ -n "$device" ]] || fail "the installed qm4107-sim did not start"

# The installed port tool runs on the installed library and lists the simulator's line as port 1.
MODBUS485_PORT1="$device" "$root/usr/bin/qm4107-ports" >"$work/ports.out" 2>&1 ||
    fail "the installed qm4107-ports failed: $(cat "$work/ports.out")"
grep -q "^  port  *1 (COM1) from the variable MODBUS485_PORT1$" "$work/ports.out" ||
    fail "qm4107-ports does not list port 1: $(cat "$work/ports.out")"

# A virtual display on the first free display number.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.05
done
[[ -s "$work/display" ]] || fail "Xvfb did not start"
display=":$(head -n1 "$work/display")"

# The installed program, with nothing pointing it at its library.
env -u LD_LIBRARY_PATH -u QT_PLUGIN_PATH DISPLAY="$display" QT_QPA_PLATFORM=xcb MODBUS485_PORT1="$device" \
    "$root/usr/bin/qm4107-panel" 2>"$work/panel.err" &
pids+=($!)
panel=$!

# The main window appears after the splash; it is the one with the 880x381 client area.
window=""
for _ in $(seq 200); do
    for id in $(DISPLAY="$display" xdotool search --onlyvisible --name 'QM4107' 2>/dev/null || true); do
        if DISPLAY="$display" xdotool getwindowgeometry "$id" 2>/dev/null | grep -q 'Geometry: 880x381'; then
            window=$id
        fi
    done
    [[ -n "$window" ]] && break
    kill -0 "$panel" 2>/dev/null || fail "the installed panel exited"
    sleep 0.1
done
[[ -n "$window" ]] || fail "the installed panel's main window did not appear"

# "打开" is Command9 at (5640, 1020) twips, 55x29 pixels: click its middle.
DISPLAY="$display" xdotool mousemove --window "$window" $((5640 / 15 + 27)) $((1020 / 15 + 14)) click 1

polled=""
for _ in $(seq 100); do
    if grep -qx 'read-inputs 1 16' "$work/sim.out" && grep -qx 'read-coils 1 16' "$work/sim.out"; then
        polled=yes
        break
    fi
    sleep 0.05
done
[[ -n "$polled" ]] || fail "the installed panel made no good poll of the simulated module"
echo "served: $(($(wc -l <"$work/sim.out") - 1)) requests"

grep -q " $root/usr/lib/qm4107/libMODBUS485.so\$" "/proc/$panel/maps" ||
    fail "the panel did not load the packaged libMODBUS485.so: $(grep -o '/[^ ]*MODBUS485[^ ]*' "/proc/$panel/maps" | sort -u)"
echo "the installed qm4107-panel polled the installed qm4107-sim through $root/usr/lib/qm4107/libMODBUS485.so"
