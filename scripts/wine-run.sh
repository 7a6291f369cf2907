#!/bin/bash
# Runs a Win32 console program (a test exe) under wine and returns its exit code.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh"
k614_wine_prefix
k614_wineserver 10
# Wine adds CR to console output; strip it so the test runner reads clean lines.
set +e
wine "$@" 2>&1 | tr -d '\r'
rc=${PIPESTATUS[0]}
exit "$rc"
