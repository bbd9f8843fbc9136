# Shared by the script tests that start the real program under a virtual X
# server. Source it, then: e2e_start EXE [SCREEN], e2e_wizard NAME.
# Shutdown and log-off go to recording fakes first on PATH: nothing here may
# reach the real commands.
set -euo pipefail

work=$(mktemp -d)
xvfb=""
app=""

e2e_cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap e2e_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/app.log" ] && sed 's/^/  program: /' "$work/app.log" >&2
    exit 1
}

box_open() { xdotool search --onlyvisible --name '^Archivon$' > /dev/null 2>&1; }

mkdir -p "$work/prog" "$work/fakebin" "$work/drives/c" "$work/drives/r"
export XDG_STATE_HOME="$work/state" # the run logs, out of the user's state folder
for cmd in systemctl loginctl; do # recording fakes, first on PATH
    printf '#!/bin/sh\necho "%s $*" >> "%s/requests"\n' "$cmd" "$work" > "$work/fakebin/$cmd"
    chmod +x "$work/fakebin/$cmd"
done

# Starts Xvfb (it picks a free display) and a copy of the program in
# $work/prog, so that the marker lands there.
e2e_start() { # exe [screen]
    local screen=${2:-1024x768x24} exe
    cp "$1" "$(dirname "$1")"/anim*.gif "$work/prog/"
    exe="$work/prog/archivon"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
    PATH="$work/fakebin:$PATH" ARCHIVON_DRIVES="$work/drives" QT_QPA_PLATFORM=xcb \
        "$exe" > "$work/app.log" 2>&1 &
    app=$!
}

# Backup, the user name typed, Alt+V; sets $main to the main window.
e2e_wizard() { # name
    local wizard
    wizard=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form4$' | head -n1) ||
        fail "the start wizard did not appear"
    eval "$(xdotool getwindowgeometry --shell "$wizard")"
    # Option1 "Backup da PC a Server", then the user name box (design places, in pixels).
    xdotool mousemove $((X + 60)) $((Y + 36)) click 1
    sleep 0.3
    xdotool mousemove $((X + 148)) $((Y + 212)) click 1
    sleep 0.3
    xdotool type --delay 30 "$1"
    xdotool key alt+v
    main=$(timeout 20 xdotool search --sync --onlyvisible --name 'QORL - Backup & Restore v. 1.0' | head -n1) ||
        fail "the main window did not appear"
    sleep 0.5
}

# Makes R: (the folder $work/drives/r) the drive kind $1: a folder of the local
# disk, an exFAT image of $2 (names folded, whole seconds: needs root and
# exfat-fuse) or a Samba share through smbnetfs (needs root, Samba and FUSE).
# Where it cannot be made, the test is skipped (77).
e2e_drive() { # local|exfat|share [image-size]
    local r="$work/drives/r"
    case $1 in
    local) ;;
    exfat)
        [ "$(id -u)" -eq 0 ] || { echo "SKIP: mounting the exFAT image needs root"; exit 77; }
        command -v mkfs.exfat > /dev/null && command -v mount.exfat-fuse > /dev/null ||
            { echo "SKIP: exfat-fuse is missing"; exit 77; }
        truncate -s "${2:-128M}" "$work/exfat.img"
        mkfs.exfat "$work/exfat.img" > /dev/null 2>&1
        E2E_LOOP=$(losetup -f --show "$work/exfat.img")
        trap 'umount "$work/drives/r" 2>/dev/null; losetup -d "$E2E_LOOP"; e2e_cleanup' EXIT
        mount.exfat-fuse "$E2E_LOOP" "$r" > /dev/null 2>&1 || fail "the exFAT image did not mount" ;;
    share)
        source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/share.sh"
        local missing
        missing=$(share_missing)
        [ -z "$missing" ] || { echo "SKIP: no Samba share can be made here: $missing"; exit 77; }
        [ "$(id -u)" -eq 0 ] || { echo "SKIP: mounting the share needs root"; exit 77; }
        trap 'share_stop; e2e_cleanup' EXIT
        share_start "$work/srv"
        rmdir "$r" && ln -s "$SHARE_FOLDER" "$r" ;;
    *) fail "no drive kind \"$1\"" ;;
    esac
}
