#!/usr/bin/env bash
# Tried as a new user would: the real program under a virtual X server, the
# wizard walked to the main window, the window made half as large again, and
# "Avvia Backup" clicked where it has moved to. Its confirmation box is
# answered No, so nothing is copied. Shutdown and log-off go to recording
# fakes on PATH. With ARCHIVON_SCREENSHOTS set to a folder, screenshots of
# the enlarged window and of the box are left there.
set -euo pipefail

source "$(dirname "$0")/../support/e2e.sh"

shot() { # name
    [ -n "${ARCHIVON_SCREENSHOTS:-}" ] && import -window root "$ARCHIVON_SCREENSHOTS/$1.png" || true
}

mkdir -p "$work/drives/c/Documenti"
echo "lettera" > "$work/drives/c/Documenti/lettera.txt"
e2e_start "${1:?usage: e2e_maximise.sh path/to/archivon}" 1400x1000x24
e2e_wizard
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
