#!/usr/bin/env bash
# Tried as a new user would: the real program under a virtual X server, the
# wizard walked to the main window, the window made half as large again, and
# "Avvia Backup" clicked where it has moved to. Its confirmation box is
# answered No, so nothing is copied. Shutdown and log-off go to recording
# fakes on PATH. With ARCHIVON_SCREENSHOTS set to a folder, screenshots of
# the enlarged window and of the box are left there.
set -euo pipefail

exe=$(readlink -f "${1:?usage: e2e_maximise.sh path/to/archivon}")
work=$(mktemp -d)
xvfb=""
app=""

cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/app.log" ] && sed 's/^/  program: /' "$work/app.log" >&2
    exit 1
}

shot() { # name
    [ -n "${ARCHIVON_SCREENSHOTS:-}" ] && import -window root "$ARCHIVON_SCREENSHOTS/$1.png" || true
}

box_open() { xdotool search --onlyvisible --name '^Archivon$' > /dev/null 2>&1; }

mkdir -p "$work/prog" "$work/fakebin" "$work/drives/c/Documenti" "$work/drives/r"
cp "$exe" "$work/prog/"
echo "lettera" > "$work/drives/c/Documenti/lettera.txt"
for cmd in systemctl loginctl; do
    printf '#!/bin/sh\necho "%s $*" >> "%s/requests"\n' "$cmd" "$work" > "$work/fakebin/$cmd"
    chmod +x "$work/fakebin/$cmd"
done

Xvfb -displayfd 3 -screen 0 1400x1000x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

PATH="$work/fakebin:$PATH" ARCHIVON_DRIVES="$work/drives" QT_QPA_PLATFORM=xcb \
    "$work/prog/archivon" > "$work/app.log" 2>&1 &
app=$!

wizard=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form4$' | head -n1) ||
    fail "the start wizard did not appear"
eval "$(xdotool getwindowgeometry --shell "$wizard")"
xdotool mousemove $((X + 60)) $((Y + 36)) click 1
sleep 0.3
xdotool key alt+v

main=$(timeout 20 xdotool search --sync --onlyvisible --name 'QORL - Backup & Restore v. 1.0' | head -n1) ||
    fail "the main window did not appear"
sleep 0.5
shot design
# No window manager here to maximise it: the window is moved to the corner
# and set to 150 % of its design client size (794 x 578 pixels) directly.
xdotool windowmove --sync "$main" 0 0
xdotool windowsize --sync "$main" 1191 867
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$WIDTH" -eq 1191 ] && [ "$HEIGHT" -eq 867 ] || fail "the window is ${WIDTH}x${HEIGHT}"
shot enlarged

# Where the button stood at the design size there is nothing now...
xdotool mousemove $((X + 724)) $((Y + 16)) click 1
sleep 1
box_open && fail "a box opened from the button's design place"
# ...it is at 150 %: left 14940, top 180, 2722 x 382 twips.
xdotool mousemove $((X + 996 + 90)) $((Y + 12 + 12)) click 1
box=$(timeout 10 xdotool search --sync --onlyvisible --name '^Archivon$' | head -n1) ||
    fail "Avvia Backup did not ask for confirmation"
shot confirmation
xdotool windowfocus --sync "$box"
xdotool key Escape # No
sleep 1
box_open && fail "the confirmation box did not close"
[ "$(find "$work/drives/r" -type f | wc -l)" -eq 0 ] || fail "files were copied"
[ ! -e "$work/prog/oldimp.pvx" ] || fail "a marker file was written"
[ ! -e "$work/requests" ] || fail "a shutdown or log-off was requested"
kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "PASS"
