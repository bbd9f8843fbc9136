#!/usr/bin/env bash
# Takes the README's screenshots of the main window from the real program
# under a virtual X server: at rest, during a run and after a run that met a
# folder it cannot read and could not find three of its four sources. Shutdown and log-off go to the recording
# fakes of the script tests. Needs Xvfb, xdotool and ImageMagick.
# Usage: docs/screenshots.sh build/bin/archivon [output folder, default docs/]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(readlink -f "${2:-$here}")
source "$here/../tests/support/e2e.sh"

# Enough data in enough folders for a run that lasts a few seconds: one file
# of 4 MiB, linked under many names (the program copies each one in full).
c="$work/drives/c/Documenti"
mkdir -p "$c"
head -c 4194304 /dev/zero > "$work/blob"
for d in $(seq -w 1 40); do
    mkdir -p "$c/Pratiche $d"
    for f in $(seq 1 ${ARCHIVON_SHOT_FILES:-10}); do
        ln "$work/blob" "$c/Pratiche $d/documento $f.dat"
    done
done

# A folder the program cannot read; as root it runs without the capabilities
# that pass over permissions.
mkdir -p "$c/Riservata"
echo riservato > "$c/Riservata/contratto.txt"
chmod 000 "$c/Riservata"
[ "$(id -u)" -ne 0 ] || E2E_WRAP="setpriv --bounding-set -dac_override,-dac_read_search"

export LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 2>/dev/null # Qt reads them without a system locale
e2e_start "${1:?usage: docs/screenshots.sh path/to/archivon [folder]}" 1024x768x24
e2e_wizard ufficio2
eval "$(xdotool getwindowgeometry --shell "$main")"
shot() { # name: the main window alone, frame excluded
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/$1.png"
    mv "$work/$1.png" "$out/$1.png"
}
shot main-at-rest

xdotool mousemove $((X + 724)) $((Y + 16)) click 1 # Avvia Backup
box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Archivon$' | head -n1) ||
    fail "no confirmation box"
xdotool windowfocus --sync "$box"
sleep 0.2
xdotool key Return
sleep "${ARCHIVON_SHOT_DELAY:-1.2}"
shot main-during-run

# The end of the run (the marker file), any box it shows answered, then the
# list of what could not be done.
for _ in $(seq 600); do
    [ -f "$work/prog/oldimp.pvx" ] && break
    sleep 0.2
done
[ -f "$work/prog/oldimp.pvx" ] || fail "the run did not end"
sleep 1
if box_open; then
    xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Archivon$' | head -n1)"
    xdotool key Return
    sleep 1
fi
shot main-after-failures
echo "screenshots in $out"
