#!/usr/bin/env python3
# Runs a command with one more COM port mapped in the wine prefix: a pseudo-terminal whose output is
# held stopped (as by a received XOFF) and that nobody reads, so that the program's writes stay pending.
# Flushing the line's queue (PurgeComm) frees room but does not restart it.
#
#   stalled_line.py COMNUMBER -- COMMAND...   (WINEPREFIX must be set; exports K614_STALLED_COM_PORT)
import os
import subprocess
import sys
import termios
import tty


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.stderr.write("usage: stalled_line.py COMNUMBER -- COMMAND...\n")
        return 2
    com = int(sys.argv[1])
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        sys.stderr.write("stalled_line.py: WINEPREFIX is not set\n")
        return 2
    link = os.path.join(prefix, "dosdevices", "com%d" % com)
    master, slave = os.openpty()
    tty.setraw(slave)  # no echo, no flow control characters
    termios.tcflow(slave, termios.TCOOFF)
    if os.path.lexists(link):
        os.unlink(link)
    target = os.ttyname(slave)
    os.symlink(target, link)
    env = dict(os.environ, K614_STALLED_COM_PORT=str(com))
    try:
        return subprocess.call(sys.argv[3:], env=env)
    finally:
        if os.path.islink(link) and os.readlink(link) == target:
            os.unlink(link)
        os.close(master)
        os.close(slave)


if __name__ == "__main__":
    sys.exit(main())
