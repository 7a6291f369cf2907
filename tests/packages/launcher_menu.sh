#!/bin/bash
# The k614mon launcher started from the desktop's menu (no terminal: setsid, every standard stream
# /dev/null), with a stub for the dialog tool that records what it was asked and the scripted
# stand-in for wine: a refusal shown in a dialog, the only adapter taken and named, one of several
# picked from a list, a program that wine could not start; at a terminal (a pty of script's), several
# adapters named in the refusal, udev's lasting names before the kernel's.
#   launcher_menu.sh PACKAGE.deb K614SIM
set -u
deb="$1"
sim="$2"
# shellcheck source-path=SCRIPTDIR source=launcher_support.sh
source "$(dirname "$0")/launcher_support.sh" "$deb"

# The dialog tool's stand-in: each call one line in $tmp/dialogs; from a list it picks the last entry.
cat >"$tmp/bin/zenity" <<'STUB'
#!/bin/bash
printf '%s\n' "$*" >>"$DIALOG_LOG"
[ "$1" = --list ] && printf '%s\n' "${@: -1}"
exit 0
STUB
chmod +x "$tmp/bin/zenity"
export DIALOG_LOG="$tmp/dialogs"
# The adapters the launcher finds: a folder laid out as /dev is, with udev's lasting names.
export K614MON_DEV_DIR="$tmp/dev"
by_id="$K614MON_DEV_DIR/serial/by-id"
mkdir -p "$by_id"

stop_program() {
    kill "$(cat "$tmp/program.pid")" 2>/dev/null
    rm -f "$tmp/program.pid"
}
com1_leads_to() { [ "$(readlink "$data/wineprefix/dosdevices/com1")" = "$1" ]; }
dialog_asked() { grep -qF -- "$1" "$DIALOG_LOG" 2>/dev/null; }
# As the desktop starts a program: a session of its own, no terminal, a display. Neither waits
# longer than a run here takes, so that a launcher that waits for nothing fails instead of hanging.
RUN_LIMIT=20
menu_start() { DISPLAY=:614 timeout "$RUN_LIMIT" setsid -w "$launcher" </dev/null >/dev/null 2>&1; }
# In a terminal with a display: what the launcher says, on the terminal only.
terminal_start() { DISPLAY=:614 timeout "$RUN_LIMIT" script -qec "$launcher" /dev/null </dev/null; }

for name in A B; do
    "$sim" --link "$tmp/$name" --wave steady >/dev/null 2>&1 &
    pids+=($!)
done
wait_for 50 test -e "$tmp/A" -a -e "$tmp/B" || { echo "no simulators"; exit 1; }

# No adapter plugged in: the refusal is a dialog.
menu_start
rc=$?
[ "$rc" = 2 ] && dialog_asked "--error" && dialog_asked "none is plugged in" ||
    fail "no adapter: exit $rc, dialogs: $(cat "$DIALOG_LOG" 2>/dev/null)"

# Without udev's names, the kernel's; at a terminal, several are named in the refusal.
ln -s "$tmp/A" "$K614MON_DEV_DIR/ttyUSB0"
ln -s "$tmp/B" "$K614MON_DEV_DIR/ttyACM0"
out="$(terminal_start)"
rc=$?
[ "$rc" = 2 ] && grep -qF "one of $K614MON_DEV_DIR/ttyUSB0 $K614MON_DEV_DIR/ttyACM0" <<<"$out" ||
    fail "kernel's names at a terminal: exit $rc, '$out'"
rm "$K614MON_DEV_DIR/ttyACM0"

# The only adapter, under both names: taken by its lasting one, named in a notification, remembered.
ln -s "$tmp/A" "$by_id/usb-K614_Relay_A-if00-port0"
rm -f "$DIALOG_LOG"
menu_start &
launcher_pid=$!
wait_for 50 program_up || fail "one adapter: no program, dialogs: $(cat "$DIALOG_LOG" 2>/dev/null)"
com1_leads_to "$by_id/usb-K614_Relay_A-if00-port0" || fail "one adapter: COM1 leads to $(readlink "$data/wineprefix/dosdevices/com1")"
wait_for 30 dialog_asked "--notification --text=K614Mon: using $by_id/usb-K614_Relay_A-if00-port0" ||
    fail "one adapter: not named, dialogs: $(cat "$DIALOG_LOG" 2>/dev/null)"
stop_program
wait "$launcher_pid"
dialog_asked "--error" && fail "a program ended by a signal was reported: $(cat "$DIALOG_LOG")"
[ "$(cat "$data/adapter.device")" = "$by_id/usb-K614_Relay_A-if00-port0" ] || fail "the adapter taken is not remembered"

# Several adapters and none remembered: at a terminal the refusal names them; from the menu a list.
ln -s "$tmp/B" "$by_id/usb-K614_Relay_B-if00-port0"
rm -f "$data/adapter.device" "$DIALOG_LOG"
out="$(terminal_start)"
rc=$?
[ "$rc" = 2 ] && grep -qF "one of $by_id/usb-K614_Relay_A-if00-port0 $by_id/usb-K614_Relay_B-if00-port0" <<<"$out" ||
    fail "several at a terminal: exit $rc, '$out'"
[ -f "$DIALOG_LOG" ] && fail "a dialog at a terminal: $(cat "$DIALOG_LOG")"
menu_start &
launcher_pid=$!
wait_for 50 program_up || fail "several: no program, dialogs: $(cat "$DIALOG_LOG" 2>/dev/null)"
dialog_asked "--list" || fail "several: no list asked"
com1_leads_to "$by_id/usb-K614_Relay_B-if00-port0" || fail "several: COM1 leads to $(readlink "$data/wineprefix/dosdevices/com1")"
stop_program
wait "$launcher_pid"

# A program that wine could not start is reported, with its status.
rm -f "$DIALOG_LOG"
FAKE_PROGRAM_EXIT=1 menu_start
rc=$?
[ "$rc" = 1 ] && dialog_asked "ended with exit status 1" || fail "failed program: exit $rc, dialogs: $(cat "$DIALOG_LOG" 2>/dev/null)"
exit "$bad"
