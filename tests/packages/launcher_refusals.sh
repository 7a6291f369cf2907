#!/bin/bash
# The k614mon launcher, unpacked from the Debian package, refuses what it cannot run with,
# each with its message and exit code and before wine starts; and it leaves a port that k614ctl holds alone.
#   launcher_refusals.sh PACKAGE.deb K614SIM K614CTL
set -u
deb="$1"
sim="$2"
ctl="$3"
tmp="$(mktemp -d)"
sim_pid=""
ctl_pid=""
cleanup() {
    [ -n "$ctl_pid" ] && kill "$ctl_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
chmod 755 "$tmp"
dpkg-deb -x "$deb" "$tmp/root"
launcher="$tmp/root/usr/bin/k614mon"
export XDG_DATA_HOME="$tmp/data"
# No adapter plugged in, and starts as at a terminal: no dialog, whatever the machine has.
mkdir "$tmp/nodev"
export K614MON_DEV_DIR="$tmp/nodev"
unset DISPLAY WAYLAND_DISPLAY

"$sim" --link "$tmp/pty" --wave steady >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$tmp/pty" ] && break; sleep 0.05; done
pty="$(readlink -f "$tmp/pty")"

# Every command but wine, for the run without it.
mkdir "$tmp/nowine"
for f in /usr/bin/* /bin/*; do
    case "${f##*/}" in wine*) continue ;; esac
    [ -e "$tmp/nowine/${f##*/}" ] || ln -s "$f" "$tmp/nowine/${f##*/}"
done
# A device the user may not open: a copy of the pty's node, group dialout, for an unprivileged user.
mknod "$tmp/dialout-tty" c "$(stat -c '%t' "$pty" | xargs printf '%d')" "$(stat -c '%T' "$pty" | xargs printf '%d')"
chgrp dialout "$tmp/dialout-tty"
chmod 660 "$tmp/dialout-tty"
touch "$tmp/plain-file"
chmod 755 "$tmp/root" "$tmp/root/usr" "$tmp/root/usr/bin"

bad=0
# expect CODE TEXT COMMAND...: the launcher exits CODE and says TEXT.
expect() {
    local code="$1" text="$2"
    shift 2
    local out rc
    out="$("$@" 2>&1)"
    rc=$?
    if [ "$rc" -ne "$code" ] || ! grep -qF -- "$text" <<<"$out"; then
        echo "FAIL: $* -> exit $rc, '$out' (wanted exit $code and '$text')"
        bad=1
    else
        echo "ok: $* -> $rc: $out"
    fi
}
# Missing, with the adapters that are there named.
mkdir "$tmp/onedev"
ln -s "$pty" "$tmp/onedev/ttyUSB0"
expect 4 "does not exist (is the adapter plugged in? Serial adapters plugged in now: $tmp/onedev/ttyUSB0;" \
    env K614MON_DEV_DIR="$tmp/onedev" "$launcher" --port "$tmp/no-such-device"
expect 4 "not a character device" "$launcher" --port "$tmp/plain-file"
expect 4 "not a serial port" "$launcher" --port /dev/null
expect 2 "1 to 8" "$launcher" --port "$pty" --com 9
expect 2 "no serial adapter chosen" "$launcher"
expect 3 "wine is not installed" env PATH="$tmp/nowine" "$launcher" --port "$pty"
expect 4 "group 'dialout'" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME="$tmp" "$launcher" --port "$tmp/dialout-tty"
expect 3 "a '\"' in the path" env XDG_DATA_HOME="$tmp/q\"uote" "$launcher" --port "$pty"
# k614ctl holds the port: the launcher refuses it, and k614ctl is left undisturbed.
"$ctl" log "$pty" --duration 20 >"$tmp/log.csv" 2>/dev/null &
ctl_pid=$!
for _ in $(seq 100); do [ -s "$tmp/log.csv" ] && break; sleep 0.05; done
expect 4 "in use by another program" "$launcher" --port "$pty"
kill -0 "$ctl_pid" || { echo "FAIL: k614ctl ended while the launcher was refused"; bad=1; }
[ -d "$XDG_DATA_HOME" ] && { echo "FAIL: a refused start made $XDG_DATA_HOME"; bad=1; }
# Without --port: the adapter that an older launcher kept for the COM port the settings name (bytes 0-1).
mkdir -p "$tmp/settings/k614mon"
printf '\003\000' >"$tmp/settings/k614mon/K614Mon.cnf"
echo "$tmp/old-com3-adapter" >"$tmp/settings/k614mon/COM3.device"
expect 4 "old-com3-adapter does not exist" env XDG_DATA_HOME="$tmp/settings" "$launcher"
# Without HOME (a service, cron): the account's home folder, here nobody's.
expect 2 "no serial adapter chosen" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -u HOME -u XDG_DATA_HOME "$launcher"
exit "$bad"
