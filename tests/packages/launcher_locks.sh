#!/bin/bash
# The k614mon launcher's locks and first start, with a scripted stand-in for wine (each scenario a
# few seconds): one launcher per prefix in either order, every COM port led to the locked device,
# the lock kept after the launcher is killed and moved to a replugged adapter, one preparation for
# two launchers started together, a failed preparation never marked ready.
#   launcher_locks.sh PACKAGE.deb K614SIM
set -u
deb="$1"
sim="$2"
# shellcheck source-path=SCRIPTDIR source=launcher_support.sh
source "$(dirname "$0")/launcher_support.sh" "$deb"

# Two simulated adapters, each with its control port.
for name in A B; do
    "$sim" --link "$tmp/$name" --control-port 0 --control-port-file "$tmp/$name.port" >/dev/null 2>&1 &
    pids+=($!)
done
wait_for 50 test -s "$tmp/A.port" -a -s "$tmp/B.port" -a -e "$tmp/A" -a -e "$tmp/B" || { echo "no simulators"; exit 1; }
sim_command() { # sim_command NAME LINE
    local reply
    exec 3<>"/dev/tcp/127.0.0.1/$(cat "$tmp/$1.port")"
    printf '%s\n' "$2" >&3
    read -r reply <&3
    exec 3<&-
}
locked() { ! flock -n "$(readlink -f "$1")" true; }
stop_program() {
    kill "$(cat "$tmp/program.pid")" 2>/dev/null
    rm -f "$tmp/program.pid"
    wait_for 30 eval '! locked "$tmp/A" && ! locked "$tmp/B"' || fail "a lock outlived the program"
}
# Every COM port the program may open leads to DEVICE.
com_ports_lead_to() {
    local n
    for n in 1 2 3 4 5 6 7 8; do
        [ "$(readlink "$data/wineprefix/dosdevices/com$n")" = "$1" ] || return 1
        grep -qF "\"COM$n\"=\"$1\"" "$data/wineprefix/ports.reg" || return 1
    done
}

# Two launchers started together on a fresh prefix: one prepares it, the other is refused.
"$launcher" --port "$tmp/A" 2>"$tmp/first-a.err" &
first_a=$!
"$launcher" --port "$tmp/B" 2>"$tmp/first-b.err" &
first_b=$!
wait_for 50 program_up || fail "no program started: $(cat "$tmp"/first-*.err)"
[ "$(grep -c boot "$FAKE_LOG")" = 1 ] || fail "the prefix was prepared $(grep -c boot "$FAKE_LOG") times"
wait_for 50 eval '! kill -0 $first_a 2>/dev/null || ! kill -0 $first_b 2>/dev/null' || fail "neither launcher was refused"
grep -q "already runs" "$tmp"/first-*.err || fail "no 'already runs': $(cat "$tmp"/first-*.err)"
stop_program
wait "$first_a" "$first_b" 2>/dev/null

# Either order: the second launcher is refused (exit 4) and the first one's COM ports stay.
# The settings name COM1 while --com says 3: every port leads to the locked adapter anyway.
printf '\001\000' >"$data/K614Mon.cnf"
for order in "A B" "B A"; do
    read -r first second <<<"$order"
    "$launcher" --port "$tmp/$first" --com 3 2>/dev/null &
    first_pid=$!
    wait_for 50 program_up || fail "$first: no program"
    out="$("$launcher" --port "$tmp/$second" 2>&1)"
    rc=$?
    [ "$rc" = 4 ] && grep -q "already runs" <<<"$out" || fail "$second after $first: exit $rc, '$out'"
    com_ports_lead_to "$tmp/$first" || fail "$second after $first: the COM ports moved: $(ls -l "$data/wineprefix/dosdevices")"
    locked "$tmp/$first" || fail "$first not locked"
    # Once the launcher has ended with its program, the adapter is free for the next start.
    kill "$(cat "$tmp/program.pid")"
    wait "$first_pid"
    locked "$tmp/$first" && fail "$first still locked after its launcher ended"
    rm -f "$tmp/program.pid"
done

# Started without a terminal, as from a desktop menu: a pulled cable ends nothing. Unplugged, the
# COM ports lead nowhere until the new device is locked, then to it.
setsid "$launcher" --port "$tmp/A" 2>/dev/null &
launcher_pid=$!
wait_for 50 program_up || fail "setsid: no program"
sim_command A unplug
wait_for 30 eval '! com_ports_lead_to "$tmp/A"' || fail "the COM ports still lead to the unplugged adapter"
sim_command A replug
wait_for 30 com_ports_lead_to "$tmp/A" || fail "the COM ports never came back to the replugged adapter"
locked "$tmp/A" || fail "the replugged adapter is not locked"
program_up && kill -0 "$launcher_pid" || fail "the pulled cable ended the program or the launcher"
# The launcher killed outright: the lock stays with the program.
kill -9 "$launcher_pid"
wait "$launcher_pid" 2>/dev/null
sleep 0.5 # what is checked is that nothing lets go: a few of the keeper's looks at the device
locked "$tmp/A" || fail "the lock went with the killed launcher"
stop_program

# A preparation that fails is not marked ready; the next start says why and makes it again.
rm -rf "$data"
out="$(FAKE_WINEBOOT_FAIL=1 timeout 10 "$launcher" --port "$tmp/A" 2>&1)"
rc=$?
[ "$rc" = 3 ] && grep -q "wineboot failed with exit status 53" <<<"$out" || fail "failed preparation: exit $rc, '$out'"
program_up && stop_program
[ -e "$data/wineprefix" ] && fail "the failed prefix was left behind"
"$launcher" --port "$tmp/A" 2>"$tmp/again.err" &
pids+=($!)
wait_for 50 program_up || fail "no program after a failed first start: $(cat "$tmp/again.err")"
grep -q "did not finish (wineboot failed" "$tmp/again.err" || fail "the next start did not say why: $(cat "$tmp/again.err")"
[ -f "$data/wineprefix/.k614mon-ready" ] || fail "the remade prefix is not marked ready"
stop_program
exit "$bad"
