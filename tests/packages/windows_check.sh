#!/bin/bash
# The Windows packages: the zip's files, the version resources of both executables, stripped
# executables, and a 64-bit installer.
#   windows_check.sh PACKAGE_DIR VERSION
set -u
dir="$1"
version="$2"
zip="$dir/K614Mon-$version-win64.zip"
setup="$dir/K614Mon-$version-win64-setup.exe"
bad=0
fail() { echo "FAIL: $*"; bad=1; }
[ -f "$zip" ] && [ -f "$setup" ] || { echo "no packages in $dir (scripts/package.sh makes them)"; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
unzip -q "$zip" -d "$tmp"
top="$tmp/K614Mon-$version-win64"
for f in K614Mon.exe k614ctl.exe README.txt; do
    [ -f "$top/$f" ] || fail "$f is not in the zip"
done
for exe in K614Mon.exe k614ctl.exe; do
    # The version resource's texts are UTF-16; its fixed part carries the numbers.
    texts="$(strings -el "$top/$exe")"
    for want in ProductName K614Mon FileVersion ProductVersion "$version" FileDescription "$exe"; do
        grep -qxF -- "$want" <<<"$texts" || fail "$exe: no '$want' in its version resource"
    done
    x86_64-w64-mingw32-objdump -h "$top/$exe" | grep -q '\.debug_info' && fail "$exe is not stripped"
done
file "$setup" | grep -q 'PE32+ executable (GUI) x86-64' || fail "the installer is not a 64-bit program: $(file -b "$setup")"
exit "$bad"
