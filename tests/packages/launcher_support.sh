# The launcher tests' shared set-up, sourced with the package as $1: a temporary folder removed at
# the end (with the processes in pids[] and the stand-in's program), the launcher unpacked, its data
# folder, no display (so no dialogs unless a test asks for them), and waits on conditions.
#
# A scripted stand-in for wine, first on PATH from $tmp/bin: wineboot makes a prefix (or fails when
# FAKE_WINEBOOT_FAIL is set), counting its runs in $FAKE_LOG; wine imports a registry file by keeping
# a copy, and "runs" the program as a sleep whose pid it leaves in $tmp/program.pid (or ends at once
# with FAKE_PROGRAM_EXIT as its status, when that is set).
# shellcheck shell=bash
tmp="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    [ -f "$tmp/program.pid" ] && kill "$(cat "$tmp/program.pid")" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
dpkg-deb -x "$1" "$tmp/root"
launcher="$tmp/root/usr/bin/k614mon"
export XDG_DATA_HOME="$tmp/data"
data="$XDG_DATA_HOME/k614mon"
unset DISPLAY WAYLAND_DISPLAY

mkdir "$tmp/bin"
cat >"$tmp/bin/wineboot" <<'FAKE'
#!/bin/bash
echo boot >>"$FAKE_LOG"
[ -n "${FAKE_WINEBOOT_FAIL:-}" ] && { mkdir -p "$WINEPREFIX"; exit 53; }
sleep 0.5
mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/windows" && touch "$WINEPREFIX/system.reg"
FAKE
cat >"$tmp/bin/wine" <<'FAKE'
#!/bin/bash
if [ "$1" = reg ]; then cp "$3" "$WINEPREFIX/ports.reg"; exit 0; fi
[ -n "${FAKE_PROGRAM_EXIT:-}" ] && exit "$FAKE_PROGRAM_EXIT"
echo "$$" >"$FAKE_DIR/program.pid.new" && mv "$FAKE_DIR/program.pid.new" "$FAKE_DIR/program.pid"
exec sleep 300
FAKE
printf '#!/bin/sh\nexit 0\n' >"$tmp/bin/wineserver"
chmod +x "$tmp/bin"/*
export PATH="$tmp/bin:$PATH" FAKE_LOG="$tmp/wineboot.log" FAKE_DIR="$tmp"

bad=0
fail() { echo "FAIL: $*"; bad=1; }
wait_for() { # wait_for TENTHS COMMAND...: true once COMMAND is
    local n
    for ((n = 0; n < $1; n++)); do "${@:2}" && return 0; sleep 0.1; done
    return 1
}
program_up() { [ -f "$tmp/program.pid" ] && kill -0 "$(cat "$tmp/program.pid")" 2>/dev/null; }
