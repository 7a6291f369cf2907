#!/bin/bash
# The program's .614 save under wine, one row per rule of what a save replaces: prepares each target, saves, checks.
#
#   saves.sh TEST_EXE
#
# Wine's server creates the files, so it is started here, in a prefix of this
# test's own, with the umask the rows expect. Rows marked root run only as root.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
exe="$1"
export K614_WINEPREFIX="${K614_WINEPREFIX:-$(cd "$(dirname "$exe")" && pwd)/wine-saves-prefix}"
umask 027
dir="$(mktemp -d /tmp/k614saves.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
OLD='the old content'

# rule | set-up in the folder | name saved to | outcome (ok/refused) | file checked | its stat afterwards
# (%a %F %u: mode, kind, owner; ME is the tester). A saved .614 file has 88 bytes.
rows=(
    "a new file gets 0666 less the umask||new|ok|new|640 regular file ME 88"
    "a replaced file keeps its mode|printf '$OLD' >keep; chmod 600 keep|keep|ok|keep|600 regular file ME 88"
    "a replaced file keeps its set-uid bit and owner|printf '$OLD' >suid; chmod 4755 suid|suid|ok|suid|4755 regular file ME 88"
    "a link is saved through|printf '$OLD' >real; ln -s real link|link|ok|real|640 regular file ME 88"
    "a read-only file is refused, to root too|printf '$OLD' >ro; chmod 444 ro|ro|refused|ro|444 regular file ME 15"
    "a folder is refused|mkdir folder|folder|refused|folder|750 directory ME -"
    "root: a character device is written in place|mknod -m 666 null c 1 3|null|ok|null|666 character special file 0 0"
    "root: a user's file keeps its owner|printf '$OLD' >users; chown 1234 users; chmod 640 users|users|ok|users|640 regular file 1234 88"
)

paths=""
for row in "${rows[@]}"; do
    IFS='|' read -r rule setup name outcome file expect <<<"$row"
    if [[ "$rule" == root:* ]] && [ "$(id -u)" != 0 ]; then
        continue
    fi
    (cd "$dir" && eval "$setup")
    winpath="Z:${dir//\//\\}\\$name"
    paths="${paths:+$paths|}$winpath"
done

out="$(K614_SAVE_PATHS="$paths" "$root/scripts/wine-run.sh" "$exe" --gtest_filter='WineSaves.*')"
status=$?
echo "$out"
[ "$status" = 0 ] || { echo "FAIL: the test exe exited $status"; exit 1; }

failed=0
me="$(id -u)"
for row in "${rows[@]}"; do
    IFS='|' read -r rule setup name outcome file expect <<<"$row"
    if [[ "$rule" == root:* ]] && [ "$(id -u)" != 0 ]; then
        echo "not run without root: $rule"
        continue
    fi
    winpath="Z:${dir//\//\\}\\$name"
    path="$dir/$file"
    code="$(grep -F "saved $winpath " <<<"$out" | awk '{print $NF}')"
    got_outcome=refused
    [ "$code" = 0 ] && got_outcome=ok
    size=-
    [ -f "$path" ] && size="$(stat -c %s "$path")"
    [ -c "$path" ] && size=0
    got="$(stat -c '%a %F %u' "$path") $size"
    want="${expect//ME/$me}"
    if [ "$got_outcome" != "$outcome" ] || [ "$got" != "$want" ]; then
        echo "FAIL: $rule: $got_outcome (code $code), $got; wanted $outcome, $want"
        failed=1
    fi
done
# Nothing but the rows' own names is left behind: no temporary file.
left="$(cd "$dir" && ls -A | tr '\n' ' ')"
if [ "$left" != "folder keep link new null real ro suid users " ] && [ "$left" != "folder keep link new real ro suid " ]; then
    echo "FAIL: the folder holds $left"
    failed=1
fi
[ "$failed" = 0 ] && echo "all rows as wanted"
exit "$failed"
