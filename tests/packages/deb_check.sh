#!/bin/bash
# The Debian package: its files, its dependencies, lintian, the desktop's validators on its menu
# entry and software-centre description, and the versions its tools print.
#   deb_check.sh PACKAGE.deb VERSION
set -u
deb="$1"
version="$2"
[ -f "$deb" ] || { echo "no package at $deb (scripts/package.sh makes it)"; exit 1; }
bad=0
fail() { echo "FAIL: $*"; bad=1; }

contents="$(dpkg-deb -c "$deb" | awk '{ print $6 }')"
for path in ./usr/bin/k614ctl ./usr/bin/k614sim ./usr/bin/k614mon ./usr/share/k614mon/K614Mon.exe \
    ./usr/share/man/man1/k614ctl.1.gz ./usr/share/man/man1/k614sim.1.gz ./usr/share/man/man1/k614mon.1.gz \
    ./usr/share/doc/k614mon/copyright ./usr/share/doc/k614mon/changelog.gz \
    ./usr/share/doc/k614mon/publish.conf.example ./usr/lib/systemd/system/k614-publish@.service \
    ./usr/share/man/man8/k614-publish@.service.8.gz \
    ./usr/share/applications/k614mon.desktop ./usr/share/metainfo/org.example.k614mon.metainfo.xml \
    ./usr/share/icons/hicolor/{16x16,32x32,48x48,128x128,256x256}/apps/k614mon.png; do
    grep -qx -- "$path" <<<"$contents" || fail "$path is not in the package"
done
depends="$(dpkg-deb -f "$deb" Depends)"
for dep in wine64 fonts-wine; do
    grep -qw "$dep" <<<"$depends" || fail "Depends does not name $dep: $depends"
done
recommends="$(dpkg-deb -f "$deb" Recommends)"
grep -qw zenity <<<"$recommends" && grep -qw kdialog <<<"$recommends" ||
    fail "Recommends does not name zenity and kdialog: $recommends"

# Errors fail; the rest is printed for the record.
lintian_out="$(lintian --allow-root "$deb" 2>&1)"
echo "lintian: ${lintian_out:-no tags}"
grep -q '^E: ' <<<"$lintian_out" && fail "lintian reports errors"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
# Warnings fail too (desktop-file-validate exits 0 on them, appstreamcli does not).
out="$(desktop-file-validate "$root/usr/share/applications/k614mon.desktop" 2>&1)"
[ $? = 0 ] && [ -z "$out" ] || fail "desktop-file-validate: $out"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.k614mon.metainfo.xml" || fail "appstreamcli validate"
for size in 16 32 48 128 256; do
    got="$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/${size}x${size}/apps/k614mon.png")"
    [ "$got" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $got"
done
for tool in k614ctl k614sim k614mon; do
    got="$("$root/usr/bin/$tool" --version)" || fail "$tool --version exits $?"
    [ "$got" = "$tool $version" ] || fail "$tool --version prints '$got'"
done
# Packaged executables carry no symbols.
for f in usr/bin/k614ctl usr/bin/k614sim usr/share/k614mon/K614Mon.exe; do
    objdump -h "$root/$f" | grep -q '\.debug_info' && fail "$f is not stripped"
done
exit "$bad"
