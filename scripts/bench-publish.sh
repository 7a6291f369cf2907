#!/bin/bash
# k614ctl publish's figures against the simulator and a local mosquitto, printed and never asserted:
# the CPU of a publish at 50 measurements a second, the latency from the line to a subscriber
# (median, p99), and the time to drain the queue of a 20 s broker outage.
#
#   scripts/bench-publish.sh [SECONDS]     length of the CPU run (default 60)
#
# Uses build/release/cli/k614ctl and build/release/sim/k614sim (scripts/build.sh release),
# or the binaries named by $K614CTL and $K614_SIM; mosquitto and mosquitto_sub from Debian.
# Only 127.0.0.1 is used.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
ctl="${K614CTL:-$root/build/release/cli/k614ctl}"
sim="${K614_SIM:-$root/build/release/sim/k614sim}"
broker_exe="$(command -v mosquitto || echo /usr/sbin/mosquitto)"
seconds="${1:-60}"
outage=20
for exe in "$ctl" "$sim" "$broker_exe"; do
    if [ ! -x "$exe" ]; then
        echo "bench-publish.sh: $exe not found (scripts/build.sh release; scripts/install-deps.sh)" >&2
        exit 2
    fi
done

tmp="$(mktemp -d "${TMPDIR:-/tmp}/k614benchpub.XXXXXX")"
sim_pid="" broker_pid="" sub_pid="" ctl_pid=""
cleanup() {
    for p in $ctl_pid $sub_pid $broker_pid $sim_pid; do
        kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

port=$((20000 + RANDOM % 20000))
cat >"$tmp/mosquitto.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $tmp/
max_queued_messages 0
user root
EOF
start_broker() {
    "$broker_exe" -c "$tmp/mosquitto.conf" >>"$tmp/broker.log" 2>&1 &
    broker_pid=$!
    for _ in $(seq 100); do
        (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "bench-publish.sh: the broker did not come up" >&2
    cat "$tmp/broker.log" >&2
    exit 1
}
start_broker

"$sim" --link "$tmp/line" --params "$tmp/device.614" --wave sine --exit-with-parent >"$tmp/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -L "$tmp/line" ] && break
    sleep 0.05
done
[ -L "$tmp/line" ] || { echo "bench-publish.sh: the simulator did not come up" >&2; exit 1; }

# The subscriber: receive time (seconds since 1970, ns), topic, payload; a persistent QoS 1 session.
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'k614/bench/measurement' -q 1 -c -i k614-bench-sub \
    -F '%U %t %p' >"$tmp/sub.txt" 2>"$tmp/sub.err" &
sub_pid=$!
sleep 0.5

# Latency of each message: receive time minus the time in its payload (when k614ctl read it from
# the line, a few ms after the simulator wrote it), both as seconds of the UTC day.
latencies() { # file -> one latency in ms per line
    awk '{
        split($1, r, "."); recv = (r[1] % 86400) + ("0." r[2]);
        t = substr($3, 21, 12);            # HH:MM:SS.mmm
        sent = substr(t, 1, 2) * 3600 + substr(t, 4, 2) * 60 + substr(t, 7, 6);
        d = recv - sent; if (d < -43200) d += 86400;
        printf "%.3f\n", d * 1000
    }' "$1"
}
percentile() { # p, sorted numbers on stdin
    awk -v p="$1" '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit } i = int(NR * p / 100 + 0.5); if (i < 1) i = 1; if (i > NR) i = NR; print v[i] }'
}

echo "publish for $seconds s at 50 measurements a second:"
# In a subshell of its own, `times` reports the CPU of that subshell's children: k614ctl alone.
cpu="$( ( "$ctl" publish "$tmp/line" --broker "127.0.0.1:$port" --topic k614/bench --duration "$seconds" \
    2>"$tmp/ctl.err"; times ) | tail -n 1)"
to_ms() { # "1m2.345s" -> milliseconds
    local m="${1%%m*}" s="${1#*m}"
    s="${s%s}"
    echo $((10#$m * 60000 + 10#${s%.*} * 1000 + 10#${s#*.}))
}
user_ms=$(to_ms "${cpu%% *}")
sys_ms=$(to_ms "${cpu##* }")
sleep 0.5
echo "  measurements received: $(wc -l <"$tmp/sub.txt")"
echo "  CPU: user $user_ms ms, system $sys_ms ms, $(((user_ms + sys_ms) * 1000 / (seconds * 1000))) per mille of one core"
latencies "$tmp/sub.txt" | sort -n >"$tmp/latency.txt"
echo "  latency line -> subscriber: median $(percentile 50 <"$tmp/latency.txt") ms," \
    "p99 $(percentile 99 <"$tmp/latency.txt") ms, max $(tail -n 1 "$tmp/latency.txt") ms"

echo "broker stopped for $outage s, publish at QoS 1:"
: >"$tmp/sub.txt"
"$ctl" publish "$tmp/line" --broker "127.0.0.1:$port" --topic k614/bench --qos 1 2>"$tmp/ctl2.err" &
ctl_pid=$!
sleep 3
kill -TERM "$broker_pid"
wait "$broker_pid" 2>/dev/null || true
sleep "$outage"
start_broker
restart=$(date +%s.%N)
# Drained: a measurement arrives less than 200 ms after it was read.
after() { # receive time and latency of each message since the restart
    awk -v since="$restart" '$1 > since' "$tmp/sub.txt" >"$tmp/after.txt"
    latencies "$tmp/after.txt" | paste -d ' ' <(cut -d ' ' -f 1 "$tmp/after.txt") - >"$tmp/after.both"
}
for _ in $(seq 600); do
    sleep 0.05
    after
    [ -n "$(awk '$2 < 200 { print; exit }' "$tmp/after.both")" ] && break
done
first=$(awk '{ print $1; exit }' "$tmp/after.both")
done_at=$(awk '$2 < 200 { print $1; exit }' "$tmp/after.both")
queued=$(awk '$2 >= 200' "$tmp/after.both" | wc -l)
if [ -n "$first" ] && [ -n "$done_at" ]; then
    echo "  first message $(awk -v a="$first" -v b="$restart" 'BEGIN { printf "%.2f", a - b }') s after the restart" \
        "(the reconnect back-off); the $queued queued drained $(awk -v a="$done_at" -v b="$first" \
        'BEGIN { printf "%.2f", a - b }') s after that"
else
    echo "  the queue did not drain within 30 s"
fi
