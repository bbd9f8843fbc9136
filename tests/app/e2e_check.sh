#!/usr/bin/env bash
# The check of the backup, by the real program: a backup, then --verifica over
# what someone or something did to it: a byte changed on R: with its size and
# time kept, a byte changed on C: with its time kept, four checks of a quarter
# each, and a backup started while a check reads, which the check gives way to; then a
# summary line that cannot be added, and an index of another pair in the place of one.
#   e2e_check.sh path/to/archivon local|exfat|share
# R: is a folder of the local disk, an exFAT image (needs root and exfat-fuse)
# or a Samba share through smbnetfs (needs root, Samba and FUSE); skipped (77)
# where the drive cannot be made.
set -euo pipefail

here=$(dirname "$0")
source "$here/../support/e2e.sh"
exe=$(readlink -f "${1:?usage: e2e_check.sh path/to/archivon local|exfat|share}")
kind=${2:?usage: e2e_check.sh path/to/archivon local|exfat|share}

d="$work/drives" c="$work/drives/c"
e2e_drive "$kind" 128M
cp "$exe" "$(dirname "$exe")"/anim*.gif "$work/prog/"
mkdir -m 700 "$work/runtime"
host=$(uname -n)
show() { sed 's/^/  /' "$@" >&2; }

through=(timeout 120)
archivon() { # [--as NAME] arguments...: sets $status, output in $work/NAME.out and .err (NAME: run)
    local as=run
    [ "$1" = --as ] && { as=$2; shift 2; }
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/fakebin:$PATH" QT_QPA_PLATFORM=offscreen ARCHIVON_DRIVES="$d" \
        XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" \
        XDG_CONFIG_HOME="$work/config" "${through[@]}" "$work/prog/archivon" "$@" \
        > "$work/$as.out" 2> "$work/$as.err" || status=$?
}
expect() { # status what [name]
    [ "$status" -eq "$1" ] || { show "$work/${3:-run}.out" "$work/${3:-run}.err"; fail "$2: exit status $status, expected $1"; }
}
says() { # text what [name]: the check's standard error names it
    grep -qF -- "$1" "$work/${3:-run}.err" || { show "$work/${3:-run}.err"; fail "$2"; }
}
check() { archivon --verifica --utente ufficio2 "$@"; }

D="$c/Documenti" B="$d/r/BKPQORL/${host}_ufficio2"
IX="$B/.archivon-indice"
mkdir -p "$D/Lettere" "$D/Pratiche/sub" "$c/Sys/Windows/Preferiti"
for n in 01 02 03 04 05 06 07 08 09 10 11; do echo "lettera $n" > "$D/Lettere/l$n.txt"; done
head -c 300000 /dev/urandom > "$D/Pratiche/p1.bin"
echo due > "$D/Pratiche/sub/p2.txt"
echo sito > "$c/Sys/Windows/Preferiti/sito.url"
archivon --backup --utente ufficio2
expect 0 "the first backup"
# The runs write the index as they copy: a first check finds every file whole.
[ -d "$IX" ] || fail "the backup wrote no index"
check
expect 0 "the first check"
! grep -qF "nessuna impronta ancora" "$work/run.err" || fail "a file the run copied has no fingerprint in its index"

# The refusals: bad arguments, and the sources of another computer.
for args in "--quota 0%" "--quota 101" "--sorgente --computer ALTRO"; do
    # shellcheck disable=SC2086
    check $args
    expect 2 "--verifica $args"
done

# A backup with nothing to do changes nothing on R:: no dated folder, no list.
dated=$(ls "$B/Versioni precedenti" | wc -l)
archivon --backup --utente ufficio2
expect 0 "a backup with nothing changed"
[ "$(ls "$B/Versioni precedenti" | wc -l)" -eq "$dated" ] || fail "a backup that changed nothing left a dated folder"

# (a) A byte changed on R:, its size and time kept: the check names it damaged and
# marks it (a check of a part counts it still); the next backup copies it again, and
# a check is whole. Then a file on R: touched.
hit="$B/Documenti/Pratiche/p1.bin"
cp -p "$hit" "$work/p1.ref"
printf 'X' | dd of="$hit" bs=1 seek=1000 conv=notrunc status=none
touch -r "$work/p1.ref" "$hit"
check
expect 1 "a byte changed on R:"
says "p1.bin: backup danneggiato" "the damaged file is not named"
marked() { cat "$IX"/Documenti | awk -F '\t' '$1 == "file" && $2 == "\\Pratiche\\p1.bin" { print $8 }'; }
[ "$(marked)" = danneggiato ] || fail "the index does not mark the damaged file: \"$(marked)\""
# A check of a part that leaves the damaged file out still counts it: not whole.
check --quota 25%
expect 1 "a check of a quarter while a file is marked damaged"
tail -1 "$B/archivon-verifica.log" | grep -qP '\tproblemi\t' || fail "the summary forgets the damage still marked"
archivon --backup --utente ufficio2
expect 0 "the backup after the damage"
kept=$(find "$B/Versioni precedenti" -path '*/Documenti/Pratiche/p1.bin' | head -1)
[ -n "$kept" ] && ! cmp -s "$kept" "$work/p1.ref" || fail "the damaged copy did not go into the earlier versions"
grep -qs "danneggiato" "$(dirname "$(dirname "$(dirname "$kept")")")/.archivon-elenco" ||
    { cat "$(dirname "$(dirname "$(dirname "$kept")")")/.archivon-elenco" >&2; fail "the run's list does not name the damaged copy it kept"; }
cmp -s "$hit" "$D/Pratiche/p1.bin" || fail "the damaged file was not put right"
# The damaged copy kept in the dated folder stays marked until it reads whole again.
keptmark() { cat "$IX"/Documenti | awk -F '\t' '$1 == "versione" && $3 == "\\Pratiche\\p1.bin" { print $7 }'; }
[ "$(keptmark)" = danneggiato ] || fail "the index does not mark the damaged copy kept: \"$(keptmark)\""
cp -p "$work/p1.ref" "$kept"
check --anche-versioni
expect 0 "the check of the dated folders with the kept copy put right"
[ "$(keptmark)" = - ] || fail "the mark stays on a kept copy read whole again"
check
expect 0 "the check after the damage was put right"
[ "$(marked)" = - ] || fail "the mark stays on a file read whole again"
# Only the time of a file on R: moved: named, and no problem.
touch -d '2020-01-02 03:04:05' "$B/Documenti/Lettere/l03.txt"
check
expect 0 "a file on R: whose time alone changed"
says "l03.txt: solo la data è cambiata" "a file whose time alone changed is not named so"

# (b) A byte changed on C:, its time kept: named, never copied over the backup.
src="$D/Lettere/l05.txt"
cp -p "$src" "$work/l05.ref"
printf 'L' | dd of="$src" bs=1 seek=0 conv=notrunc status=none
touch -r "$work/l05.ref" "$src"
check --sorgente
expect 1 "a byte changed on C: with its time"
says "l05.txt: l'originale è cambiato senza cambiare data" "the source changed without its time is not named"
cmp -s "$B/Documenti/Lettere/l05.txt" "$work/l05.ref" || fail "the check touched the backup of the changed source"
cp -p "$work/l05.ref" "$src"

# (c) Four checks of a quarter each read every file once: each file's checkedAt is
# one of theirs, after the start of the first.
files=$(find "$B/Documenti" "$B/Preferiti" -type f 2> /dev/null | wc -l)
sleep 1.1
from=$(date +%s)
for round in 1 2 3 4; do
    check --quota 25%
    expect 0 "check $round of four at 25%"
    grep -q "^Letti $(((files + 3) / 4)) file di $files" "$work/run.out" ||
        { show "$work/run.out"; fail "check $round at 25% did not read a quarter of $files files"; }
    sleep 1.1
done
checked=$(cat "$IX"/* | awk -v from="$from" 'BEGIN { FS = "\t" } $1 == "file" && $7 >= from { n++ } END { print n + 0 }')
[ "$checked" -eq "$files" ] || fail "four checks at 25% read $checked of $files files since the first"

# (d) A backup started while a check reads, slowed down: the check gives way (3),
# the backup gets the folder within a minute and completes.
mkdir "$D/Archivio"
head -c $((24 * 1048576)) /dev/urandom | split -b 1048576 -a 2 -d - "$D/Archivio/a"
archivon --backup --utente ufficio2
expect 0 "the backup of the large files"
through=(strace -f -qq -o /dev/null -e trace=read -e inject=read:delay_exit=150000 timeout 120)
(archivon --as check --verifica --utente ufficio2; exit "$status") &
checking=$!
through=(timeout 120)
for _ in $(seq 300); do grep -qs "tipo=verifica" "$B/.archivon-blocco/proprietario" && break; sleep 0.1; done
grep -qs "tipo=verifica" "$B/.archivon-blocco/proprietario" || fail "the check did not take the lock"
echo nuovo > "$D/Lettere/nuovo.txt"
start=$(date +%s)
archivon --backup --utente ufficio2
expect 0 "the backup started while a check read"
[ $(($(date +%s) - start)) -le 75 ] || fail "the backup waited more than a minute for the check"
wait "$checking" && status=0 || status=$?
expect 3 "the check a backup asked to give way" check
says "lasciare il posto a un backup" "the check does not say it gave way" check
cmp -s "$B/Documenti/Lettere/nuovo.txt" "$D/Lettere/nuovo.txt" || fail "the backup after the check did not copy"
check
expect 0 "the check after the backup"

# A check whose line cannot be added to the summary is not whole.
mv "$B/archivon-verifica.log" "$B/verifica-da-parte"
mkdir "$B/archivon-verifica.log"
check
expect 1 "a check whose summary line cannot be added"
says "il riepilogo della verifica non è stato aggiunto" "a summary line not added is not said"
rmdir "$B/archivon-verifica.log"
mv "$B/verifica-da-parte" "$B/archivon-verifica.log"

# (e) The index of another pair in the place of this one's: named, read as none, left as it is.
cp "$IX/Preferiti" "$IX/Documenti"
cp "$IX/Preferiti" "$work/other.ix"
check
expect 1 "a check with another pair's index"
grep -qF "è di un'altra cartella" "$work/run.out" || { show "$work/run.out"; fail "an index of another pair is not named"; }
cmp -s "$work/other.ix" "$IX/Documenti" || fail "the check rewrote an index of another pair"
echo PASS
