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

# Wine's own "MS Sans Serif" (the bitmap font of Debian's fonts-wine), which
# the parameter pages' templates ask for at 10 points. Debian's wine 8 looks
# for its fonts in /usr/share/fonts and the prefix's C:\windows\Fonts, not in
# /usr/share/wine/fonts where fonts-wine puts them, so without this the face
# falls back to DejaVu Sans: 8 x 15 dialog base units and glyphs too wide for
# the labels ("Auto Reset" 71 px in a 68 px box shows as "Auto"). With it:
# 8 x 16 base units, "Auto Reset" 66 px, "Auto Shut Down" 93 px in 94.
K614_DIALOG_FONT=/usr/share/wine/fonts/sserife.fon

# Puts the dialog font into the prefix's fonts folder unless it is there:
# every time, so that a prefix made before it came along gets it too. Each
# process reads that folder when it starts; the copy is made beside it and
# renamed into it, so that runs sharing the prefix never see half a file.
k614_prefix_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    local name
    name="$(basename "$K614_DIALOG_FONT")"
    [ -f "$K614_DIALOG_FONT" ] || { echo "wine-env.sh: $K614_DIALOG_FONT missing (package fonts-wine)" >&2; return 0; }
    cmp -s "$K614_DIALOG_FONT" "$fonts/$name" && return 0
    mkdir -p "$fonts"
    cp "$K614_DIALOG_FONT" "$fonts/../$name.$$" && mv -f "$fonts/../$name.$$" "$fonts/$name"
}

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
        k614_prefix_fonts
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
    k614_prefix_fonts
}

# Starts a wineserver for the prefix unless one runs; it ends by itself
# $1 seconds (default 30) after its last client has gone.
k614_wineserver() {
    # wineserver puts itself in the background; it exits at once when another
    # already serves this prefix.
    setsid wineserver -p"${1:-30}" </dev/null >/dev/null 2>&1 || true
}
