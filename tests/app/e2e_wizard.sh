#!/usr/bin/env bash
# Starts the real program under a virtual X server, walks the start wizard to
# the main window with the keyboard and mouse, and checks the backup folders
# it made on drive R:. Shutdown and log-off go to recording fakes on PATH.
set -euo pipefail

exe=$(readlink -f "${1:?usage: e2e_wizard.sh path/to/archivon}")
progdir=$(dirname "$exe")
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

# Recording fakes: nothing here may reach the real commands.
mkdir -p "$work/fakebin" "$work/drives/c" "$work/drives/r"
for cmd in systemctl loginctl; do # recording fakes, first on PATH
    printf '#!/bin/sh\necho "%s $*" >> "%s/requests"\n' "$cmd" "$work" > "$work/fakebin/$cmd"
    chmod +x "$work/fakebin/$cmd"
done

# The X server picks a free display itself and reports it when ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

before=$(ls -A "$progdir" | grep -vx BACKUP || true)

PATH="$work/fakebin:$PATH" ARCHIVON_DRIVES="$work/drives" QT_QPA_PLATFORM=xcb \
    "$exe" > "$work/app.log" 2>&1 &
app=$!

wizard=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form4$' | head -n1) ||
    fail "the start wizard did not appear"
eval "$(xdotool getwindowgeometry --shell "$wizard")"
# Option1 "Backup da PC a Server", then the user name box (design places, in pixels).
xdotool mousemove $((X + 60)) $((Y + 36)) click 1
sleep 0.3
xdotool mousemove $((X + 148)) $((Y + 212)) click 1
sleep 0.3
xdotool type --delay 30 'ufficio2'
xdotool key alt+v

timeout 20 xdotool search --sync --onlyvisible --name 'QORL - Backup & Restore v. 1.0' > /dev/null ||
    fail "the main window did not appear"
xdotool search --onlyvisible --name '^Form4$' > /dev/null 2>&1 && fail "the wizard is still open"

root="$work/drives/r/BKPQORL/$(uname -n)_ufficio2"
for sub in "" Documenti Outlook Preferiti "Address Book"; do
    [ -d "$root/$sub" ] || fail "missing folder $root/$sub"
done
[ "$(find "$work/drives/r" -mindepth 1 | wc -l)" -eq 6 ] || fail "unexpected entries on drive R:"
[ -z "$(ls -A "$work/drives/c")" ] || fail "drive C: was written"
[ ! -e "$work/requests" ] || fail "a shutdown or log-off was requested"
after=$(ls -A "$progdir" | grep -vx BACKUP || true)
[ "$before" = "$after" ] || fail "files left beside the program"
[ -d "$progdir/BACKUP" ] || fail "no BACKUP folder beside the program"

kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "PASS"
