#!/bin/bash
# Starts the print service and sets up the PDF printers that the print tests and
# the demo print on (as root; quick and harmless to run again):
#
#   K614-PDF            the default printer: A4, portrait
#   K614-PDF-Landscape  A4 turned on its side: wider than tall
#
# Both are cups-pdf queues: a job becomes a PDF named after the document
# ("K614_Configuration_tool-job_N.pdf"), written to the directory in the
# "Out" line of /etc/cups/cups-pdf.conf, for the user who printed
# ($HOME/PDF by default; the last line of output says where).
#
# Wine's printer driver takes its page from the printer's PPD and starts every
# job in portrait: a CUPS default such as orientation-requested=4 never reaches
# the program. The landscape printer therefore gets a PPD whose default paper
# is A4 wider than tall (842 x 595 points), which wine honours.
set -eu

PORTRAIT=K614-PDF
LANDSCAPE=K614-PDF-Landscape
PPD=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
CONF=/etc/cups/cups-pdf.conf

log() { echo "printers.sh: $*" >&2; }

if ! command -v cupsd >/dev/null || [ ! -f "$PPD" ]; then
    log "cups and printer-driver-cups-pdf are not installed (scripts/install-deps.sh installs them)"
    exit 1
fi

# Installing the packages does not start services here. (lpstat -r exits 0
# either way: its words tell, in the C locale.)
scheduler_up() { LC_ALL=C lpstat -r 2>/dev/null | grep -qx "scheduler is running"; }
if ! scheduler_up; then
    cupsd
    for _ in $(seq 100); do
        scheduler_up && break
        sleep 0.1
    done
    if ! scheduler_up; then
        log "cupsd did not come up"
        exit 1
    fi
fi

# lpadmin warns that PPD drivers are deprecated; the queues work all the same.
if ! lpstat -p "$PORTRAIT" >/dev/null 2>&1; then
    lpadmin -p "$PORTRAIT" -v cups-pdf:/ -E -P "$PPD" 2>/dev/null
fi
if ! lpstat -p "$LANDSCAPE" >/dev/null 2>&1; then
    wide="$(mktemp)"
    awk '
        function wide(key, value) {
            print "*Default" key ": A4Wide"
            print "*" key " A4Wide/A4 Landscape: \"" value "\""
        }
        /^\*DefaultPageSize: /      { wide("PageSize", "<</PageSize[842 595]/ImagingBBox null>>setpagedevice"); next }
        /^\*DefaultPageRegion: /    { wide("PageRegion", "<</PageSize[842 595]/ImagingBBox null>>setpagedevice"); next }
        /^\*DefaultImageableArea: / { wide("ImageableArea", "0 0 842 595"); next }
        /^\*DefaultPaperDimension: /{ wide("PaperDimension", "842 595"); next }
        { print }
    ' "$PPD" >"$wide"
    lpadmin -p "$LANDSCAPE" -v cups-pdf:/ -E -P "$wide" 2>/dev/null
    rm -f "$wide"
fi
# A test that makes a queue refuse jobs accepts them again when it ends; one
# that was killed meanwhile is repaired here.
cupsaccept "$PORTRAIT" "$LANDSCAPE"
if ! lpstat -d 2>/dev/null | grep -q ": $PORTRAIT\$"; then
    lpadmin -d "$PORTRAIT"
fi

out="$(sed -n 's/^Out[[:space:]]\{1,\}//p' "$CONF" 2>/dev/null | tail -1)"
[ -n "$out" ] || out='/var/spool/cups-pdf/${USER}'
home="$(getent passwd "$(id -un)" | cut -d: -f6)" # cups-pdf's ${HOME}: the user database's
out="${out//\$\{HOME\}/${home:-$HOME}}"
out="${out//\$\{USER\}/$(id -un)}"
log "printers $PORTRAIT (default) and $LANDSCAPE ready; cups-pdf writes to $out"
