// k614sim: command line of the K614 device simulator.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "sim/pty_port.h"
#include "sim/simulator.h"
#include "k614_version.h"

namespace {

const char HELP[] = R"(Usage: k614sim --link PATH [options]

Simulates a K614 power-monitoring relay on a pseudo-terminal. The slave side
is published as a symlink at PATH; point a COM port (wine: dosdevices/comN) at it.

The device streams one measurement (0..199 kW%) every 20 ms, reports its
min/max/dPdt peaks (codes 200+v, 400+v, 600+v) when they change and every
500 ms, sends alarm 65014 (limit 1) / 65039 (limit 2) when a limit trips and
65052 when the measurement moves by more than dV/dt per cent in one tick.
dPdt is the change over the last second in kW% per second (rises only for
"+dPdt", either way for "+/- dPdt"), clamped to 0..399. Limits trip below
(Min.) or above (Max.) the setpoint and clear once the measurement is back
past the setpoint by the hysteresis.
It answers 65050 (upload request) with limit1Mode first, the other 22
parameters in send order, the unit text (65200 + char) and 65213, interleaved
with the measurement stream. 65053/65054/65055 reset the max/min/dPdt peak and
report the new value at once. 65051 (space key) adds a test pulse of +30 kW%
to the measurement for one second. Parameter codes 3000..64999 are stored.

Options:
  --link PATH            symlink to create for the pty slave (required)
  --log PATH             append a line per received code and per event:
                           "<seconds, 6 decimals> RX <code>"
                           "<seconds, 6 decimals> EV <event> [details]"
  --params FILE.614      load the 88-byte parameter set (created from the
                         defaults when missing); saved after every change
  --unit TEXT            unit text (default: the set's own, else "MW")
  --wave SHAPE            steady | sine | ramp | steps | profile:FILE (default sine)
  --level N              centre level in kW% (default 50)
  --amplitude N          amplitude in kW% (default 20)
  --period S             period in seconds (default 5)
                           sine: level + amplitude * sin
                           ramp: saw tooth level-amplitude .. level+amplitude
                           steps: level+amplitude for half a period, then
                                  level-amplitude
                         profile FILE: one value per line, one line per 20 ms
                         tick; or "SECONDS VALUE" lines, each value held until
                         the next line's time. '#' starts a comment. Loops.
  --no-pace              write as fast as possible (default: paced to 9600
                         baud, 960 bytes/s, no byte before its slot; other codes
                         fill the rest of each 20 ms tick after the measurement)
  --rate-report          print the measured measurement rate every 10 s (it is
                         always printed at exit)
  --control-port N       TCP control server on 127.0.0.1:N (0: any free port)
  --control-port-file F  write the chosen control port number to F
  --seed N               seed of the line-noise generator
  --exit-with-parent     stop cleanly when the process that started it dies
  --help                 this text
  --version              print "k614sim VERSION" and exit

Output: frames the port cannot take are kept (up to 256 frames, then the
oldest are dropped); unread bytes beyond 480 (nobody has the port open) are
discarded, as a line without a listener loses them.

Control commands (one per line; answer "ok", "ok <data>" or "error <reason>"):
  status                 ok measurement=M max=X min=N dpdt=D rx=<codes received>
                           connected=0|1 sending=0|1 alarm1=0|1 alarm2=0|1
                           sent=<measurements written> dropped=<frames> pty=P wave=W
  params                 ok limit1Mode=V ... (the 23 values in send order)
  unit                   ok <unit text>
  rate [reset]           ok measurements=N seconds=S rate=R (per second)
  silent | resume        stop / restart all sending
  noise N                N random bytes, never CR
  crstorm N              N bare CRs
  badframes N            N long frames with a wrong checksum
  zeros N                N 0x00 bytes
  unplug                 close the pty: the program's reads fail (the line is
                         closed) and the link dangles ("<link>.unplugged"),
                         so opening the port fails until replug
  replug                 open a new pty, re-point the link; ok <pty path>
  upload-delay MS        answer upload requests MS later
  upload-withhold on|off ignore upload requests
  upload-cut MS          fall silent MS ms after the next upload answer's
                           first code went out (once; resume ends it)
  peak-reports on|off    report the peaks or keep them quiet (a reset's new
                           value still goes out)
  ignore CODEBASE|none   do not apply codes of the field with that base
  set-measurement N      steady measurement N (0..199)
  wave SHAPE [level=N] [amplitude=N] [period=S]
  alarm 1|2              send the limit's alarm code now
  dvdt                   send 65052 now
  send CODE              send any code 0..65535
  set-param NAME VALUE   change a parameter on the device (saved)
  quit                   stop the simulator

Exit codes: 0 after quit/SIGINT/SIGTERM (the link is removed), 1 when start-up
fails, 2 for a bad option or an unusable link path.
)";

int usageError(const std::string &msg)
{
    std::fprintf(stderr, "k614sim: %s\nTry 'k614sim --help'.\n", msg.c_str());
    return 2;
}

bool toNumber(const char *s, double &out)
{
    char *end = nullptr;
    out = std::strtod(s, &end);
    return *s != '\0' && *end == '\0';
}

} // namespace

int main(int argc, char **argv)
{
    SimOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(HELP, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("k614sim %s\n", K614_VERSION);
            return 0;
        }
        if (a == "--no-pace") {
            o.paced = false;
            continue;
        }
        if (a == "--rate-report") {
            o.rateReport = true;
            continue;
        }
        if (a == "--exit-with-parent") {
            o.exitWithParent = true;
            o.parentPid = static_cast<int>(getppid());
            continue;
        }
        static const char *const withValue[] = {"--link", "--log", "--params", "--unit", "--wave", "--level",
                                                "--amplitude", "--period", "--control-port",
                                                "--control-port-file", "--seed"};
        bool known = false;
        for (const char *w : withValue)
            known = known || a == w;
        if (!known)
            return usageError(a.rfind("-", 0) == 0 ? "unknown option " + a : "unexpected argument " + a);
        if (i + 1 >= argc)
            return usageError("option " + a + " needs a value");
        const char *v = argv[++i];
        double num = 0;
        if (a == "--link") {
            o.linkPath = v;
        } else if (a == "--log") {
            o.logPath = v;
        } else if (a == "--params") {
            o.paramsPath = v;
        } else if (a == "--unit") {
            o.unitText = v;
        } else if (a == "--wave") {
            o.waveShape = v;
        } else if (a == "--level" || a == "--amplitude" || a == "--period") {
            if (!toNumber(v, num))
                return usageError(a + " needs a number, not '" + v + "'");
            (a == "--level" ? o.wave.level : a == "--amplitude" ? o.wave.amplitude : o.wave.period) = num;
        } else if (a == "--control-port") {
            if (!toNumber(v, num) || num < 0 || num > 65535 || num != static_cast<int>(num))
                return usageError("--control-port needs a port number 0..65535");
            o.controlPort = static_cast<int>(num);
        } else if (a == "--control-port-file") {
            o.controlPortFile = v;
        } else if (a == "--seed") {
            if (!toNumber(v, num) || num < 0)
                return usageError("--seed needs a non-negative number");
            o.seed = static_cast<unsigned>(num);
        } else {
            return usageError("unknown option " + a);
        }
    }
    std::string err;
    if (!linkPathUsable(o.linkPath, err))
        return usageError(err);
    if (o.wave.period <= 0)
        return usageError("--period must be positive");
    if (!o.controlPortFile.empty() && o.controlPort < 0)
        o.controlPort = 0;
    return runSimulator(o);
}
