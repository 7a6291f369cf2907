#!/bin/bash
# k614ctl's figures against the simulator, printed and never asserted: the time of a
# write with its verify, and the CPU time of a log over 60 s.
#
#   scripts/bench-cli.sh [SECONDS]     length of the log (default 60)
#
# Uses build/release/cli/k614ctl and build/release/sim/k614sim (scripts/build.sh release),
# or the binaries named by $K614CTL and $K614_SIM.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
ctl="${K614CTL:-$root/build/release/cli/k614ctl}"
sim="${K614_SIM:-$root/build/release/sim/k614sim}"
seconds="${1:-60}"
writes=5
for exe in "$ctl" "$sim"; do
    if [ ! -x "$exe" ]; then
        echo "bench-cli.sh: $exe not found (build it: scripts/build.sh release)" >&2
        exit 2
    fi
done

tmp="$(mktemp -d "${TMPDIR:-/tmp}/k614bench.XXXXXX")"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

"$sim" --link "$tmp/line" --params "$tmp/device.614" --exit-with-parent >"$tmp/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -L "$tmp/line" ] && break
    sleep 0.05
done
[ -L "$tmp/line" ] || { echo "bench-cli.sh: the simulator did not come up" >&2; cat "$tmp/sim.out" >&2; exit 1; }

"$ctl" read "$tmp/line" -o "$tmp/set.614"
echo "write and verify of 23 parameters ($writes runs):"
for i in $(seq "$writes"); do
    start=$(date +%s%N)
    "$ctl" write "$tmp/line" "$tmp/set.614" >/dev/null
    end=$(date +%s%N)
    echo "  run $i: $(((end - start) / 1000000)) ms"
done

# In a subshell of its own, `times` reports the CPU of that subshell's
# children (getrusage RUSAGE_CHILDREN): k614ctl alone.
echo "log for $seconds s:"
cpu="$( ( "$ctl" log "$tmp/line" --duration "$seconds" --csv "$tmp/log.csv"; times ) | tail -n 1)"
rows=$(($(wc -l <"$tmp/log.csv") - 1))
to_ms() { # "1m2.345s" -> milliseconds
    local m="${1%%m*}" s="${1#*m}"
    s="${s%s}"
    echo $((10#$m * 60000 + 10#${s%.*} * 1000 + 10#${s#*.}))
}
user_ms=$(to_ms "${cpu%% *}")
sys_ms=$(to_ms "${cpu##* }")
echo "  rows: $rows"
echo "  CPU: user $user_ms ms, system $sys_ms ms, $(((user_ms + sys_ms) * 1000 / (seconds * 1000))) per mille of one core"
