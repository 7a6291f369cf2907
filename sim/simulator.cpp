// The simulated K614 at run time: the 20 ms device loop tying model, port, transmitter, log and control together.
#include "sim/simulator.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <random>
#include <sstream>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "link/frame_codec.h"
#include "sim/code_log.h"
#include "sim/control_server.h"
#include "sim/device_model.h"
#include "sim/frames.h"
#include "sim/line_pacer.h"
#include "sim/param_store.h"
#include "sim/pty_port.h"

namespace {

constexpr std::chrono::milliseconds TICK{20};
// Bytes a paced line carries in one 20 ms tick (960 per second).
constexpr std::size_t TICK_BYTE_BUDGET = 19;
// Unread bytes beyond half a second of line time mean nobody listens on the
// port: a real line loses them, so the program must not find a backlog of
// stale frames when it opens the port.
constexpr int STALE_BYTES = 480;
constexpr int MAX_BURST = 100000;

class Simulator {
public:
    explicit Simulator(const SimOptions &o)
        : opt_(o), port_(o.linkPath), pacer_(o.paced), model_(defaultParameterSet()), rng_(o.seed) {}

    int run();

private:
    bool start();
    void tick(SimClock::time_point now);
    void readPort(SimClock::time_point now);
    void logNotes();
    void sendCode(DeviceCode code, SimClock::time_point now);
    void sendRaw(const std::vector<std::uint8_t> &bytes, SimClock::time_point now);
    std::string command(const std::string &line);
    std::string statusLine() const;
    std::string rateLine() const;
    void saveParams();
    void goSilent(const char *why);
    void cutAnswerShort(SimClock::time_point now);

    SimOptions opt_;
    PtyPort port_;
    LinePacer pacer_;
    DeviceModel model_;
    Waveform wave_;
    CodeLog log_;
    ControlServer control_;
    FrameAssembler assembler_;
    std::mt19937 rng_;
    unsigned long long waveTick_ = 0;
    bool sending_ = true;
    // upload-cut: silent this long after the next answer's first code (-1: off).
    long answerCutMs_ = -1;
    std::uint64_t answersBeforeCut_ = 0;
    SimClock::time_point cutAt_{};
    bool cutDue_ = false;
    bool stop_ = false;
    std::uint64_t staleFlushes_ = 0;
    std::uint64_t rejectedLogged_ = 0;
};

bool writePortFile(const std::string &path, int port, std::string &error)
{
    const std::string tmp = path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f || std::fprintf(f, "%d\n", port) < 0 || std::fclose(f) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write control port file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool parseInt(const std::string &s, long lo, long hi, long &out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

bool Simulator::start()
{
    std::string err;
    if (!opt_.logPath.empty() && !log_.open(opt_.logPath, err)) {
        std::fprintf(stderr, "k614sim: %s\n", err.c_str());
        return false;
    }
    ParameterSet set = defaultParameterSet();
    if (!opt_.paramsPath.empty() && !loadParameterImage(opt_.paramsPath, defaultParameterSet(), set, err)) {
        std::fprintf(stderr, "k614sim: %s\n", err.c_str());
        return false;
    }
    model_ = DeviceModel(set);
    if (!opt_.unitText.empty())
        model_.setUnitText(opt_.unitText);
    else if (model_.unitText().empty())
        model_.setUnitText("MW");
    if (!wave_.configure(opt_.waveShape, opt_.wave, err)) {
        std::fprintf(stderr, "k614sim: %s\n", err.c_str());
        return false;
    }
    if (!port_.open(err)) {
        std::fprintf(stderr, "k614sim: %s\n", err.c_str());
        return false;
    }
    if (opt_.controlPort >= 0) {
        if (!control_.listen(opt_.controlPort, err)) {
            std::fprintf(stderr, "k614sim: %s\n", err.c_str());
            return false;
        }
        if (!opt_.controlPortFile.empty() && !writePortFile(opt_.controlPortFile, control_.port(), err)) {
            std::fprintf(stderr, "k614sim: %s\n", err.c_str());
            return false;
        }
    }
    log_.event("start link=" + opt_.linkPath + " pty=" + port_.slavePath() + " control=" +
               std::to_string(control_.port()) + (opt_.paced ? " paced" : " unpaced"));
    std::printf("k614sim: %s -> %s, control port %d, %s\n", opt_.linkPath.c_str(), port_.slavePath().c_str(),
                control_.port(), opt_.paced ? "paced at 9600 baud" : "not paced");
    std::fflush(stdout);
    return true;
}

void Simulator::logNotes()
{
    for (const std::string &n : model_.takeNotes())
        log_.event(n);
}

void Simulator::saveParams()
{
    if (opt_.paramsPath.empty())
        return;
    std::string err;
    if (!saveParameterImage(opt_.paramsPath, model_.parameters(), err)) {
        std::fprintf(stderr, "k614sim: %s\n", err.c_str());
        log_.event("save-failed");
    }
}

void Simulator::sendCode(DeviceCode code, SimClock::time_point now)
{
    std::uint8_t frame[DEVICE_FRAME_MAX];
    const std::size_t n = encodeDeviceFrame(code, frame);
    pacer_.enqueue(frame, n, false, now);
}

void Simulator::sendRaw(const std::vector<std::uint8_t> &bytes, SimClock::time_point now)
{
    pacer_.enqueue(bytes.data(), bytes.size(), false, now);
}

void Simulator::goSilent(const char *why)
{
    sending_ = false;
    pacer_.clearAfterFrameOnLine();
    log_.event(why);
}

// A device that stops in the middle of its answer: once the armed answer's
// first code is on its way, silent from MS later on (one answer only).
void Simulator::cutAnswerShort(SimClock::time_point now)
{
    if (answerCutMs_ >= 0 && model_.answersStarted() != answersBeforeCut_) {
        cutAt_ = now + std::chrono::milliseconds(answerCutMs_);
        cutDue_ = true;
        answerCutMs_ = -1;
    }
    if (cutDue_ && now >= cutAt_) {
        cutDue_ = false;
        goSilent("silent upload-cut");
    }
}

void Simulator::tick(SimClock::time_point now)
{
    const long raw = std::lround(wave_.valueAt(waveTick_++));
    const DeviceCode m = model_.tick(static_cast<int>(std::clamp<long>(raw, -1000, 1000)));
    logNotes();
    if (!sending_ || !port_.isOpen()) {
        model_.dropPending();
        return;
    }
    std::uint8_t frame[DEVICE_FRAME_MAX];
    pacer_.enqueue(frame, encodeDeviceFrame(m, frame), true, now);
    // Other codes share the line with the measurement: on a paced line only as
    // many as fit in the rest of this tick, so the measurement stays on time.
    DeviceCode code;
    while ((!opt_.paced || pacer_.queuedBytes() + FRAME_SIZE <= TICK_BYTE_BUDGET) && model_.nextCode(code))
        sendCode(code, now);
    cutAnswerShort(now);

    const int unread = port_.unreadBytes();
    if (unread > STALE_BYTES) {
        port_.discardUnread();
        // Once, then every 100th time: nobody listening is not news each second.
        if (staleFlushes_++ % 100 == 0)
            log_.event("stale-flush " + std::to_string(unread) + " count=" + std::to_string(staleFlushes_));
    }
}

void Simulator::readPort(SimClock::time_point)
{
    std::uint8_t buf[256];
    for (;;) {
        const ssize_t n = ::read(port_.masterFd(), buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            DeviceCode code;
            if (!assembler_.feed(buf[i], code))
                continue;
            log_.received(code);
            const bool changed = model_.receive(code);
            logNotes();
            if (changed)
                saveParams();
        }
    }
    if (assembler_.rejected() != rejectedLogged_) {
        log_.event("rx-rejected " + std::to_string(assembler_.rejected() - rejectedLogged_));
        rejectedLogged_ = assembler_.rejected();
    }
}

std::string Simulator::statusLine() const
{
    std::ostringstream s;
    s << "ok measurement=" << model_.measurement() << " max=" << model_.maxPeak() << " min=" << model_.minPeak()
      << " dpdt=" << model_.dpdtPeak() << " rx=" << model_.received() << " connected=" << (port_.isOpen() ? 1 : 0)
      << " sending=" << (sending_ ? 1 : 0) << " alarm1=" << model_.alarmActive(1)
      << " alarm2=" << model_.alarmActive(2) << " sent=" << pacer_.measurementsSent()
      << " dropped=" << pacer_.framesDropped() << " pty=" << (port_.isOpen() ? port_.slavePath() : "-")
      << " wave=" << wave_.shape();
    return s.str();
}

std::string Simulator::rateLine() const
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "measurements=%llu seconds=%.3f rate=%.3f",
                  static_cast<unsigned long long>(pacer_.measurementsSent()), pacer_.measuredSeconds(),
                  pacer_.measuredRate());
    return buf;
}

std::string Simulator::command(const std::string &line)
{
    std::istringstream in(line);
    std::string cmd, arg;
    in >> cmd;
    std::getline(in >> std::ws, arg);
    while (!arg.empty() && std::isspace(static_cast<unsigned char>(arg.back())))
        arg.pop_back();
    const auto now = SimClock::now();
    long n = 0;
    // Queries are left out of the log: tests poll them.
    if (cmd != "status" && cmd != "params" && cmd != "unit" && cmd != "rate")
        log_.event("control " + line);

    auto needCount = [&](long &v) { return parseInt(arg, 0, MAX_BURST, v); };
    if (cmd == "status")
        return statusLine();
    if (cmd == "params") {
        std::string s = "ok";
        for (const ParameterField &f : PARAMETER_FIELDS)
            s += std::string(" ") + f.name + "=" + std::to_string(model_.parameters().*f.member);
        return s;
    }
    if (cmd == "unit")
        return "ok " + model_.unitText();
    if (cmd == "rate") {
        std::string r = rateLine();
        if (arg == "reset")
            pacer_.resetRate();
        return "ok " + r;
    }
    if (cmd == "quit") {
        stop_ = true;
        return "ok";
    }
    if (cmd == "silent") {
        goSilent("silent");
        return "ok";
    }
    if (cmd == "resume") {
        sending_ = true;
        log_.event(cmd);
        return "ok";
    }
    if (cmd == "upload-cut") {
        if (!parseInt(arg, 0, 600000, n))
            return "error usage: upload-cut MS";
        answerCutMs_ = n;
        answersBeforeCut_ = model_.answersStarted();
        cutDue_ = false;
        return "ok";
    }
    if (cmd == "peak-reports") {
        if (arg != "on" && arg != "off")
            return "error usage: peak-reports on|off";
        model_.setPeakReports(arg == "on");
        return "ok";
    }
    if (cmd == "unplug") {
        if (!port_.isOpen())
            return "error already unplugged";
        port_.unplug();
        pacer_.clear();
        model_.dropPending();
        log_.event("unplug");
        return "ok";
    }
    if (cmd == "replug") {
        if (port_.isOpen())
            return "error not unplugged";
        std::string err;
        if (!port_.open(err))
            return "error " + err;
        assembler_ = FrameAssembler();
        rejectedLogged_ = 0;
        log_.event("replug pty=" + port_.slavePath());
        return "ok " + port_.slavePath();
    }
    if (cmd == "noise" || cmd == "crstorm" || cmd == "zeros" || cmd == "badframes") {
        if (!needCount(n))
            return "error usage: " + cmd + " N (0.." + std::to_string(MAX_BURST) + ")";
        if (!port_.isOpen() || !sending_)
            return "error not sending";
        std::vector<std::uint8_t> bytes;
        if (cmd == "noise") {
            std::uniform_int_distribution<int> byte(0, 255);
            while (bytes.size() < static_cast<std::size_t>(n)) {
                const int b = byte(rng_);
                if (b != 0x0D)
                    bytes.push_back(static_cast<std::uint8_t>(b));
            }
        } else if (cmd == "crstorm") {
            bytes.assign(static_cast<std::size_t>(n), 0x0D);
        } else if (cmd == "zeros") {
            bytes.assign(static_cast<std::size_t>(n), 0x00);
        } else {
            std::uniform_int_distribution<int> anyCode(256, 65535);
            for (long i = 0; i < n; ++i) {
                std::uint8_t f[DEVICE_FRAME_MAX];
                encodeDeviceFrame(static_cast<DeviceCode>(anyCode(rng_)), f);
                f[4] = static_cast<std::uint8_t>(f[4] + 1); // wrong checksum
                bytes.insert(bytes.end(), f, f + FRAME_SIZE);
            }
        }
        sendRaw(bytes, now);
        log_.event(cmd + " " + std::to_string(n));
        return "ok";
    }
    if (cmd == "upload-delay") {
        if (!parseInt(arg, 0, 600000, n))
            return "error usage: upload-delay MS";
        model_.setUploadDelayTicks(static_cast<int>((n + 19) / 20));
        return "ok";
    }
    if (cmd == "upload-withhold") {
        if (arg != "on" && arg != "off")
            return "error usage: upload-withhold on|off";
        model_.setUploadWithheld(arg == "on");
        return "ok";
    }
    if (cmd == "ignore") {
        if (arg == "none") {
            model_.ignoreNone();
            return "ok";
        }
        if (!parseInt(arg, 0, 65535, n) || !model_.ignoreField(static_cast<DeviceCode>(n)))
            return "error usage: ignore CODEBASE|none (CODEBASE: a parameter's code base, e.g. 3100)";
        return "ok";
    }
    if (cmd == "set-measurement") {
        if (!parseInt(arg, 0, MEASUREMENT_LIMIT, n))
            return "error usage: set-measurement 0..199";
        wave_.setSteady(static_cast<double>(n));
        return "ok";
    }
    if (cmd == "wave") {
        // wave SHAPE [level=N] [amplitude=N] [period=S]
        std::istringstream w(arg);
        std::string shape, kv;
        w >> shape;
        WaveSettings ws = opt_.wave;
        while (w >> kv) {
            const auto eq = kv.find('=');
            char *end = nullptr;
            const double v = eq == std::string::npos ? 0 : std::strtod(kv.c_str() + eq + 1, &end);
            if (eq == std::string::npos || *end != '\0')
                return "error bad wave setting '" + kv + "'";
            const std::string key = kv.substr(0, eq);
            if (key == "level")
                ws.level = v;
            else if (key == "amplitude")
                ws.amplitude = v;
            else if (key == "period")
                ws.period = v;
            else
                return "error unknown wave setting '" + key + "'";
        }
        std::string err;
        if (!wave_.configure(shape, ws, err))
            return "error " + err;
        waveTick_ = 0;
        return "ok";
    }
    if (cmd == "alarm") {
        if (arg != "1" && arg != "2")
            return "error usage: alarm 1|2";
        model_.raiseAlarm(arg == "2" ? 2 : 1);
        return "ok";
    }
    if (cmd == "dvdt") {
        model_.sendNow(STATUS_DVDT);
        return "ok";
    }
    if (cmd == "send") {
        if (!parseInt(arg, 0, 65535, n))
            return "error usage: send CODE (0..65535)";
        model_.sendNow(static_cast<DeviceCode>(n));
        return "ok";
    }
    if (cmd == "set-param") {
        std::istringstream p(arg);
        std::string name, value;
        p >> name >> value;
        for (const ParameterField &f : PARAMETER_FIELDS) {
            if (name == f.name) {
                if (!parseInt(value, 0, f.lastCode - f.base, n))
                    return "error value out of range 0.." + std::to_string(f.lastCode - f.base);
                model_.apply(static_cast<DeviceCode>(f.base + n));
                logNotes();
                saveParams();
                return "ok";
            }
        }
        return "error unknown parameter '" + name + "'";
    }
    return "error unknown command '" + cmd + "'";
}

int Simulator::run()
{
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    sigprocmask(SIG_BLOCK, &sigs, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigFd = signalfd(-1, &sigs, SFD_NONBLOCK | SFD_CLOEXEC);
    if (opt_.exitWithParent) {
        // A harness killed outright (a test runner's time-out) must not leave
        // a device running: its death is delivered as SIGTERM.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != opt_.parentPid)
            return 1;
    }

    if (!start()) {
        port_.close();
        port_.removeLink();
        return 1;
    }

    auto nextTick = SimClock::now();
    auto nextReport = nextTick + std::chrono::seconds(10);
    std::vector<pollfd> fds;
    while (!stop_) {
        auto now = SimClock::now();
        // Absolute deadlines: tick n is due at start + n * 20 ms, so the rate
        // holds however late a wake-up is. After a long stall (stopped
        // process) the lost ticks are skipped rather than sent in a burst.
        if (now - nextTick > std::chrono::seconds(1))
            nextTick = now;
        while (now >= nextTick) {
            tick(now);
            nextTick += TICK;
        }
        if (port_.isOpen() && !pacer_.pump(port_.masterFd(), now)) {
            log_.event(std::string("write-error ") + std::strerror(errno));
            pacer_.clear();
        }
        if (opt_.rateReport && now >= nextReport) {
            std::fprintf(stderr, "k614sim: rate %s\n", rateLine().c_str());
            nextReport += std::chrono::seconds(10);
        }

        fds.clear();
        fds.push_back({sigFd, POLLIN, 0});
        if (port_.isOpen())
            fds.push_back({port_.masterFd(), static_cast<short>(POLLIN | (pacer_.waitingForRoom() ? POLLOUT : 0)), 0});
        control_.addPollFds(fds);

        auto wake = nextTick;
        if (!pacer_.waitingForRoom())
            wake = std::min(wake, pacer_.nextSlot());
        now = SimClock::now();
        const auto wait = wake > now ? wake - now : SimClock::duration::zero();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        const int r = ::ppoll(fds.data(), fds.size(), &ts, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(sigFd, &info, sizeof info) > 0) {
                log_.event(std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo)));
                stop_ = true;
            }
        }
        if (port_.isOpen() && fds.size() > 1 && fds[1].fd == port_.masterFd() && (fds[1].revents & POLLIN))
            readPort(SimClock::now());
        control_.service(fds, [this](const std::string &l) { return command(l); });
    }

    std::fprintf(stderr, "k614sim: %s\n", rateLine().c_str());
    log_.event("stop " + rateLine());
    port_.close();
    port_.removeLink();
    if (sigFd >= 0)
        ::close(sigFd);
    return 0;
}

int runSimulator(const SimOptions &options)
{
    Simulator sim(options);
    return sim.run();
}
