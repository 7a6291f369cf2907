# A scripted stand-in for wine, sourced by the launcher's tests: puts wineboot, wine and wineserver
# first on PATH from $tmp/bin. wineboot makes a prefix (or fails when FAKE_WINEBOOT_FAIL is set),
# counting its runs in $FAKE_LOG; wine imports a registry file by keeping a copy, and "runs" the
# program as a sleep whose pid it leaves in $tmp/program.pid (or ends at once with
# FAKE_PROGRAM_EXIT as its status, when that is set).
mkdir "$tmp/bin"
cat >"$tmp/bin/wineboot" <<'FAKE'
#!/bin/bash
echo boot >>"$FAKE_LOG"
[ -n "${FAKE_WINEBOOT_FAIL:-}" ] && { mkdir -p "$WINEPREFIX"; exit 53; }
sleep 0.5
mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/windows" && touch "$WINEPREFIX/system.reg"
FAKE
cat >"$tmp/bin/wine" <<'FAKE'
#!/bin/bash
if [ "$1" = reg ]; then cp "$3" "$WINEPREFIX/ports.reg"; exit 0; fi
[ -n "${FAKE_PROGRAM_EXIT:-}" ] && exit "$FAKE_PROGRAM_EXIT"
echo "$$" >"$FAKE_DIR/program.pid.new" && mv "$FAKE_DIR/program.pid.new" "$FAKE_DIR/program.pid"
exec sleep 300
FAKE
printf '#!/bin/sh\nexit 0\n' >"$tmp/bin/wineserver"
chmod +x "$tmp/bin"/*
export PATH="$tmp/bin:$PATH" FAKE_LOG="$tmp/wineboot.log" FAKE_DIR="$tmp"
