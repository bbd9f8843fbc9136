#!/usr/bin/env bash
# Unattended runs of the real program with no display (offscreen), on real
# temporary drives, as cron or a systemd timer would start them: the exit
# status, the record in the state folder and on R:, the line on standard
# error, and what reached the drives. Shutdown goes to recording fakes first
# on PATH, never to the real commands.
set -euo pipefail

source "$(dirname "$0")/../support/e2e.sh"
exe=$(readlink -f "${1:?usage: e2e_unattended.sh path/to/archivon}")
cp "$exe" "$(dirname "$exe")"/anim*.gif "$work/prog/"
host=$(uname -n)
mkdir -m 700 "$work/runtime"

archivon() { # drives command...: in a subshell, which it becomes: no display, no USER (as a
    # timer's run), state in $work
    exec env -u DISPLAY -u WAYLAND_DISPLAY -u USER -u XDG_SESSION_ID PATH="$work/fakebin:$PATH" QT_QPA_PLATFORM=offscreen \
        ARCHIVON_DRIVES="$1" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" \
        XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" "${@:2}"
}
# run_unattended DRIVES ARG...: sets $status; output in $work/out, $work/err.
run_unattended() {
    status=0
    (archivon "$1" timeout 60 "$work/prog/archivon" "${@:2}") > "$work/out" 2> "$work/err" || status=$?
    [ "$status" -ne 124 ] || fail "the unattended run did not end (a box waiting?)"
}
show() { sed 's/^/  /' "$@" >&2; }
state() { # every entry of the drives and of the program's folders, with its size and times
    { find "$d1" "$work/data" "$work/state" "$work/config" "$work/prog" -printf '%p %s %T@ %C@\n' 2>/dev/null || true; } | sort
}
expect_status() {
    [ "$status" -eq "$1" ] || { show "$work/err"; fail "$2: exit status $status, expected $1"; }
}
latest_log() { find "$work/state/archivon" -name 'archivon-*.log' | sort | tail -n1; }
log_has() { # log text what
    grep -qF -- "$2" "$1" || { show "$1"; fail "the log lacks \"$2\" ($3)"; }
}
summary_is() { # text what: the one line the run leaves on standard error
    local lines
    lines=$(grep -c '^archivon: backup ' "$work/err" || true)
    [ "$lines" -eq 1 ] && grep -q "^archivon: backup $1" "$work/err" ||
        { show "$work/err"; fail "no single summary line \"$1\" on standard error ($2)"; }
}

# 1. A clean run with --spegni: one source missing is skipped, not a failure.
d1="$work/drives"
mkdir -p "$d1/c/Documenti/Lettere" "$d1/c/Sys/Windows/Preferiti" \
         "$d1/c/Sys/Windows/Application Data/Microsoft/Address Book"
echo lettera > "$d1/c/Documenti/Lettere/gennaio.txt"
head -c 200000 /dev/urandom > "$d1/c/Documenti/dati.bin"
echo sito > "$d1/c/Sys/Windows/Preferiti/sito.url"
run_unattended "$d1" --backup --utente ufficio2 --spegni
expect_status 0 "clean run"
root="$d1/r/BKPQORL/${host}_ufficio2"
diff -r "$d1/c/Documenti" "$root/Documenti" > /dev/null || fail "Documenti not mirrored"
log=$(latest_log)
log_has "$log" "Esito: completato senza errori" "clean run"
log_has "$log" "Tipo di copia: aggiornamento" "clean run"
log_has "$log" "Coppia 1 copiata: 2 file, " "clean run"
log_has "$log" " 200008 byte in " "clean run"
log_has "$log" "Coppia 2 saltata: C:\\Sys\\Windows\\Application Data\\Identities" "clean run"
log_has "$log" "Spegnimento richiesto: sì" "clean run"
log_has "$log" "File oldimp.pvx scritto." "clean run"
grep -Eq "^Riepilogo: esito=completato; errori=0; coppie-saltate=1; inizio=([^;]+); .*ultimo-senza-errori=\1; " "$log" ||
    { show "$log"; fail "the summary line of a clean run does not name it the last without failures"; }
# The first run of a computer: the present alone, or every moment once runs leave their lists.
grep -Eq "^Riepilogo: .*; ripristinabile-dal=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}" "$log" ||
    { show "$log"; fail "the summary line does not say how far back a restore goes"; }
log_has "$log" "Domanda: Sei sicuro di voler avviare la copia?" "clean run"
cmp -s "$log" "$root/archivon.log" || fail "the copy on R: differs from the log"
summary_is "completato senza errori" "clean run"
grep -qx "systemctl poweroff --ignore-inhibitors" "$work/requests" || # recorded
    fail "--spegni did not ask for a shutdown"
grep -qx "loginctl terminate-user $(id -un)" "$work/requests" || # recorded
    fail "the log-off does not name the user: $(cat "$work/requests")"
[ -f "$work/prog/oldimp.pvx" ] || fail "no marker after a clean run"

# 1b. The backup given back whole over the lived-in Documenti (refused), then as a
#     dry run (nothing written anywhere). (Every evening given back: e2e_restore.sh.)
run_unattended "$d1" --ripristina --utente ufficio2
expect_status 2 "a whole restore over the lived-in Documenti"
grep -qF -- "--percorso" "$work/err" || { show "$work/err"; fail "the refusal does not ask for --percorso"; }
before=$(state)
run_unattended "$d1" --ripristina --utente ufficio2 --percorso 'Documenti\Lettere' --prova
expect_status 0 "the restore's dry run"
[ "$(state)" = "$before" ] || fail "the restore's dry run wrote something"

# 2. A name the program cannot carry is a failure: completed with failures. The
#    settings ask for a full rewrite, name an R: that ARCHIVON_DRIVES overrides, and give
#    days of versions that are no number (the default is kept, and said).
rm -f "$work/requests"
mkdir -p "$work/config/archivon" "$work/server"
printf '[General]\nCopiaCompleta=true\nGiorniVersioni=trenta\n[Unita]\nR=%s\n' "$work/server" > "$work/config/archivon/archivon.conf"
touch "$d1/c/Documenti/Lettere/a\\b.txt"
run_unattended "$d1" --backup --utente ufficio2
expect_status 1 "run with a failure"
log=$(latest_log)
log_has "$log" "Esito: completato con 1 errore" "run with a failure"
log_has "$log" "Errore: C:\\Documenti\\Lettere\\" "run with a failure"
log_has "$log" "Spegnimento richiesto: no" "run with a failure"
log_has "$log" "Tipo di copia: completa" "run with a failure"
log_has "$log" "il valore GiorniVersioni=trenta non è un numero intero di giorni (0 o più): le versioni precedenti sono tenute per 30 giorni." "a bad GiorniVersioni"
grep -qF "GiorniVersioni=trenta" "$work/err" || fail "a bad GiorniVersioni is not said on standard error"
rm "$work/config/archivon/archivon.conf"
summary_is "completato con 1 errore" "run with a failure"
[ -z "$(ls -A "$work/server")" ] || fail "the run wrote to the R: of the settings, not of ARCHIVON_DRIVES"
[ ! -e "$work/requests" ] || fail "a shutdown was asked for without --spegni"
[ "$(find "$work/state/archivon" -name 'archivon-*.log' | wc -l)" -eq 2 ] || fail "expected one log per run"

# 2b. A second user's run, then the overview of both: read, nothing written, and no
#     default drive folder made where none is mapped.
run_unattended "$d1" --backup --utente ufficio3
expect_status 1 "the second user's run"
before=$(state)
run_unattended "$d1" --stato --csv
expect_status 1 "the overview" # ufficio3 has never run without failures
[ "$(state)" = "$before" ] || fail "--stato changed the drives"
# How far back a restore goes is there for both, then the last check's columns: never
# checked, so no mark for it; the columns before them as they were.
sed -n 2,3p "$work/out" | awk -F';' 'NF != 18 || $14 == "" { exit 1 }' ||
    { show "$work/out"; fail "the overview does not say how far back each backup can be given back"; }
sed -n 2,3p "$work/out" | awk -F';' '$15 != "" || $16 != "mai verificato" || $17 != "" || $18 != "" { exit 1 }' ||
    { show "$work/out"; fail "the overview's check columns are not those of a backup never checked"; }
sed -n 2,3p "$work/out" | cut -d';' -f1-13 > "$work/lines"
printf '%s\n' "${host}_ufficio3;$host;ufficio3;*;con 1 errore;1;;;200013;200013;1;*;completa, ma sempre con errori" \
    "${host}_ufficio2;$host;ufficio2;*;con 1 errore;1;*;0;200013;200013;2;*;" > "$work/expected"
paste -d '\n' "$work/expected" "$work/lines" | while read -r want && read -r got; do
    [[ "$got" == $want ]] || { show "$work/out"; fail "the overview's line \"$got\" is not \"$want\""; }
done
run_unattended "" --stato
expect_status 2 "the overview with no drive folder"
[ "$(state)" = "$before" ] || fail "--stato with no drive folder made one"

# 2c. A dry run after changes to the source: what the update would do, one entry a line, and
#     nothing written anywhere; the run that follows ends with the status it foresaw.
echo nuovo > "$d1/c/Documenti/nuovo.txt"
echo cambiata >> "$d1/c/Documenti/Lettere/gennaio.txt"
rm "$d1/c/Documenti/dati.bin"
mkdir -p "$d1/r/BKPQORL/${host}_ufficio2/Versioni precedenti/2020-01-07 19.30.05"
before=$(state)
run_unattended "$d1" --backup --utente ufficio2 --prova
expect_status 1 "the dry run" # the name holding "\" cannot be carried
D="R:\\BKPQORL\\${host}_ufficio2\\Documenti"
kept=" (la versione precedente va nelle versioni precedenti)"
for line in "  da copiare: $D\\nuovo.txt (6 byte)" "  da sostituire: $D\\Lettere\\gennaio.txt (17 byte)$kept" \
    "  da togliere: $D\\dati.bin$kept" "Versioni precedenti più vecchie di 30 giorni, da eliminare: " "  errore: C:\\Documenti\\Lettere\\a" "Esito previsto: completato con 1 errore. Stato d'uscita: 1."; do
    grep -qF -- "$line" "$work/out" || { show "$work/out"; fail "the dry run does not say \"$line\""; }
done
[ "$(state)" = "$before" ] || fail "the dry run changed the drives or the program's folders"
run_unattended "$d1" --backup --utente ufficio2
expect_status 1 "the run after the dry run"

# 3. Drive R: not ready: refused before anything changed; the messages a box
#    would have shown are in the log and on standard error.
d3="$work/drives3"
mkdir -p "$d3/c/Documenti"
echo x > "$d3/c/Documenti/x.txt"
marker=$(md5sum < "$work/prog/oldimp.pvx")
run_unattended "$d3" --backup --utente ufficio2
expect_status 2 "refused run"
log=$(latest_log)
log_has "$log" "Messaggio: Impossibile creare la cartella R:\\BKPQORL" "refused run"
log_has "$log" "Esito: rifiutato" "refused run"
grep -q "^archivon: Impossibile creare la cartella R:" "$work/err" ||
    { show "$work/err"; fail "the message of the refused run is not on standard error"; }
[ "$(md5sum < "$work/prog/oldimp.pvx")" = "$marker" ] || fail "a refused run changed the marker"
[ "$(find "$d3" | wc -l)" -eq 4 ] || fail "a refused run changed the drives"

# 3a. A user name a Windows share refuses, whatever R: is: refused before anything is
#     made, backup folder included, with no success said.
for user in 'a<b' 'a>b' 'a:b' 'a"b' 'a|b' 'a?b' 'a*b' 'ufficio.' 'ufficio '; do
    before=$(find "$d1/r" | sort)
    run_unattended "$d1" --backup --utente "$user"
    expect_status 2 "the user name \"$user\""
    grep -q "^archivon: Il nome della cartella del computer «${host}_" "$work/err" ||
        { show "$work/err"; fail "no refusal of the user name \"$user\""; }
    ! grep -q "completat\|success" "$work/err" || { show "$work/err"; fail "success said for \"$user\""; }
    [ "$(find "$d1/r" | sort)" = "$before" ] || fail "the user name \"$user\" made something on R:"
done

# 3b. Another run holds the computer's backup folder: refused before anything is
#     written, even with --spegni: no record on R:, no marker, no shutdown.
sleep 120 & holder=$!
lock="$root/.archivon-blocco"
mkdir "$lock"
printf 'host=%s\nboot=%s\npid=%s\navvio-processo=%s\ninizio=2026-12-07T19:30:05\ntoken=t\n' "$host" \
    "$(cat /proc/sys/kernel/random/boot_id)" "$holder" "$(cut -d' ' -f22 "/proc/$holder/stat")" > "$lock/proprietario"
record=$(md5sum < "$root/archivon.log")
rm -f "$work/requests"
run_unattended "$d1" --backup --utente ufficio2 --spegni
expect_status 2 "run while another holds the lock"
grep -q "^archivon: Un altro backup di questo computer è in corso dal 07/12/2026 alle 19:30:05" "$work/err" ||
    { show "$work/err"; fail "the refusal for the lock is not on standard error"; }
log=$(latest_log)
log_has "$log" "Messaggio: Un altro backup di questo computer è in corso" "locked run"
log_has "$log" "Riepilogo: esito=bloccato;" "locked run"
[ "$(md5sum < "$root/archivon.log")" = "$record" ] || fail "a refused run wrote its record on R:"
[ "$(md5sum < "$work/prog/oldimp.pvx")" = "$marker" ] || fail "a refused run changed the marker"
before=$(state)
run_unattended "$d1" --backup --utente ufficio2 --spegni --prova
expect_status 2 "a dry run while another holds the lock"
grep -q "^archivon: Un altro backup di questo computer è in corso" "$work/err" ||
    { show "$work/err"; fail "the dry run does not give the lock's refusal"; }
[ "$(state)" = "$before" ] || fail "a dry run refused for the lock wrote something"
[ ! -e "$work/requests" ] || fail "a refused run asked for a shutdown"
kill "$holder"
wait "$holder" 2>/dev/null || true
rm -r "$lock" # (a lock of a process that is gone is taken over: tst_engine)

# 3c. Drive C: not ready: no pair backed up is a failure that says why; no marker,
#     and the shutdown is still asked for.
mkdir -p "$work/drives4/r"
rm -f "$work/requests"
marker=$(md5sum < "$work/prog/oldimp.pvx")
run_unattended "$work/drives4" --backup --utente ufficio2 --spegni
expect_status 1 "run with no drive C:"
log=$(latest_log)
log_has "$log" "Backup non eseguito: l'unità C: non è disponibile, nessuna cartella è stata copiata" "no C:"
log_has "$log" "Coppia 4 saltata: C:\Sys\Windows\Application Data\Microsoft\Address Book: l'unità C: non" "no C:"
[ "$(md5sum < "$work/prog/oldimp.pvx")" = "$marker" ] || fail "a run that backed up nothing wrote the marker"
grep -qx "systemctl poweroff --ignore-inhibitors" "$work/requests" || fail "no shutdown after a run with no C:" # recorded

# 3d. A new user's dry run, before any start has made the drive folder, with no settings and
#     ARCHIVON_DRIVES unset: R: is not ready, and nothing is written in that user's home (which
#     the XDG folders are in, all of it in $work) nor beside the program.
fresh="$work/fresh"
mkdir -p "$fresh/Documenti" && mkdir -m 700 "$fresh/.run"
echo nuovo > "$fresh/Documenti/nuovo.txt"
home_state() { find "$fresh" "$work/prog" -printf '%p %s %T@ %C@\n' | sort; }
before=$(home_state)
status=0
(cd "$fresh" && exec env -i PATH="$work/fakebin:$PATH" LANG="${LANG:-C.UTF-8}" LC_ALL="${LC_ALL:-}" \
    HOME="$fresh" XDG_DATA_HOME="$fresh/.local/share" XDG_CONFIG_HOME="$fresh/.config" \
    XDG_STATE_HOME="$fresh/.local/state" XDG_CACHE_HOME="$fresh/.cache" XDG_RUNTIME_DIR="$fresh/.run" \
    QT_QPA_PLATFORM=offscreen timeout 60 "$work/prog/archivon" --backup --utente nuovo --prova) \
    > "$work/out" 2> "$work/err" || status=$?
expect_status 2 "a dry run with no drive folder"
for line in "archivon: La cartella dei dischi $fresh/.local/share/archivon/drives non c'è: il backup la creerebbe" \
    "archivon: L'unità di destinazione R: non è disponibile!"; do
    grep -qF -- "$line" "$work/err" || { show "$work/err"; fail "the dry run with no drive folder does not say \"$line\""; }
done
grep -qxF "Esito previsto: backup rifiutato prima di cambiare qualcosa. Stato d'uscita: 2." "$work/out" ||
    { show "$work/out"; fail "the dry run with no drive folder does not foresee a refusal"; }
[ "$(home_state)" = "$before" ] || fail "the dry run wrote in the new user's home or beside the program"

# 3e. A new user's first start: R: is the placeholder it makes, said in the log and on standard
#     error. An R: set on C:'s disk (a share not mounted) is refused before anything is written.
mkdir -p "$work/home/Documenti" "$work/vuota"
echo nuovo > "$work/home/Documenti/nuovo.txt"
HOME="$work/home" run_unattended "" --backup --utente nuovo
expect_status 0 "a new user's run"
log_has "$(latest_log)" "Avviso: Attenzione: l'unità R: non è il server ma la cartella $work/data/archivon/drives/r" "new user"
grep -q "^archivon: Attenzione: l'unità R: non è il server" "$work/err" || { show "$work/err"; fail "no warning of the placeholder R:"; }
printf '[Unita]\nR=%s\n' "$work/vuota" > "$work/config/archivon/archivon.conf"
HOME="$work/home" run_unattended "" --backup --utente nuovo
expect_status 2 "an R: on C:'s disk"
grep -q "si trova sullo stesso disco dell'unità C:" "$work/err" || { show "$work/err"; fail "no refusal of R: on C:'s disk"; }
[ -z "$(ls -A "$work/vuota")" ] || fail "the refused run wrote to the R: of the settings"
rm "$work/config/archivon/archivon.conf"

# 4. Killed mid-update (SIGKILL): every file of the previous backup is whole, under
#    its name (old or new) or among the earlier versions, and the next run leaves an
#    exact mirror with nothing hidden beside it, and every old content in the
#    versions. (A stop on an exFAT drive, like a share: tst_engine.)
d="$work/drives5" src="$work/drives5/c/Documenti" dest="$work/drives5/r/BKPQORL/${host}_ufficio2/Documenti"
mkdir -p "$src" "$d/r"
fill() { # content letter
    for i in $(seq 40); do
        mkdir -p "$src/cartella$i"
        head -c 1000000 /dev/zero | tr '\0' "$1" | split -b 20000 - "$src/cartella$i/f"
    done
}
fill o
run_unattended "$d" --backup --utente ufficio2
expect_status 0 "first run on $d"
sleep 1 # the new versions a second later, whatever step the drive keeps times in
fill n
# Killed as the first new version is renamed into place.
coproc WATCH { exec stdbuf -oL inotifywait -m -r -e moved_to --format x "$dest" 2>&1; }
read -r -u "${WATCH[0]}" _ # "Setting up watches."
read -r -u "${WATCH[0]}" _ # "Watches established."
archivon "$d" "$work/prog/archivon" --backup --utente ufficio2 > /dev/null 2>&1 &
victim=$!
read -r -t 60 -u "${WATCH[0]}" _ || fail "no new version was renamed into place on $d"
kill -KILL "$victim"
kill "$WATCH_PID"
wait "$victim" 2>/dev/null || true
# Two contents only, old and new, and every one of the 2000 files somewhere.
kept="$d/r/BKPQORL/${host}_ufficio2/Versioni precedenti"
mkdir -p "$kept"
held=$( { (cd "$dest" && find . -name 'f*' -type f)
          for v in "$kept"/*/Documenti; do [ ! -d "$v" ] || (cd "$v" && find . -name 'f*' -type f); done; } | sort -u | wc -l)
[ "$held" -eq 2000 ] || fail "a killed update lost files on $d: $held of 2000 left"
contents=$(find "$dest" "$kept" -name 'f*' -type f -exec cat {} + | fold -w 20000 | sort | uniq -c | wc -l)
[ "$contents" -eq 2 ] || fail "a killed update left $contents contents (not old and new, whole) on $d"
run_unattended "$d" --backup --utente ufficio2
expect_status 0 "run after a killed one on $d"
diff -r "$src" "$dest" > /dev/null || fail "the run after a killed one did not mirror Documenti on $d"
# (A file killed before its times were set is copied again: its new content may be there too.)
old_kept=$(for v in "$kept"/*/Documenti; do (cd "$v" && find . -name 'f*' -type f -exec grep -L n {} + || true); done | sed 's/ ([0-9]*)$//' | sort -u | wc -l)
[ "$old_kept" -eq 2000 ] || fail "the earlier content of only $old_kept of 2000 replaced files is among the versions on $d"
leftovers=$(find "$d/r" -name '.*' ! -name .archivon-byte ! -name .archivon-elenco ! -name .archivon-indice) # but the versions' records and the runs' lists
[ -z "$leftovers" ] || fail "hidden leftovers after the run: $leftovers"

echo PASS
