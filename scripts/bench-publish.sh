#!/bin/bash
# k614ctl publish's figures against the simulator and a local mosquitto, printed and never asserted:
# the CPU of a publish at 50 measurements a second, the latency from the line to a subscriber
# (median, p99), and the time to drain the queue of a 20 s broker outage. The CPU and the memory are
# those of 1 and of 20 publishers (20 simulators, one broker), beside as many bare readers of the same
# kind of line (scripts/bench-bare-reader.c, built with cc), which wake once per measurement and do
# nothing else.
#
#   scripts/bench-publish.sh [SECONDS]     length of each CPU run (default 30)
#
# Uses build/release/cli/k614ctl and build/release/sim/k614sim (scripts/build.sh release),
# or the binaries named by $K614CTL and $K614_SIM; mosquitto and mosquitto_sub from Debian.
# Only 127.0.0.1 is used.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
ctl="${K614CTL:-$root/build/release/cli/k614ctl}"
sim="${K614_SIM:-$root/build/release/sim/k614sim}"
broker_exe="$(command -v mosquitto || echo /usr/sbin/mosquitto)"
seconds="${1:-30}"
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

# The yardstick: a bare reader of the same line, built here from its source.
bare="$tmp/bare-reader"
cc -O2 -o "$bare" "$root/scripts/bench-bare-reader.c"

start_sim() { # link file
    "$sim" --link "$1" --params "$1.614" --wave sine --exit-with-parent >"$1.out" 2>&1 &
    for _ in $(seq 100); do
        [ -L "$1" ] && return 0
        sleep 0.05
    done
    echo "bench-publish.sh: the simulator did not come up" >&2
    cat "$1.out" >&2
    exit 1
}
start_sim "$tmp/line"
sim_pid=$!

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

# CPU time of a process, all its threads, in ns (the scheduler's own account, finer than clock ticks).
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d\n", s }'
}
# Private (clean + dirty), private dirty and resident memory of a process, in KiB. Alone on the machine a
# process's code is private too; beside 19 others only what it wrote stays its own.
memory_kib() {
    awk '/^Rss:/ { r = $2 } /^Private_(Clean|Dirty):/ { p += $2 } /^Private_Dirty:/ { d = $2 }
        END { print p, d, r }' /proc/"$1"/smaps_rollup
}

# N publishers and N bare readers side by side, each on a simulator of its own, all publishers on the
# one broker; the CPU is counted over the middle SECONDS, after the start and before the ends.
relays() { # N
    # Everything runs `tail` seconds past the count, so that none has ended before the last reading of a
    # loaded machine; all are stopped once counted.
    local n="$1" i pubs="" bares="" sims="" lead=2 tail=10
    rm -f "$tmp"/r* "$tmp/sub.txt"
    mosquitto_sub -h 127.0.0.1 -p "$port" -t 'k614/bench/+/measurement' -q 1 \
        -F '%U %t %p' >"$tmp/sub.txt" 2>"$tmp/sub.err" &
    sub_pid=$!
    for i in $(seq "$n"); do
        start_sim "$tmp/rp$i"
        sims="$sims $!"
        start_sim "$tmp/rb$i"
        sims="$sims $!"
    done
    sleep 0.5
    for i in $(seq "$n"); do
        "$ctl" publish "$tmp/rp$i" --broker "127.0.0.1:$port" --topic "k614/bench/r$i" \
            --duration $((seconds + lead + tail)) 2>"$tmp/rp$i.err" &
        pubs="$pubs $!"
        "$bare" "$tmp/rb$i" $((seconds + lead + tail)) >/dev/null 2>"$tmp/rb$i.err" &
        bares="$bares $!"
    done
    sleep "$lead"
    local p0=0 b0=0 p1=0 b1=0 pid
    for pid in $pubs; do p0=$((p0 + $(cpu_ns "$pid"))); done
    for pid in $bares; do b0=$((b0 + $(cpu_ns "$pid"))); done
    sleep $((seconds / 2))
    local mem
    mem=$(for pid in $pubs; do memory_kib "$pid"; done |
        awk '{ p += $1; d += $2; r += $3 } END { printf "%d %d %d", p / NR, d / NR, r / NR }')
    sleep $((seconds - seconds / 2))
    for pid in $pubs; do p1=$((p1 + $(cpu_ns "$pid"))); done
    for pid in $bares; do b1=$((b1 + $(cpu_ns "$pid"))); done
    kill -TERM $pubs $bares 2>/dev/null || true
    for pid in $pubs $bares; do wait "$pid" || true; done
    kill -TERM $sims "$sub_pid" 2>/dev/null || true
    wait $sims "$sub_pid" 2>/dev/null || true
    sub_pid=""
    local pub_ms=$(((p1 - p0) / n / 1000000)) bare_ms=$(((b1 - b0) / n / 1000000))
    echo "  $n relay(s), per relay over $seconds s: publish $pub_ms ms CPU" \
        "($((pub_ms * 1000 / (seconds * 1000))) per mille of one core), bare reader $bare_ms ms;" \
        "publish / bare reader = $(awk -v a="$pub_ms" -v b="$bare_ms" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
    local private dirty resident
    read -r private dirty resident <<<"$mem"
    echo "    publish memory per relay: private $private KiB (written: $dirty KiB), resident $resident KiB;" \
        "measurements received: $(wc -l <"$tmp/sub.txt")"
    latencies "$tmp/sub.txt" | sort -n >"$tmp/latency.txt"
    echo "    latency line -> subscriber: median $(percentile 50 <"$tmp/latency.txt") ms," \
        "p99 $(percentile 99 <"$tmp/latency.txt") ms, max $(tail -n 1 "$tmp/latency.txt") ms"
}

echo "publish at 50 measurements a second, at its default QoS, beside a bare reader of the same line:"
relays 1
relays 20

# The outage's subscriber: a persistent QoS 1 session.
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'k614/bench/measurement' -q 1 -c -i k614-bench-sub \
    -F '%U %t %p' >"$tmp/sub.txt" 2>"$tmp/sub.err" &
sub_pid=$!
sleep 0.5

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
