#!/bin/bash
# Makes every package a user installs, with CPack, into one folder (default build/packages):
#   K614Mon-<version>-win64.zip, K614Mon-<version>-win64-setup.exe (MinGW tree),
#   k614mon_<version>_amd64.deb (release tree; the program comes from the MinGW tree).
# package.sh [--out DIR]; builds the release and MinGW trees first (incrementally).
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
out="$root/build/packages"
if [ "${1:-}" = "--out" ] && [ -n "${2:-}" ]; then
    out="$2"
fi

bash scripts/build.sh release mingw
mkdir -p "$out"
for tree in mingw release; do
    rm -rf "build/$tree/packages"
    (cd "build/$tree" && cpack >cpack.log 2>&1) || { cat "build/$tree/cpack.log" >&2; exit 1; }
    cp build/"$tree"/packages/*.zip build/"$tree"/packages/*.exe build/"$tree"/packages/*.deb "$out"/ 2>/dev/null || true
done
echo "packages in $out:"
(cd "$out" && ls -l -- *.zip *.exe *.deb | awk '{ printf "  %-36s %8d bytes\n", $9, $5 }')
