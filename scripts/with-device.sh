#!/bin/bash
# Runs a command with a simulated K614 on a wine COM port.
#
#   scripts/with-device.sh [--com N] [--sim PATH] [--sim-args "..."] [--display] -- COMMAND ARGS...
#
# Starts k614sim on a private pseudo-terminal, points $WINEPREFIX/dosdevices/comN
# (default COM1) at it, runs COMMAND and cleans up everything it started. The
# command sees:
#   K614_SIM_CONTROL_PORT  TCP port of the simulator's control server (127.0.0.1)
#   K614_SIM_LOG           the simulator's log ("<seconds> RX <code>", "<seconds> EV ...")
#   K614_SIM_LINK          the simulator's pty link (what comN points at)
#   K614_COM_PORT          N
#   K614_SIM_PID           the simulator's process id
#   K614_SIM_DIR           the private temp dir (removed afterwards)
#   WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES as scripts/wine-env.sh sets them,
#   DISPLAY when --display started an Xvfb.
# Returns the command's exit code (125 when the harness itself failed).
#
# The simulator binary: --sim PATH, else $K614_SIM, else build/release/sim/k614sim.
# The prefix is $K614_WINEPREFIX (scripts/wine-env.sh); runs that share a prefix
# and a COM number wait for each other (a lock per COM number), since the
# dosdevices link belongs to the whole prefix.
set -u

root="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
    sed -n '2,/^set -u/p' "$0" | sed -e '/^set -u/d' -e 's/^# \{0,1\}//'
}

com=1
sim="${K614_SIM:-}"
sim_args=""
want_display=0
while [ $# -gt 0 ]; do
    case "$1" in
    --com) com="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --com=*) com="${1#--com=}"; shift ;;
    --sim) sim="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --sim=*) sim="${1#--sim=}"; shift ;;
    --sim-args) sim_args="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --sim-args=*) sim_args="${1#--sim-args=}"; shift ;;
    --display) want_display=1; shift ;;
    -h|--help) usage; exit 0 ;;
    --) shift; break ;;
    *) echo "with-device.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "with-device.sh: no command given after --" >&2
    exit 2
fi
case "$com" in
[1-9]|[1-9][0-9]) ;;
*) echo "with-device.sh: --com needs a port number 1..99, not '$com'" >&2; exit 2 ;;
esac
[ -n "$sim" ] || sim="$root/build/release/sim/k614sim"
if [ ! -x "$sim" ]; then
    echo "with-device.sh: simulator not found at $sim (build it: scripts/build.sh release, or pass --sim PATH)" >&2
    exit 2
fi

. "$root/scripts/wine-env.sh"

tmp=""
sim_pid=""
xvfb_pid=""
server_pid=""
cmd_pid=""
keeper_pid=""
com_link="$WINEPREFIX/dosdevices/com$com"
com_link_made=0
com_link_before=""

log() { echo "with-device.sh: $*" >&2; }

# Is a wineserver already serving this prefix? Its working directory is
# <socket dir>/server-<device>-<inode> of the prefix.
server_tag=""
server_is() {
    case "$(readlink "/proc/$1/cwd" 2>/dev/null)" in
    */"$server_tag") return 0 ;;
    esac
    return 1
}
server_running() {
    local p
    for p in $(pgrep -x 'wineserver|wineserver64' 2>/dev/null); do
        server_is "$p" && return 0
    done
    return 1
}

cleanup() {
    trap '' INT TERM HUP
    if [ -n "$cmd_pid" ] && kill -0 "$cmd_pid" 2>/dev/null; then
        kill -TERM "$cmd_pid" 2>/dev/null
        wait "$cmd_pid" 2>/dev/null
    fi
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    # Our link only: put back what wine had there (it rewrites com1 at start-up anyway).
    if [ "$com_link_made" = 1 ] && [ "$(readlink "$com_link" 2>/dev/null)" = "$tmp/com" ]; then
        rm -f "$com_link"
        [ -n "$com_link_before" ] && ln -s "$com_link_before" "$com_link"
    fi
    if [ -n "$keeper_pid" ]; then
        exec 6>&-
        for _ in $(seq 40); do kill -0 "$keeper_pid" 2>/dev/null || break; sleep 0.05; done
        kill -TERM "$keeper_pid" 2>/dev/null
        wait "$keeper_pid" 2>/dev/null
    fi
    # The last run out stops the wineserver that a run of this script started
    # (ours or one handed over by a run that ended while we used it).
    exec 8>&-
    [ -n "$server_tag" ] && (
        flock -n -x 9 || exit 0
        p="$(cat "$WINEPREFIX.harness-server" 2>/dev/null)"
        if [ -n "$p" ] && server_is "$p"; then
            wineserver -k 2>/dev/null
            for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
        fi
        rm -f "$WINEPREFIX.harness-server"
    ) 9>"$WINEPREFIX.users.lock"
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    [ -n "$tmp" ] && rm -rf "$tmp"
}
on_signal() {
    local sig="$1"
    cleanup
    trap - EXIT
    exit $((128 + sig))
}
trap cleanup EXIT
trap 'on_signal 2' INT
trap 'on_signal 15' TERM
trap 'on_signal 1' HUP

tmp="$(mktemp -d "${TMPDIR:-/tmp}/k614dev.XXXXXX")" || { log "cannot create a temp dir"; exit 125; }

k614_wine_prefix
server_tag="server-$(stat -c '%D' "$WINEPREFIX")-$(printf '%x' "$(stat -c '%i' "$WINEPREFIX")")"

# One run per prefix and COM number at a time; every run holds the users lock
# shared, so the one that started the wineserver knows whether others still need it.
# Fixed descriptors 7 and 8 hold the locks (6 the keeper's pipe, below); every
# child is started without them, or a lingering process would keep a lock (or
# the keeper) after we are gone.
exec 7>"$WINEPREFIX.com$com.lock"
if ! flock -w 600 7; then
    log "COM$com of $WINEPREFIX stayed busy for 10 minutes"
    exit 125
fi
exec 8>"$WINEPREFIX.users.lock"
flock -s 8

# The display comes first: the first wine process of a server's session
# decides the display driver of that whole session, so a session started
# without one can never open a window later.
if [ "$want_display" = 1 ] && [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 99 160); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$tmp/xvfb.out" 2>&1 6>&- 7>&- 8>&- &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
            export DISPLAY=":$n"
            break
        fi
        wait "$xvfb_pid" 2>/dev/null # lost the race for :$n; try the next one
        xvfb_pid=""
    done
    if [ -z "$xvfb_pid" ]; then
        log "could not start Xvfb"
        exit 125
    fi
fi

if ! server_running; then
    # Our own, detached from any terminal (a wineserver that takes the pty as
    # its controlling terminal gets SIGHUP when the line closes). -p: it stays
    # up between the command's wine processes, so wine's start-up remapping of
    # com1 happens once, before our link is made.
    setsid wineserver -f -p </dev/null >/dev/null 2>&1 7>&- 8>&- &
    server_pid=$!
    for _ in $(seq 50); do
        server_running && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$server_pid" 2>/dev/null; then
        echo "$server_pid" >"$WINEPREFIX.harness-server"
    else
        server_pid="" # another run's server won the race: use that one
    fi
fi
# Let wine finish its start-up before the link is made: a server's first
# client starts wine's services, which point com1 at /dev/ttyS0. With a warm
# server this is quick and changes nothing.
wine cmd /c exit 0 </dev/null >/dev/null 2>&1 7>&- 8>&-
if [ -z "$server_pid" ]; then
    # A wineserver started elsewhere may be set to end when idle; should it end
    # during the command, wine's next start would point com1 back at /dev/ttyS0.
    # A cmd.exe waiting on its stdin keeps it up until we close that pipe.
    mkfifo "$tmp/keeper"
    exec 6<>"$tmp/keeper"
    wine cmd /c pause <"$tmp/keeper" >/dev/null 2>&1 6>&- 7>&- 8>&- &
    keeper_pid=$!
fi

# The simulator, in its own session so a terminal's signals reach it only through us.
link="$tmp/com"
# --sim-args is split at blanks, without globbing (no quoting inside it).
read -r -a sim_argv <<<"$sim_args"
setsid "$sim" --exit-with-parent --link "$link" --log "$tmp/sim.log" --control-port 0 --control-port-file "$tmp/port" \
    "${sim_argv[@]}" </dev/null >"$tmp/sim.out" 2>&1 6>&- 7>&- 8>&- &
sim_pid=$!
for _ in $(seq 100); do
    [ -L "$link" ] && [ -s "$tmp/port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
done
if ! [ -L "$link" ] || ! [ -s "$tmp/port" ]; then
    log "the simulator did not come up:"
    cat "$tmp/sim.out" >&2
    exit 125
fi

# comN -> our link -> the pty: replug re-points our link, so comN follows.
# What was there is put back afterwards, unless it led nowhere (a run that was
# killed outright leaves a dangling link behind).
[ -e "$com_link" ] && com_link_before="$(readlink "$com_link" 2>/dev/null || true)"
ln -sfn "$link" "$com_link" || { log "cannot create $com_link"; exit 125; }
com_link_made=1

export K614_SIM_CONTROL_PORT="$(cat "$tmp/port")"
export K614_SIM_LOG="$tmp/sim.log"
export K614_SIM_LINK="$link"
export K614_COM_PORT="$com"
export K614_SIM_PID="$sim_pid"
export K614_SIM_DIR="$tmp"

# In the background with our stdin, so that a signal to this script is handled at once.
"$@" <&0 6>&- 7>&- 8>&- &
cmd_pid=$!
wait "$cmd_pid"
rc=$?
cmd_pid=""
exit "$rc"
