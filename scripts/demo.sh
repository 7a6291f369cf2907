#!/bin/bash
# Installs what is needed, builds, and runs K614Mon.exe under wine against the
# device simulator on COM1. With a display the program opens there and runs
# until you close it; without one it runs under Xvfb for a few seconds and
# leaves a screenshot whose path it prints.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh release mingw

workdir="$(mktemp -d /tmp/k614demo.XXXXXX)"
# The GUI runs in a prefix of its own, apart from the console tests' sessions.
export K614_WINEPREFIX="${K614_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/k614mon/gui-prefix}"
shot="${K614_DEMO_SHOT:-$root/build/demo-screenshot.png}"
seconds="${K614_DEMO_SECONDS:-8}"
# A lively device: a slow sine between about 20 and 100 kW%, both limits set,
# so that the trend, the limit lines and the alarms all show.
sim_args="--wave sine --level 60 --amplitude 40 --period 7 --unit MW --params $workdir/device.614"

if [ -n "${DISPLAY:-}" ]; then
    echo "K614Mon runs on $DISPLAY; close its window to end the demo."
    scripts/with-device.sh --com 1 --sim-args "$sim_args" -- \
        bash -c "cd '$workdir' && wine '$root/build/mingw/app/K614Mon.exe'"
else
    scripts/with-device.sh --com 1 --display --sim-args "$sim_args" -- bash -c "
        cd '$workdir'
        wine '$root/build/mingw/app/K614Mon.exe' &
        prog=\$!
        for _ in \$(seq 300); do
            xdotool search --onlyvisible --name '^K614 Configuration tool\$' >/dev/null && break
            sleep 0.1
        done
        sleep '$seconds'
        import -window root '$shot'
        # Close it as a user would (the settings file is written then).
        win=\$(xdotool search --onlyvisible --name '^K614 Configuration tool\$' | head -1)
        xdotool windowfocus --sync \$win key alt+F4 2>/dev/null
        for _ in \$(seq 50); do kill -0 \$prog 2>/dev/null || break; sleep 0.1; done
        kill \$prog 2>/dev/null
        wait \$prog 2>/dev/null || true"
    echo "screenshot: $shot"
fi
rm -rf "$workdir"
