#!/usr/bin/env bash
# The restore drill. Evenings of unattended runs over the four sources, of which
# Documenti and Preferiti change between them (a folder deleted and later made again
# with other content, a file saved over on several evenings, a folder renamed in
# case only, a full rewrite), the sources put aside after each; one run killed
# while it adds files. Then every evening is given back with --al, into a folder
# of its own, and must be its copy exactly: the same files, contents and times,
# and nothing that was not there then.
#   e2e_restore.sh path/to/archivon local|exfat|share
# R: is a folder of the local disk, an exFAT image (names folded, whole seconds:
# needs root) or a Samba share through smbnetfs (needs root, Samba and FUSE);
# skipped (77) where the drive cannot be made.
set -euo pipefail

here=$(dirname "$0")
source "$here/../support/e2e.sh"
exe=$(readlink -f "${1:?usage: e2e_restore.sh path/to/archivon local|exfat|share}")
kind=${2:?usage: e2e_restore.sh path/to/archivon local|exfat|share}

d="$work/drives" c="$work/drives/c"
e2e_drive "$kind" 256M
cp "$exe" "$(dirname "$exe")"/anim*.gif "$work/prog/"
mkdir -m 700 "$work/runtime"
host=$(uname -n)
show() { sed 's/^/  /' "$@" >&2; }

through=(timeout 120)
archivon() { # arguments...: sets $status, output in $work/out and $work/err
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/fakebin:$PATH" QT_QPA_PLATFORM=offscreen ARCHIVON_DRIVES="$d" \
        XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" \
        XDG_CONFIG_HOME="$work/config" "${through[@]}" "$work/prog/archivon" "$@" > "$work/out" 2> "$work/err" || status=$?
}
expect() { # status what
    [ "$status" -eq "$1" ] || { show "$work/out" "$work/err"; fail "$2: exit status $status, expected $1"; }
}

# An evening: the run, then a copy of the sources aside and a moment between this
# run's end and the next one's start; the next run starts a second later at least.
evenings=0
between=()
evening() { # [--completo]
    evenings=$((evenings + 1))
    archivon --backup --utente ufficio2 "$@"
    expect 0 "the run of evening $evenings"
    local snap="$work/snap/$evenings"
    mkdir -p "$snap"
    cp -a "$c/Documenti" "$snap/"
    cp -a "$W/Application Data/Identities" "$snap/Outlook"
    cp -a "$W/Preferiti" "$snap/"
    cp -a "$W/Application Data/Microsoft/Address Book" "$snap/"
    between[evenings]=$(date '+%F %T')
    sleep 1.1
}

# Files with their times, to the step R: keeps them in: ns on the local disk,
# whole seconds elsewhere.
times() { (cd "$1" && find . -type f -printf '%P\t%T@\n' | sort); }
same_times() { # snapshot restored (holding the same files)
    if [ "$kind" = local ]; then
        diff <(times "$1") <(times "$2")
    else
        paste <(times "$1") <(times "$2") |
            awk -F '\t' '{ d = $2 - $4; if (d < 0) d = -d } d >= 1 { print; bad = 1 } END { exit bad }'
    fi
}

# Evening n given back with --al WHEN (nothing: as the backup stands) into C:\RipN,
# and compared with its copy.
given_back() { # n [when]
    local n=$1 to="$c/Rip$1"
    archivon --ripristina --utente ufficio2 ${2:+--al "$2"} --destinazione "C:\\Rip$n"
    expect 0 "evening $n given back (--al \"${2:-}\")"
    diff -r "$work/snap/$n" "$to" > "$work/diff" ||
        { show "$work/diff" "$work/out"; fail "evening $n (--al \"${2:-}\") did not come back as it was"; }
    same_times "$work/snap/$n" "$to" > "$work/diff" ||
        { show "$work/diff"; fail "evening $n (--al \"${2:-}\") came back with other times"; }
    rm -r "$to"
}

# The ends of the runs as --elenco prints them, oldest first; an unfinished run "-".
ends=()
read_ends() {
    archivon --ripristina --utente ufficio2 --elenco
    expect 0 "--elenco"
    mapfile -t ends < <(grep -E '^  ([0-9]{4}-|\(iniziata)' "$work/out" | tac |
                        sed -E 's/^  ([0-9]{4}-[0-9-]+ [0-9:]+)  .*/\1/; s/^  \(iniziata.*/-/')
}

D="$c/Documenti" W="$c/Sys/Windows"
mkdir -p "$D/Lettere" "$D/Pratiche/sub" "$D/Vecchia/dentro" "$W/Preferiti" "$W/Application Data/Identities" \
         "$W/Application Data/Microsoft/Address Book"
echo posta > "$W/Application Data/Identities/posta.dbx"
echo rubrica > "$W/Application Data/Microsoft/Address Book/rubrica.wab"
echo gennaio > "$D/Lettere/gennaio.txt"
echo febbraio > "$D/Lettere/febbraio.txt"
head -c 70000 /dev/urandom > "$D/Pratiche/p1.bin"
echo due > "$D/Pratiche/sub/p2.txt"
echo v > "$D/Vecchia/v.txt"
echo w > "$D/Vecchia/dentro/w.txt"
echo prima > "$D/nota.txt"
echo sito > "$W/Preferiti/sito.url"
evening
# 2: a folder deleted, a file saved over, one added, one removed.
rm -r "$D/Vecchia" "$D/Lettere/febbraio.txt"
echo "seconda stesura" > "$D/nota.txt"
echo marzo > "$D/Lettere/marzo.txt"
evening
# 3: a folder renamed in case only, the same file saved over again.
mv "$D/Pratiche" "$D/PRATICHE"
echo "terza stesura, più lunga" > "$D/nota.txt"
echo altro > "$W/Preferiti/altro.url"
evening
# 4: a full rewrite, over changes of its own.
echo aprile > "$D/Lettere/aprile.txt"
head -c 50000 /dev/urandom > "$D/PRATICHE/p1.bin"
rm "$W/Preferiti/sito.url"
evening --completo
# 5: the deleted folder made again, with other content.
mkdir -p "$D/Vecchia/nuova"
echo "v, di nuovo" > "$D/Vecchia/v.txt"
echo x > "$D/Vecchia/nuova/x.txt"
evening

# A run killed (SIGKILL, from strace, as a copier renames its 100th file into
# place) while it adds a folder of 400 files, with a file saved over: the evening
# before it is what the backup gives back, even at a moment after the kill.
mkdir "$D/Archivio"
head -c $((400 * 16384)) /dev/urandom | split -b 16384 -a 3 -d - "$D/Archivio/a"
echo "quarta" > "$D/nota.txt"
adding="$d/r/BKPQORL/${host}_ufficio2/Documenti/Archivio"
through=(strace -f -qq -o /dev/null -e trace=rename -e inject=rename:signal=KILL:when=100 timeout -s KILL 120)
archivon --backup --utente ufficio2
through=(timeout 120)
[ "$status" -eq 137 ] || { show "$work/err"; fail "the run was not killed as it added files: exit status $status"; }
[ "$(ls "$adding" | wc -l)" -lt 400 ] || fail "the killed run had added every file"
read_ends
[ "${#ends[@]}" -eq 6 ] && [ "${ends[5]}" = - ] || { show "$work/out"; fail "--elenco does not list five evenings and a run not ended"; }
given_back 5 "$(date '+%F %T')"
sleep 1.1

# 6: the run after the killed one. Then every evening given back, by the end
# --elenco prints or by a moment before the next run, the last as the backup stands.
rm "$D/Lettere/marzo.txt"
evening
read_ends
[ "${#ends[@]}" -eq 7 ] || { show "$work/out"; fail "--elenco does not list seven runs"; }
for n in 1 2 3 4 5; do
    if [ $((n % 2)) -eq 1 ]; then given_back "$n" "${ends[n - 1]}"; else given_back "$n" "${between[n]}"; fi
done
given_back 6
# Nothing hidden is left on R: but the dated folders' records: no lock, no
# temporary of the killed run.
left=$(find "$d/r/BKPQORL" -name '.*' ! -name .archivon-byte ! -name .archivon-elenco ! -name .archivon-indice)
[ -z "$left" ] || fail "hidden entries left on R:: $left"
echo PASS
