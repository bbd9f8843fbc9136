# A Samba share on this machine, for the tests and the bench: an smbd of our
# own on 127.0.0.1 and a free port, serving a folder to guests, mounted with
# smbnetfs (FUSE; this kernel has no CIFS) with a home of its own, since
# smbnetfs reads its settings from ~/.smb. Source it, then:
#   share_start DIR          serves DIR/share, mounted at DIR/smbnetfs;
#                            sets SHARE_FOLDER to the share under that mount
#   share_mount MOUNT HOME   mounts the same share once more (another client);
#                            sets SHARE_FOLDER to the share under MOUNT
#   share_stop               unmounts every mount and stops smbd
# share_missing says what is missing for it, or nothing.

SHARE_SMBD_PID=
SHARE_PORT=
SHARE_DIR=
SHARE_MOUNTS=()

share_missing() {
    command -v smbd > /dev/null || { echo "smbd (samba) is not installed"; return; }
    command -v smbnetfs > /dev/null || { echo "smbnetfs is not installed"; return; }
    [ -c /dev/fuse ] || echo "/dev/fuse is missing"
}

share_start() { # dir
    SHARE_DIR=$1
    local smb="$SHARE_DIR/smb" i
    SHARE_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$smb"/{lock,state,cache,pid,log,private,ncalrpc} "$SHARE_DIR/share"
    cat > "$smb/smb.conf" <<EOF
[global]
  netbios name = ARCHIVONPROVA
  server role = standalone server
  interfaces = 127.0.0.1
  bind interfaces only = yes
  smb ports = $SHARE_PORT
  disable netbios = yes
  map to guest = Bad User
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  lock directory = $smb/lock
  state directory = $smb/state
  cache directory = $smb/cache
  pid directory = $smb/pid
  private dir = $smb/private
  ncalrpc dir = $smb/ncalrpc
  log file = $smb/log/smbd.log
[archivon]
  path = $SHARE_DIR/share
  read only = no
  guest ok = yes
  force user = root
EOF
    smbd --configfile="$smb/smb.conf" --foreground > "$smb/log/stdout" 2>&1 &
    SHARE_SMBD_PID=$!
    for i in $(seq 50); do
        ss -ltn "sport = :$SHARE_PORT" | grep -q LISTEN && break
        sleep 0.1
    done
    share_mount "$SHARE_DIR/smbnetfs" "$SHARE_DIR/home"
}

share_mount() { # mount home
    local mnt=$1 home=$2 i
    mkdir -p "$mnt" "$home/.smb"
    printf '[global]\n  client min protocol = SMB2\n' > "$home/.smb/smb.conf"
    printf 'smb_query_browsers "false"\nauth "guest" ""\n' > "$home/.smb/smbnetfs.conf"
    chmod 600 "$home/.smb/smbnetfs.conf"
    HOME="$home" smbnetfs "$mnt" -o log_file="$SHARE_DIR/smb/log/smbnetfs-$(basename "$mnt").log"
    SHARE_MOUNTS+=("$mnt")
    SHARE_FOLDER="$mnt/127.0.0.1:$SHARE_PORT/archivon"
    for i in $(seq 50); do
        ls "$SHARE_FOLDER" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    cat "$SHARE_DIR/smb/log/"* >&2
    echo "the share did not come up at $mnt" >&2
    return 1
}

share_stop() {
    local mnt
    for mnt in "${SHARE_MOUNTS[@]}"; do
        if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
    done
    SHARE_MOUNTS=()
    if [ -n "$SHARE_SMBD_PID" ]; then
        kill "$SHARE_SMBD_PID" 2> /dev/null || true
        wait "$SHARE_SMBD_PID" 2> /dev/null || true
        SHARE_SMBD_PID=
    fi
}
