#!/bin/bash
# Checks scripts/with-device.sh: what the command sees while it runs, its exit
# code, and that the simulator, temp dir and COM link are gone afterwards.
#   harness_check.sh PATH-TO-k614sim
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
sim="$1"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
fail() { echo "harness_check: $*" >&2; exit 1; }

"$root/scripts/with-device.sh" --com 9 --sim "$sim" --sim-args "--no-pace --wave steady --level 61" -- bash -c '
    set -u
    [ -L "$K614_SIM_LINK" ] || { echo "no link $K614_SIM_LINK" >&2; exit 1; }
    [ "$K614_COM_PORT" = 9 ] || exit 1
    [ "$(readlink "$WINEPREFIX/dosdevices/com9")" = "$K614_SIM_LINK" ] || { echo "com9 not mapped" >&2; exit 1; }
    kill -0 "$K614_SIM_PID" || exit 1
    exec 3<>"/dev/tcp/127.0.0.1/$K614_SIM_CONTROL_PORT" || exit 1
    for _ in $(seq 40); do
        echo status >&3
        read -r s <&3
        case "$s" in "ok measurement=61 "*) break ;; esac
        sleep 0.05
    done
    case "$s" in "ok measurement=61 "*) ;; *) echo "status: $s" >&2; exit 1 ;; esac
    grep -q " EV start " "$K614_SIM_LOG" || exit 1
    echo "$K614_SIM_DIR $K614_SIM_PID $WINEPREFIX"
    exit 7' >"$out"
rc=$?
[ "$rc" = 7 ] || fail "the command's exit code 7 came back as $rc"
read -r dir pid prefix <"$out"
[ -n "$dir" ] || fail "the command printed nothing"
[ ! -e "$dir" ] || fail "temp dir $dir left behind"
! kill -0 "$pid" 2>/dev/null || fail "simulator $pid still running"
case "$(readlink "$prefix/dosdevices/com9" 2>/dev/null)" in
"$dir"/*) fail "com9 still points into $dir" ;;
esac

# Bad usage is refused before anything starts.
"$root/scripts/with-device.sh" --sim "$sim" 2>/dev/null
[ $? = 2 ] || fail "a missing command should exit 2"
echo "harness_check: ok"
