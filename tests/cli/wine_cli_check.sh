#!/bin/bash
# k614ctl.exe under wine against the simulated device on a COM port: read, or write then read back.
#
#   wine_cli_check.sh read|write K614CTL_EXE K614SIM WORK_DIR
#
# The device's set is a file of this script's making (the .614 layout: 22
# little-endian 16-bit fields, 32 bytes of unit text, one more field, 10
# reserved bytes), so that what the tool writes can be compared byte for byte.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
com=4

# make_set FILE SETPOINT1 TR2 FILTER ZERO TS: a set unlike the simulator's defaults, unit text "kW".
make_set() {
    python3 - "$@" <<'PY'
import struct, sys
path, setpoint1, tr2, filt, zero, ts = sys.argv[1], *map(int, sys.argv[2:])
fields = [2, setpoint1, 120, 1, 4,   # limit 1: mode, setpoint, Tr, auto reset, hysteresis
          1, 15, tr2, 0, 6,          # limit 2
          2, 40, 12, 1, ts,          # dPdt mode, dPdt setpoint, dV/dt, timer range, Ts
          1, 1, 1, filt, 90, 10, 1]  # output polarity, Iout, Iout polarity, filter, P1 max, P1 min, auto shut-down
open(path, "wb").write(struct.pack("<22H32sH10s", *fields, b"kW", zero, bytes(10)))
PY
}

winpath() {
    local p="Z:$1"
    echo "${p//\//\\}"
}

# Runs the exe under wine; fails the check with its output when the exit code is not $1.
expect_rc() {
    local want="$1"; shift
    local out rc
    out="$("$root/scripts/wine-run.sh" "$exe" "$@")"
    rc=$?
    echo "$out"
    if [ "$rc" != "$want" ]; then
        echo "FAIL: k614ctl.exe $* exited with $rc, not $want" >&2
        exit 1
    fi
}

same_file() {
    if ! cmp "$1" "$2"; then
        echo "FAIL: $1 and $2 differ" >&2
        exit 1
    fi
}

# read -o on a full disk (a tmpfs of four pages, filled): exit 5, the old file
# as it was, no temporary file and no new name left behind.
full_disk() {
    local full old="the user's last good parameter file"
    full="$(mktemp -d /tmp/k614full.XXXXXX)"
    if ! mount -t tmpfs -o size=16k k614full "$full" 2>/dev/null; then
        echo "SKIP: cannot mount a small tmpfs (needs root): read -o on a full disk not checked"
        rmdir "$full"
        return
    fi
    # Expanded now (full is local); lazily, since the wineserver may hold it open.
    trap "umount -l '$full'; rmdir '$full'" EXIT
    printf '%s' "$old" >"$full/old.614"
    dd if=/dev/zero of="$full/filler" bs=4096 2>/dev/null
    expect_rc 5 read "COM$K614_COM_PORT" -o "$(winpath "$full/old.614")"
    expect_rc 5 read "COM$K614_COM_PORT" -o "$(winpath "$full/new.614")"
    if [ "$(cat "$full/old.614")" != "$old" ] || [ "$(ls -A "$full" | tr '\n' ' ')" != "filler old.614 " ]; then
        echo "FAIL: a failed read -o touched the old file or left a file behind: $(ls -A "$full")" >&2
        exit 1
    fi
}

mode="$1"
case "$mode" in
read|write)
    exe="$2"; sim="$3"; work="$4"
    rm -rf "$work" && mkdir -p "$work" || exit 1
    make_set "$work/device.614" 75 250 3 2 30
    exec "$root/scripts/with-device.sh" --com "$com" --sim "$sim" --sim-args "--params $work/device.614" -- \
        bash "$0" "inside-$mode" "$exe" "$work"
    ;;
inside-read)
    exe="$2"; work="$3"
    expect_rc 0 read "COM$K614_COM_PORT" -o "$(winpath "$work/got.614")"
    same_file "$work/got.614" "$work/device.614"
    json="$(expect_rc 0 read "COM$K614_COM_PORT" --json)"
    echo "$json"
    case "$json" in
    *'"limit1Setpoint": 75, '*'"unitText": "kW"}'*) ;;
    *) echo "FAIL: unexpected JSON" >&2; exit 1 ;;
    esac
    expect_rc 4 read COM9
    full_disk
    echo "PASS: read"
    ;;
inside-write)
    exe="$2"; work="$3"
    make_set "$work/wanted.614" 55 333 1 1 1234
    start=$(date +%s%N)
    expect_rc 0 write "COM$K614_COM_PORT" "$(winpath "$work/wanted.614")"
    end=$(date +%s%N)
    echo "write and verify under wine, wine's start-up included: $(((end - start) / 1000000)) ms"
    expect_rc 0 read "COM$K614_COM_PORT" -o "$(winpath "$work/got.614")"
    same_file "$work/got.614" "$work/wanted.614"
    echo "PASS: write"
    ;;
*)
    echo "usage: wine_cli_check.sh read|write K614CTL_EXE K614SIM WORK_DIR" >&2
    exit 2
    ;;
esac
