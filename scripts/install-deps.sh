#!/bin/sh
# Installs, from Debian's packages, everything needed to build K614Mon, run it
# under wine against the device simulator, and run every test.
set -eu
PKGS="cmake ninja-build g++ make git pkg-config
g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
wine wine64 fonts-wine xvfb xauth xdotool imagemagick x11-apps x11-utils procps
googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
libcli11-dev libmosquitto-dev mosquitto mosquitto-clients openssl
cups printer-driver-cups-pdf poppler-utils
nsis lintian help2man dpkg-dev unzip file systemd desktop-file-utils appstream"
missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
fi
