#!/usr/bin/env bash
# Builds the Debian package from the build folder, unpacks it into a temporary
# root and checks what an installed Archivon has: the launcher, the icons, the
# AppStream record, the man page, the animations, and a program that starts
# from where it landed. Lintian, appstreamcli and desktop-file-validate judge
# it when they are at hand.
set -euo pipefail

build=${1:?usage: package_deb.sh BUILD_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'archivon_*.deb')
[ -n "$deb" ] || fail "no package made"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

dpkg-deb -x "$deb" "$work/root"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libxxhash0 libc6; do
    [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib (dpkg-shlibdeps): $depends"
done

usr="$work/root/usr"
for f in bin/archivon share/archivon/anim.gif share/archivon/anim2.gif \
         share/applications/it.qorl.Archivon.desktop share/metainfo/it.qorl.Archivon.metainfo.xml \
         share/icons/hicolor/scalable/apps/archivon.svg share/man/man1/archivon.1.gz \
         share/doc/archivon/copyright share/doc/archivon/examples/archivon-backup.service \
         share/doc/archivon/examples/archivon-backup.timer \
         share/doc/archivon/examples/archivon-backup-completo.timer \
         share/doc/archivon/examples/archivon-stato.service share/doc/archivon/examples/archivon-stato.timer \
         share/doc/archivon/examples/archivon-verifica.service \
         share/doc/archivon/examples/archivon-verifica.timer; do
    [ -s "$usr/$f" ] || fail "the package lacks /usr/$f"
done
for size in 16 22 24 32 48 64 128 256; do
    png="$usr/share/icons/hicolor/${size}x${size}/apps/archivon.png"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "no ${size}px icon"
done

# The unpacked program starts where it landed, with no display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/archivon" --version) ||
    fail "the unpacked archivon --version failed"
[[ "$version" == "Archivon "* ]] || fail "unexpected version text: $version"
echo "$version"
env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/archivon" --help | grep "^Uso: archivon" > /dev/null ||
    fail "the unpacked archivon --help is not the Italian help"
zcat "$usr/share/man/man1/archivon.1.gz" | grep -q "STATO D'USCITA" || fail "the man page lacks the statuses"

if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$usr/share/applications/it.qorl.Archivon.desktop" ||
        fail "desktop-file-validate"
fi
if command -v appstreamcli > /dev/null; then
    appstreamcli validate --no-net "$usr/share/metainfo/it.qorl.Archivon.metainfo.xml" ||
        fail "appstreamcli validate"
fi
if command -v lintian > /dev/null; then
    # Errors and warnings fail; informational tags are printed.
    lintian --display-info "$deb" 2>&1 |
        grep -v 'running with root privileges' | tee "$work/lintian.log" || true
    ! grep -qE '^(E|W): ' "$work/lintian.log" || fail "lintian found errors or warnings"
else
    echo "lintian is not installed: the package was not checked by it"
fi
echo PASS
