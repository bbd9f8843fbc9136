#!/usr/bin/env bash
# Unattended runs of the real program onto a real Samba share on this machine,
# mounted twice with smbnetfs, as two clients reach one server: a run that
# starts while another holds the computer's backup folder is refused, through
# the other mount too, and neither fails because of the other; names are matched
# as the share matches them, and none it cannot keep is written. Skipped (77)
# where Samba, smbnetfs or /dev/fuse is missing.
set -euo pipefail

here=$(dirname "$0")
source "$here/../support/e2e.sh"
source "$here/../../scripts/share.sh"
missing=$(share_missing)
if [ -n "$missing" ]; then
    echo "SKIP: no Samba share can be made here: $missing"
    exit 77
fi
[ "$(id -u)" -eq 0 ] || { echo "SKIP: mounting the share needs root"; exit 77; }
exe=$(readlink -f "${1:?usage: e2e_share.sh path/to/archivon}")
cp "$exe" "$(dirname "$exe")"/anim*.gif "$work/prog/"
host=$(uname -n)
trap 'share_stop; e2e_cleanup' EXIT

share_start "$work/srv"
first=$SHARE_FOLDER
share_mount "$work/mnt2" "$work/home2"
second=$SHARE_FOLDER
src="$work/c/Documenti"
for i in $(seq 30); do
    mkdir -p "$src/cartella$i"
    for j in $(seq 10); do head -c 4096 /dev/urandom > "$src/cartella$i/f$j.dat"; done
done
for n in 1 2; do
    mkdir -p "$work/d$n"
    ln -s "$work/c" "$work/d$n/c"
done
ln -s "$first" "$work/d1/r"
ln -s "$second" "$work/d2/r"

unattended() { # n out: a run through mount n
    env -u DISPLAY PATH="$work/fakebin:$PATH" QT_QPA_PLATFORM=offscreen ARCHIVON_DRIVES="$work/d$1" \
        XDG_STATE_HOME="$work/state$1" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
        timeout 120 "$work/prog/archivon" --backup --utente ufficio2 "${@:3}" > /dev/null 2> "$2"
}
root="BKPQORL/${host}_ufficio2"

# One run holds the folder; a run through the other mount meanwhile is refused.
status1=0
unattended 1 "$work/err1" & run1=$!
for _ in $(seq 300); do
    [ -d "$second/$root/.archivon-blocco" ] && break
    sleep 0.05
done
[ -d "$second/$root/.archivon-blocco" ] || fail "the first run's lock is not seen through the second mount"
status2=0
unattended 2 "$work/err2" || status2=$?
wait "$run1" || status1=$?
[ "$status2" -eq 2 ] || { cat "$work/err2" >&2; fail "the second run gave $status2, not 2 (refused)"; }
grep -q "^archivon: Un altro backup di questo computer è in corso dal " "$work/err2" ||
    { cat "$work/err2" >&2; fail "the refusal does not say that another backup is running"; }
[ "$status1" -eq 0 ] || { cat "$work/err1" >&2; fail "the first run gave $status1, not 0"; }
diff -r "$src" "$first/$root/Documenti" > /dev/null || fail "Documenti not mirrored on the share"

# Two runs started together through the two mounts: never both at work, and
# neither fails because of the other.
for round in 1 2 3; do
    for j in $(seq 5); do head -c 4096 /dev/urandom > "$src/cartella$round/f$j.dat"; done
    status1=0 status2=0
    unattended 1 "$work/err1" & run1=$!
    unattended 2 "$work/err2" & run2=$!
    wait "$run1" || status1=$?
    wait "$run2" || status2=$?
    case "$status1 $status2" in
        "0 0" | "0 2" | "2 0") ;;
        *) cat "$work/err1" "$work/err2" >&2; fail "runs started together gave $status1 and $status2" ;;
    esac
    diff -r "$src" "$first/$root/Documenti" > /dev/null || fail "Documenti not mirrored after round $round"
done
# Names as the share treats them: a rename in case keeps its backup; of two names
# that differ only in case one is backed up, and names the share cannot keep are
# never written; both are said, and a run over the unchanged source writes nothing.
mv "$src/cartella1" "$src/Cartella1"
echo a > "$src/nota.txt"; echo b > "$src/NOTA.txt"; echo c > "$src/a:b.txt"; echo d > "$src/aux.txt"
for round in 1 2; do
    status1=0
    unattended 1 "$work/err1" || status1=$?
    [ "$status1" -eq 1 ] || { cat "$work/err1" >&2; fail "a run with names the share cannot keep gave $status1, not 1"; }
    log=$(find "$work/state1/archivon" -name 'archivon-*.log' | sort | tail -n1)
    for said in "nota.txt: non copiato: sulla destinazione ha lo stesso nome di «NOTA.txt»" \
                "a:b.txt: non copiato: il nome contiene «:»" "aux.txt: non copiato: «aux» è il nome di un dispositivo"; do
        grep -qF "$said" "$log" || { cat "$log" >&2; fail "round $round: the log does not say \"$said\""; }
    done
    grep -q "file eliminati: 0; spostati nelle versioni precedenti: 0 file, 0 byte$" "$log" || { cat "$log" >&2; fail "round $round removed something"; }
    [ "$round" = 1 ] || grep -q "^Coppia 1 copiata: 0 file," "$log" || { cat "$log" >&2; fail "the second round wrote again"; }
done
[ "$(ls "$first/$root/Documenti" | grep -ci '^cartella1$')" = 1 ] && ls "$first/$root/Documenti" | grep -qx Cartella1 ||
    fail "the folder renamed in case is not on the share under its new name alone"
diff -r "$src/Cartella1" "$first/$root/Documenti/Cartella1" > /dev/null || fail "the folder renamed in case lost its files"
[ "$(cat "$first/$root/Documenti/NOTA.txt")" = b ] || fail "NOTA.txt, first in byte order, is not the one backed up"
# Every evening given back from the share: e2e_restore.sh.
left=$(find "$first/BKPQORL" -name '.*' ! -name .archivon-byte ! -name .archivon-elenco ! -name .archivon-indice) # but the versions' records and the runs' lists
[ -z "$left" ] || fail "hidden entries left on the share: $left"
echo PASS
