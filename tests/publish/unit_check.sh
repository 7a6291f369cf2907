#!/bin/bash
# The service unit as the service manager reads it: systemd-analyze verify clean, and its exposure printed.
#   unit_check.sh UNIT_FILE K614CTL
# An instance of the template is checked with the built k614ctl in place of /usr/bin/k614ctl, which verify
# wants to find executable.
set -u
unit="$1"
k614ctl="$2"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
sed "s#/usr/bin/k614ctl#$k614ctl#" "$unit" > "$dir/k614-publish@relay1.service"
out="$(systemd-analyze verify --man=no "$dir/k614-publish@relay1.service" 2>&1)"
rc=$?
[ -z "$out" ] || echo "$out"
[ "$rc" -eq 0 ] && [ -z "$out" ] || { echo "FAIL: systemd-analyze verify is not clean"; exit 1; }
systemd-analyze security --offline=yes --no-pager "$dir/k614-publish@relay1.service" 2>/dev/null | tail -1
exit 0
