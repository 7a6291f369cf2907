#!/bin/bash
# Measured run of the GUI under wine: CPU while the trend scrolls, and start-up time.
#
#   scripts/bench-gui.sh [--seconds N] [--launches N] [--settle S] [--no-build]
#                        [--mingw DIR] [--native DIR]
#
# From a fresh clone (as root, after scripts/install-deps.sh or scripts/test.sh
# has installed wine, Xvfb and xdotool):
#
#   bash scripts/bench-gui.sh                 # builds release + mingw first, 60 s per period
#   bash scripts/bench-gui.sh --seconds 20    # shorter periods, rougher figures
#
# What it does, inside scripts/with-device.sh on a private Xvfb, with the
# simulator streaming a sine (50 measurements a second):
#  1. K614Mon.exe for N seconds (default 60): CPU time (utime + stime from
#     /proc/<pid>/stat) of the wine process that runs it, of the wineserver and
#     of Xvfb over the same period; then the same for reference_window.exe,
#     what the device protocol costs a window that shows it: a reader thread on
#     the same COM port doing the same 4-byte overlapped reads of the same
#     stream (it only counts the bytes), and a bare window of the same client
#     size that repaints the 590 x 265 trend rectangle on a 20 ms timer.
#     Printed: CPU seconds, % of one core, CPU by thread, the bytes the
#     reference read, the ratio program/reference and the targets (at most
#     1.3 x the reference, at most 3 % of one core), each marked met or missed.
#  2. Launch to visible window with a warm wineserver: one run to warm up,
#     closed with Alt+F4, then --launches runs (default 5), each timed from the
#     exec of wine until `xdotool search --onlyvisible` finds the caption
#     (polled every 10 ms); each run and the median, target under 1 s.
# Every start of a program runs in a fresh temporary directory (K614Mon writes
# K614Mon.cnf into its working directory). The figures are printed, never
# checked: the exit code says only whether the measurement itself worked.
#
# Options:
#   --seconds N    length of each CPU period (default 60)
#   --launches N   timed launches after the warm-up (default 5)
#   --settle S     seconds between a window showing and its CPU period (default 3)
#   --no-build     do not run scripts/build.sh release mingw first
#   --mingw DIR    MinGW build tree (default build/mingw); with it or --native
#   --native DIR   native build tree holding the simulator (default build/release)
#                  nothing is built, the trees must be built already
#   --program EXE  measure this K614Mon build instead of the tree's (a variant
#                  kept aside for comparison; its name must end in .exe)
#
# Wine prefix: $K614_WINEPREFIX, else a prefix of the benchmark's own
# (~/.cache/k614mon/bench-prefix, copied from the base prefix on first use), so
# that the wineserver it measures serves nobody else. $DISPLAY is ignored: the
# run always gets an Xvfb of its own.
set -u

root="$(cd "$(dirname "$0")/.." && pwd)"
self="$root/scripts/bench-gui.sh"

usage() {
    sed -n '2,/^set -u/p' "$0" | sed -e '/^set -u/d' -e 's/^# \{0,1\}//'
}

seconds=60
launches=5
settle=3
build=1
mingw=""
native=""
program=""
inside=0
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) seconds="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --launches) launches="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --settle) settle="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --no-build) build=0; shift ;;
    --mingw) mingw="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --native) native="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --program) program="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    --inside) inside=1; shift ;; # internal: the part that runs inside the harness
    -h|--help) usage; exit 0 ;;
    *) echo "bench-gui.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
    esac
done
for v in "$seconds" "$launches" "$settle"; do
    case "$v" in
    ''|*[!0-9]*) echo "bench-gui.sh: --seconds, --launches and --settle take whole numbers, not '$v'" >&2; exit 2 ;;
    esac
done
[ "$seconds" -ge 1 ] && [ "$launches" -ge 1 ] || { echo "bench-gui.sh: --seconds and --launches must be at least 1" >&2; exit 2; }

# ---------------------------------------------------------------- outside
if [ "$inside" = 0 ]; then
    if [ -z "$mingw" ] && [ -z "$native" ]; then
        if [ "$build" = 1 ]; then
            bash "$root/scripts/build.sh" release mingw || { echo "bench-gui.sh: build failed" >&2; exit 1; }
        fi
    fi
    [ -n "$mingw" ] || mingw="$root/build/mingw"
    [ -n "$native" ] || native="$root/build/release"
    mingw="$(cd "$mingw" 2>/dev/null && pwd)" || { echo "bench-gui.sh: no build tree at $mingw" >&2; exit 2; }
    native="$(cd "$native" 2>/dev/null && pwd)" || { echo "bench-gui.sh: no build tree at $native" >&2; exit 2; }
    [ -n "$program" ] || program="$mingw/app/K614Mon.exe"
    case "$program" in
    /*) ;;
    *) program="$PWD/$program" ;;
    esac
    for f in "$program" "$mingw/tests/reference_window.exe" "$native/sim/k614sim"; do
        if [ ! -f "$f" ]; then
            echo "bench-gui.sh: $f is missing (bash scripts/build.sh release mingw)" >&2
            exit 2
        fi
    done
    for tool in wine xdotool Xvfb; do
        command -v "$tool" >/dev/null || { echo "bench-gui.sh: $tool not found (scripts/install-deps.sh)" >&2; exit 2; }
    done
    export K614_WINEPREFIX="${K614_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/k614mon/bench-prefix}"
    export K614_BENCH_PROGRAM="$program"
    export K614_BENCH_REFERENCE="$mingw/tests/reference_window.exe"
    exec env -u DISPLAY bash "$root/scripts/with-device.sh" --display --sim "$native/sim/k614sim" \
        --sim-args "--wave sine --level 60 --amplitude 40 --period 7" -- \
        bash "$self" --inside --seconds "$seconds" --launches "$launches" --settle "$settle"
fi

# ---------------------------------------------------------------- inside the harness
PROGRAM_CAPTION='^K614 Configuration tool$'
REFERENCE_CAPTION='^K614 reference window$'
ticks_per_second="$(getconf CLK_TCK)"
workdirs=()
launched=()

fail() { echo "bench-gui.sh: $*" >&2; exit 1; }

finish() {
    local p d
    for p in "${launched[@]}"; do
        kill -0 "$p" 2>/dev/null && kill -TERM "$p" 2>/dev/null
    done
    for d in "${workdirs[@]}"; do
        rm -rf "$d"
    done
}
trap finish EXIT

now_ns() { date +%s%N; }

# utime + stime of a process, all its threads, in clock ticks (0 when it is gone).
# The name in field 2 may hold blanks: count the fields after its ")".
cpu_ticks() {
    local stat
    stat="$(cat "/proc/$1/stat" 2>/dev/null)" || { echo 0; return; }
    stat="${stat##*) }"
    # shellcheck disable=SC2086
    set -- $stat
    echo $((${12} + ${13}))
}

# The wine process that runs the exe started in directory $2 (its working
# directory tells it apart from any other run of the same exe on the machine).
wine_pid_of() {
    local name="$1" dir="$2" p
    for p in $(pgrep -f "$name"); do
        case "$(readlink "/proc/$p/exe" 2>/dev/null)" in
        */wine64|*/wine|*/wine64-preloader|*/wine-preloader) ;;
        *) continue ;;
        esac
        [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$dir" ] && { echo "$p"; return 0; }
    done
    return 1
}

# The wineserver of our prefix: its working directory is <socket dir>/server-<device>-<inode>.
server_pid() {
    local tag p
    tag="server-$(stat -c '%D' "$WINEPREFIX")-$(printf '%x' "$(stat -c '%i' "$WINEPREFIX")")"
    for p in $(pgrep -x 'wineserver|wineserver64'); do
        case "$(readlink "/proc/$p/cwd" 2>/dev/null)" in
        */"$tag") echo "$p"; return 0 ;;
        esac
    done
    return 1
}

# "<tid> <ticks>" for every thread of a process.
thread_ticks() {
    local t
    for t in /proc/"$1"/task/*; do
        echo "${t##*/} $(cpu_ticks "$1/task/${t##*/}")"
    done
}

xvfb_pid() {
    pgrep -f "^Xvfb ${DISPLAY} " | head -n 1
}

# One line to the simulator's control server, its answer on stdout.
sim_command() {
    local answer=""
    if exec 5<>"/dev/tcp/127.0.0.1/$K614_SIM_CONTROL_PORT"; then
        printf '%s\n' "$1" >&5
        IFS= read -r -t 5 answer <&5
        exec 5>&-
    fi
    printf '%s\n' "$answer"
}

# Starts an exe (with any arguments that follow) in a fresh directory; sets
# started_pid, started_dir and started_ns (the clock just before wine is started).
start_exe() {
    started_dir="$(mktemp -d "${TMPDIR:-/tmp}/k614bench.XXXXXX")" || fail "cannot create a temp dir"
    workdirs+=("$started_dir")
    started_ns="$(now_ns)"
    (cd "$started_dir" && exec wine "$@") </dev/null >"$started_dir/wine.out" 2>&1 &
    started_pid=$!
    launched+=("$started_pid")
}

# Polls every 10 ms for a visible window with the caption; its id on stdout.
wait_visible() {
    local caption="$1" deadline=$(($(now_ns) + ${2:-30} * 1000000000)) w
    while [ "$(now_ns)" -lt "$deadline" ]; do
        w="$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1)"
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.01
    done
    return 1
}

# Alt+F4 to the focused window (without a window manager the focus must be
# given first), then wait for the process; killed after 15 s.
close_window() {
    local w="$1" p="$2"
    xdotool windowfocus "$w" 2>/dev/null
    sleep 0.1
    xdotool key alt+F4 2>/dev/null
    for _ in $(seq 150); do
        kill -0 "$p" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$p" 2>/dev/null; then
        echo "bench-gui.sh: window $w did not close on Alt+F4; killed" >&2
        kill -TERM "$p" 2>/dev/null
    fi
    wait "$p" 2>/dev/null
}

# One CPU period of an exe (arguments for it after the caption). Sets the
# result variables prefixed with $1.
measure_cpu() {
    local key="$1" exe="$2" caption="$3" w pid srv xv
    local t0 t1 c0 c1 s0 s1 x0 x1 rate
    shift 3
    start_exe "$exe" "$@"
    w="$(wait_visible "$caption" 60)" || fail "no window of $(basename "$exe") within 60 s"
    sleep "$settle"
    pid="$(wine_pid_of "$(basename "$exe")" "$started_dir")" || fail "no wine process runs $(basename "$exe")"
    srv="$(server_pid)" || fail "no wineserver for $WINEPREFIX"
    xv="$(xvfb_pid)"
    sim_command "rate reset" >/dev/null
    thread_ticks "$pid" | sort >"$started_dir/threads.0"
    t0="$(now_ns)"; c0="$(cpu_ticks "$pid")"; s0="$(cpu_ticks "$srv")"; x0=0
    [ -n "$xv" ] && x0="$(cpu_ticks "$xv")"
    sleep "$seconds"
    t1="$(now_ns)"; c1="$(cpu_ticks "$pid")"; s1="$(cpu_ticks "$srv")"; x1=0
    [ -n "$xv" ] && x1="$(cpu_ticks "$xv")"
    thread_ticks "$pid" | sort >"$started_dir/threads.1"
    kill -0 "$pid" 2>/dev/null || fail "$(basename "$exe") ended during its period"
    # Where the process's time went: its first thread runs WinMain (the
    # window, timers and paints); the others are the program's own and wine's.
    printf -v "${key}_threads" '%s' "$(join "$started_dir/threads.0" "$started_dir/threads.1" |
        awk -v main="$pid" -v hz="$ticks_per_second" '$3 - $2 > 0 || $1 == main {
            printf "%s%s %.2f s", sep, ($1 == main ? "main thread" : "thread " $1), ($3 - $2) / hz; sep = ", " }')"
    rate="$(sim_command rate)"
    close_window "$w" "$started_pid"
    rate="${rate##*rate=}"
    printf -v "${key}_wall" '%s' "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e9 }')"
    printf -v "${key}_cpu" '%s' "$(awk -v t="$((c1 - c0))" -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", t / hz }')"
    printf -v "${key}_server" '%s' "$(awk -v t="$((s1 - s0))" -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", t / hz }')"
    if [ -n "$xv" ]; then
        printf -v "${key}_xvfb" '%s' "$(awk -v t="$((x1 - x0))" -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", t / hz }')"
    else
        printf -v "${key}_xvfb" '%s' "n/a"
    fi
    printf -v "${key}_rate" '%s' "${rate:-?}"
}

percent() { awk -v c="$1" -v w="$2" 'BEGIN { printf "%.2f", 100 * c / w }'; }
verdict() { [ "$1" = 1 ] && echo "met" || echo "MISSED"; }

echo "K614Mon GUI benchmark: wine $(wine --version 2>/dev/null), Xvfb $DISPLAY, prefix $WINEPREFIX"
echo "simulator: sine 20..100 kW%, 7 s period; $seconds s per CPU period after $settle s settling"
echo

measure_cpu prog "$K614_BENCH_PROGRAM" "$PROGRAM_CAPTION"
# The reference reads the port the harness gave the program (K614Mon opens
# COM1 from its default settings; with-device.sh links COM$K614_COM_PORT).
measure_cpu ref "$K614_BENCH_REFERENCE" "$REFERENCE_CAPTION" "$K614_COM_PORT"
# It says on its way out how many bytes its reader counted.
ref_read="$(tr -d '\r' <"$started_dir/wine.out" | sed -n 's/^reference_window: //p' | tail -n 1)"

prog_pct="$(percent "$prog_cpu" "$prog_wall")"
ref_pct="$(percent "$ref_cpu" "$ref_wall")"
ratio="$(awk -v p="$prog_cpu" -v r="$ref_cpu" 'BEGIN { if (r > 0) printf "%.2f", p / r; else print "inf" }')"
ratio_met="$(awk -v p="$prog_cpu" -v r="$ref_cpu" 'BEGIN { print (r > 0 && p <= 1.3 * r) ? 1 : 0 }')"
pct_met="$(awk -v p="$prog_pct" 'BEGIN { print (p <= 3) ? 1 : 0 }')"

echo "CPU over each period (seconds of CPU time; % of one core = CPU / wall time):"
printf '  %-18s %8s %8s %9s %12s %8s %14s\n' "" "wall s" "CPU s" "% core" "wineserver s" "Xvfb s" "measurements/s"
printf '  %-18s %8s %8s %9s %12s %8s %14s\n' "$(basename "$K614_BENCH_PROGRAM")" "$prog_wall" "$prog_cpu" "$prog_pct" "$prog_server" "$prog_xvfb" "$prog_rate"
printf '  %-18s %8s %8s %9s %12s %8s %14s\n' "reference window" "$ref_wall" "$ref_cpu" "$ref_pct" "$ref_server" "$ref_xvfb" "$ref_rate"
echo
echo "CPU by thread, $(basename "$K614_BENCH_PROGRAM"): $prog_threads"
echo "CPU by thread, reference window: $ref_threads"
echo "reference reader: ${ref_read:-no report}"
echo
echo "program CPU:            $prog_cpu s in $prog_wall s = $prog_pct % of one core"
echo "reference CPU:          $ref_cpu s in $ref_wall s = $ref_pct % of one core"
echo "ratio program/reference: $ratio"
echo "target: program CPU at most 1.3 x the reference: $(verdict "$ratio_met") ($ratio x)"
echo "target: program CPU at most 3 % of one core:     $(verdict "$pct_met") ($prog_pct %)"
echo

# Start-up. The warm-up run leaves the wineserver and the page cache warm.
start_exe "$K614_BENCH_PROGRAM"
w="$(wait_visible "$PROGRAM_CAPTION" 60)" || fail "no window in the warm-up run"
sleep 1
close_window "$w" "$started_pid"

times=()
for run in $(seq "$launches"); do
    start_exe "$K614_BENCH_PROGRAM"
    t0="$started_ns"
    w="$(wait_visible "$PROGRAM_CAPTION" 30)" || fail "no window in launch run $run"
    t1="$(now_ns)"
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')")
    echo "launch run $run: ${times[-1]} s to the visible window"
    sleep 0.5
    close_window "$w" "$started_pid"
done
median="$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')"
launch_met="$(awk -v m="$median" 'BEGIN { print (m < 1) ? 1 : 0 }')"
echo "launch median: $median s"
echo "target: launch to visible window under 1 s: $(verdict "$launch_met") ($median s)"
exit 0
