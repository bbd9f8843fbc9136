#!/usr/bin/env bash
# A backup as a user makes it: the real program under a virtual X server, the
# wizard, the shutdown tick, the start button and the boxes, by clicks and
# keys. A first run is stopped; R: goes away under a second one; a third one
# runs to its end, and then the mirror, the marker file and the shutdown
# requests (sent to recording fakes first on PATH) are checked.
set -euo pipefail

source "$(dirname "$0")/../support/e2e.sh"

# Documenti with an empty folder, and enough files that a run is
# still copying when the stop is asked for; the other three sources missing.
c="$work/drives/c"
mkdir -p "$c/Documenti/Lettere/2026" "$c/Documenti/vuota" "$c/Documenti/molti"
echo "lettera" > "$c/Documenti/Lettere/2026/gennaio.txt"
(cd "$c/Documenti/molti" && seq 20000 | split -l 1 -a 5 - f)
# An earlier evening's backup holds a letter deleted on the computer since.
root="$work/drives/r/BKPQORL/$(uname -n)_ufficio2"
mkdir -p "$root/Documenti/Lettere/2026"
echo "firmata" > "$root/Documenti/Lettere/2026/contratto.txt"
e2e_start "${1:?usage: e2e_backup.sh path/to/archivon}"

# Answers the next message box with a key: Return is OK, or Yes.
answer_box() {
    local box
    box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Archivon$' | head -n1) ||
        fail "no message box appeared ($1)"
    xdotool windowfocus --sync "$box"
    sleep 0.2
    xdotool key Return
    for _ in $(seq 50); do
        box_open || return 0
        sleep 0.1
    done
    fail "the message box did not close ($1)"
}

e2e_wizard ufficio2
[ -d "$work/prog/BACKUP" ] || fail "no BACKUP folder beside the program"
eval "$(xdotool getwindowgeometry --shell "$main")"

# The shutdown tick (design place 2880, 6960 twips) warns once.
xdotool mousemove $((X + 200)) $((Y + 472)) click 1
answer_box "shutdown warning"
# "Avvia Backup" (9960, 120 twips, 1815 wide): the confirmation, answered Yes;
# then the same button, "Interrompi", and Yes to the stop question.
start_button() { xdotool mousemove $((X + 724)) $((Y + 16)) click 1; }
start_button
answer_box "confirmation"
start_button
answer_box "stop question"
for _ in $(seq 100); do
    grep -qs '^Esito: ' "$work/state/archivon/"*.log && break
    sleep 0.1
done
grep -qs '^Interrotto dall.utente\.$' "$work/state/archivon/"*.log || fail "the stop is not in the log"
[ ! -e "$work/prog/oldimp.pvx" ] && [ ! -e "$work/requests" ] ||
    fail "a stopped run wrote the marker or asked for a shutdown"

# R: goes away in the middle of the next run, which ends for it; once R: is back,
# the same window's next run takes over the lock the lost one could not remove.
logs() { grep -ls '^Esito: ' "$work/state/archivon/"*.log | wc -l; }
copied() { { find "$root/Documenti/molti" -type f 2>/dev/null || true; } | wc -l; }
before=$(copied)
start_button
answer_box "confirmation"
for _ in $(seq 300); do
    [ "$(copied)" -gt $((before + 50)) ] && break
    sleep 0.1
done
mv "$work/drives/r" "$work/drives/r.via"
answer_box "R: gone"
for _ in $(seq 100); do
    [ "$(logs)" -eq 2 ] && break
    sleep 0.1
done
grep -qs "L'unità di destinazione R: non è più disponibile" "$work/state/archivon/"*.log ||
    fail "the run that lost R: does not say so"
mv "$work/drives/r.via" "$work/drives/r"

start_button
answer_box "confirmation"

marker="$work/prog/oldimp.pvx"
for _ in $(seq 300); do
    [ -f "$marker" ] && break
    sleep 0.1
done
[ -f "$marker" ] || fail "no marker file after the backup"

diff -r "$c/Documenti" "$root/Documenti" > /dev/null || fail "Documenti is not mirrored"
kept=$(find "$root/Versioni precedenti" -path '*/Documenti/Lettere/2026/contratto.txt')
[ "$(cat "$kept")" = "firmata" ] || fail "the deleted letter is not among the earlier versions"

for _ in $(seq 50); do
    [ "$(wc -l < "$work/requests" 2>/dev/null || echo 0)" -ge 2 ] && break
    sleep 0.1
done
# What the recording fakes logged: the shutdown, then the log-off.
[ "$(head -n1 "$work/requests")" = "systemctl poweroff --ignore-inhibitors" ] || # recorded
    fail "no shutdown request first: $(cat "$work/requests" 2>/dev/null)"
sed -n 2p "$work/requests" | grep -q '^loginctl terminate-' || fail "no log-off request second" # recorded

grep -qs "^Nota: un'esecuzione precedente" "$(ls -t "$work/state/archivon/"*.log | head -n1)" ||
    fail "the run after R: came back does not say it took the lost run's lock over"

# The evening's unattended run, while the window stays open.
(env -u DISPLAY PATH="$work/fakebin:$PATH" ARCHIVON_DRIVES="$work/drives" QT_QPA_PLATFORM=offscreen \
    timeout 60 "$work/prog/archivon" --backup --utente ufficio2) > /dev/null 2>&1 ||
    fail "an unattended run beside the open window did not complete"
kill -0 "$app" 2>/dev/null || fail "the program ended"
echo "PASS"
