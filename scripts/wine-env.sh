# Sourced by the scripts that run Win32 programs: a private wine prefix and a
# wineserver of our own.
#
# The wineserver is started by us, detached from any terminal: one that wine
# starts on its own can take a pseudo-terminal (the simulated COM port) as its
# controlling terminal and, when the other end closes, gets SIGHUP.

: "${K614_PREFIX_HOME:=${XDG_CACHE_HOME:-$HOME/.cache}/k614mon}"
K614_BASE_PREFIX="$K614_PREFIX_HOME/wineprefix"
: "${K614_WINEPREFIX:=$K614_BASE_PREFIX}"
export WINEPREFIX="$K614_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

k614_wine_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Other prefixes (the GUI tests keep theirs apart from the console tests')
    # are copies of the base one: 2 s instead of a wineboot.
    if [ "$WINEPREFIX" != "$K614_BASE_PREFIX" ] && [ ! -f "$WINEPREFIX/.k614-ready" ]; then
        (WINEPREFIX="$K614_BASE_PREFIX" k614_wine_prefix)
        (
            flock 9
            if [ ! -f "$WINEPREFIX/.k614-ready" ]; then
                rm -rf "$WINEPREFIX"
                cp -a "$K614_BASE_PREFIX" "$WINEPREFIX"
            fi
        ) 9>"$WINEPREFIX.lock"
        return
    fi
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.k614-ready" ]; then
            rm -rf "$WINEPREFIX"
            DISPLAY= wineboot --init >/dev/null 2>&1 || true
            wineserver -w
            # Without a window manager (plain Xvfb) every hide or destroy of a
            # managed window stalls for 2 s: let wine draw its own frames.
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.k614-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Starts a wineserver for the prefix unless one runs; it ends by itself
# $1 seconds (default 30) after its last client has gone.
k614_wineserver() {
    # wineserver puts itself in the background; it exits at once when another
    # already serves this prefix.
    setsid wineserver -p"${1:-30}" </dev/null >/dev/null 2>&1 || true
}
