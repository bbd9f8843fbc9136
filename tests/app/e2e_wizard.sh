#!/usr/bin/env bash
# Starts the real program under a virtual X server, walks the start wizard to
# the main window with the keyboard and mouse, and checks the backup folders
# it made on drive R:. Shutdown and log-off go to recording fakes on PATH.
set -euo pipefail

source "$(dirname "$0")/../support/e2e.sh"
exe=$(readlink -f "${1:?usage: e2e_wizard.sh path/to/archivon}")
progdir=$(dirname "$exe")
before=$(ls -A "$progdir" | grep -vx BACKUP || true)
e2e_start "$exe" 1024x768x24 "$progdir"
e2e_wizard ufficio2
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
