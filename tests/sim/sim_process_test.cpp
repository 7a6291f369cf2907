// Tests of the real k614sim process: frames on its pty, upload, parameter codes, log, control socket, rate.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/frame_codec.h"
#include "sim/frames.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool exists(const std::string &p)
{
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

std::string readText(const std::string &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

pid_t spawn(const std::vector<std::string> &args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1); // the start-up line; errors stay on stderr
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int waitExit(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// One running simulator in a private directory, as the harness starts it.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> extra)
    {
        char tmpl[] = "/tmp/k614simproc.XXXXXX";
        dir = mkdtemp(tmpl);
        link = dir + "/com1";
        log = dir + "/sim.log";
        params = dir + "/device.614";
        std::vector<std::string> args{K614SIM_PATH, "--link", link, "--log", log, "--params", params,
                                      "--control-port", "0", "--control-port-file", dir + "/port"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid = spawn(args);
        for (int i = 0; i < 500 && !exists(dir + "/port"); ++i)
            std::this_thread::sleep_for(10ms);
        port = std::atoi(readText(dir + "/port").c_str());
    }
    ~SimProcess()
    {
        if (fd >= 0)
            ::close(fd);
        if (control >= 0)
            ::close(control);
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitExit(pid);
        }
        std::string cmd = "rm -rf " + dir;
        (void)std::system(cmd.c_str());
    }

    // Opens the COM side the way the program's port does: raw, through the link.
    bool openLine()
    {
        if (fd >= 0)
            ::close(fd);
        fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        rx = FrameAssembler();
        return true;
    }

    void sendCode(DeviceCode code)
    {
        std::uint8_t f[FRAME_SIZE];
        encodeFrame(code, f);
        ASSERT_EQ(::write(fd, f, FRAME_SIZE), static_cast<ssize_t>(FRAME_SIZE));
    }

    // Reads frames until stop(code) is true or the time is up; returns every code.
    // hangup is set when the line reported the other end closed.
    template <class Stop>
    std::vector<DeviceCode> readCodes(std::chrono::milliseconds limit, Stop stop, bool *hangup = nullptr)
    {
        std::vector<DeviceCode> codes;
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 20);
            if (p.revents & (POLLHUP | POLLERR)) {
                if (hangup)
                    *hangup = true;
                return codes;
            }
            std::uint8_t buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                DeviceCode c;
                if (rx.feed(buf[i], c)) {
                    codes.push_back(c);
                    if (stop(c))
                        return codes;
                }
            }
        }
        return codes;
    }

    std::string ask(const std::string &cmd)
    {
        if (control < 0) {
            control = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(control, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
                return "connect failed";
        }
        const std::string line = cmd + "\n";
        (void)::send(control, line.data(), line.size(), 0);
        std::string answer;
        char c;
        while (::recv(control, &c, 1, 0) == 1 && c != '\n')
            answer += c;
        return answer;
    }

    std::string dir, link, log, params;
    pid_t pid = -1;
    int port = 0;
    int fd = -1;
    int control = -1;
    FrameAssembler rx;
};

bool isMeasurement(DeviceCode c)
{
    return c <= 199;
}

} // namespace

TEST(SimProcess, BadOptionsAndUnusableLinkExitWith2)
{
    EXPECT_EQ(waitExit(spawn({K614SIM_PATH, "--bogus"})), 2);
    EXPECT_EQ(waitExit(spawn({K614SIM_PATH, "--link", "/nonexistent-dir/com1"})), 2);
    EXPECT_EQ(waitExit(spawn({K614SIM_PATH, "--link", "/etc/passwd/com1"})), 2);
    EXPECT_EQ(waitExit(spawn({K614SIM_PATH, "--link", "/tmp/x", "--period", "0"})), 2);
    EXPECT_EQ(waitExit(spawn({K614SIM_PATH, "--help"})), 0);
}

TEST(SimProcess, StreamsUploadsAppliesParametersAndLogsThem)
{
    SimProcess sim({"--no-pace", "--wave", "steady", "--level", "42", "--unit", "kW"});
    ASSERT_GT(sim.port, 0);
    ASSERT_TRUE(sim.openLine());

    // The stream: measurements of 42 and, within 500 ms, the three peaks.
    std::vector<DeviceCode> seen = sim.readCodes(1500ms, [](DeviceCode c) { return c == 600; });
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 42), static_cast<long>(std::count_if(seen.begin(), seen.end(), isMeasurement)));
    EXPECT_NE(std::find(seen.begin(), seen.end(), 442), seen.end());

    // Upload: limit1Mode first, all 23 parameters, unit text, with measurements in between.
    sim.sendCode(CMD_REQUEST_UPLOAD);
    std::vector<DeviceCode> answer = sim.readCodes(2000ms, [](DeviceCode c) { return c == UNIT_TEXT_END; });
    std::vector<DeviceCode> params;
    for (DeviceCode c : answer) {
        if (c >= 3000 && c <= 64999)
            params.push_back(c);
    }
    ASSERT_EQ(params.size(), 23u);
    EXPECT_EQ(params[0], 3002);
    EXPECT_NE(std::find(params.begin(), params.end(), 3180), params.end());
    ASSERT_GE(answer.size(), 3u);
    EXPECT_EQ(answer[answer.size() - 3], 65200 + 'k');
    EXPECT_EQ(answer[answer.size() - 2], 65200 + 'W');
    EXPECT_EQ(answer.back(), UNIT_TEXT_END);

    // A parameter code changes the device's set, its file and its next answer.
    sim.sendCode(3100 + 65);
    std::this_thread::sleep_for(100ms);
    EXPECT_NE(sim.ask("params").find(" limit1Setpoint=65 "), std::string::npos);
    const std::string image = readText(sim.params);
    ASSERT_EQ(image.size(), 88u);
    EXPECT_EQ(static_cast<unsigned char>(image[2]), 65);
    sim.sendCode(CMD_REQUEST_UPLOAD);
    answer = sim.readCodes(2000ms, [](DeviceCode c) { return c == 3165; });
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer.back(), 3165);

    const std::string log = readText(sim.log);
    EXPECT_NE(log.find(" RX 65050\n"), std::string::npos);
    EXPECT_NE(log.find(" RX 3165\n"), std::string::npos);
    EXPECT_NE(log.find(" EV upload-answer 26\n"), std::string::npos);
    EXPECT_NE(log.find(" EV param limit1Setpoint 65\n"), std::string::npos);
    // Every line: seconds with 6 decimals, RX or EV.
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        double t;
        char kind[3];
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %2s", &t, kind), 2) << line;
        const auto dot = line.find('.');
        EXPECT_EQ(line.find(' '), dot + 7) << line;
        EXPECT_TRUE(std::string(kind) == "RX" || std::string(kind) == "EV") << line;
    }
    EXPECT_NE(sim.ask("status").find(" rx=3 "), std::string::npos);
}

TEST(SimProcess, ControlIgnoreWithholdAndLineFaults)
{
    SimProcess sim({"--no-pace", "--wave", "steady", "--level", "30"});
    ASSERT_TRUE(sim.openLine());
    EXPECT_EQ(sim.ask("ignore 3100"), "ok");
    EXPECT_EQ(sim.ask("ignore 3101").rfind("error", 0), 0u);
    sim.sendCode(3100 + 50);
    sim.sendCode(3200 + 25);
    std::this_thread::sleep_for(100ms);
    const std::string p = sim.ask("params");
    EXPECT_NE(p.find(" limit1Setpoint=80 "), std::string::npos) << p;
    EXPECT_NE(p.find(" limit2Setpoint=25 "), std::string::npos) << p;

    EXPECT_EQ(sim.ask("upload-withhold on"), "ok");
    sim.sendCode(CMD_REQUEST_UPLOAD);
    std::vector<DeviceCode> got = sim.readCodes(400ms, [](DeviceCode c) { return c >= 3000 && c <= 3009; });
    EXPECT_EQ(std::find(got.begin(), got.end(), 3002), got.end());

    // Garbage on the line does not stop the stream; injected codes arrive.
    for (const char *c : {"noise 100", "crstorm 10", "badframes 5", "zeros 10", "send 65052", "alarm 2",
                          "set-measurement 77"})
        EXPECT_EQ(sim.ask(c), "ok") << c;
    bool sawDvdt = false, sawAlarm = false;
    got = sim.readCodes(2000ms, [&](DeviceCode c) {
        sawDvdt = sawDvdt || c == STATUS_DVDT;
        sawAlarm = sawAlarm || c == 65039;
        return c == 77 && sawDvdt && sawAlarm;
    });
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 77);
    EXPECT_GT(sim.rx.rejected(), 0u);
    EXPECT_EQ(sim.ask("frobnicate").rfind("error", 0), 0u);
    EXPECT_EQ(sim.ask("set-measurement 300").rfind("error", 0), 0u);
}

TEST(SimProcess, ControlCutsAnAnswerShortAndQuietensThePeaks)
{
    SimProcess sim({"--wave", "steady", "--level", "30"});
    ASSERT_TRUE(sim.openLine());
    EXPECT_EQ(sim.ask("peak-reports off"), "ok");
    EXPECT_EQ(sim.ask("upload-cut 64"), "ok");
    sim.readCodes(100ms, [](DeviceCode) { return false; });
    std::vector<DeviceCode> got = sim.readCodes(1200ms, [](DeviceCode) { return false; });
    EXPECT_EQ(std::count_if(got.begin(), got.end(), [](DeviceCode c) { return c >= 200 && c < 1000; }), 0)
        << "a peak reported";

    sim.sendCode(CMD_REQUEST_UPLOAD);
    got = sim.readCodes(1500ms, [](DeviceCode) { return false; });
    const auto first = std::find_if(got.begin(), got.end(), [](DeviceCode c) { return c >= 3000 && c <= 3009; });
    ASSERT_NE(first, got.end());
    const auto parameters = std::count_if(first, got.end(), [](DeviceCode c) { return c >= 3000 && c < 65000; });
    EXPECT_GT(parameters, 1);
    EXPECT_LT(parameters, 23);
    EXPECT_LE(std::count_if(first, got.end(), isMeasurement), 6) << "still sending well after the cut";
    EXPECT_NE(sim.ask("status").find(" sending=0 "), std::string::npos);
}

TEST(SimProcess, UnplugClosesTheLineReplugRepointsTheLink)
{
    SimProcess sim({"--no-pace", "--wave", "steady", "--level", "10"});
    ASSERT_TRUE(sim.openLine());
    ASSERT_FALSE(sim.readCodes(500ms, [](DeviceCode c) { return c == 10; }).empty());

    EXPECT_EQ(sim.ask("unplug"), "ok");
    bool hangup = false;
    sim.readCodes(1000ms, [](DeviceCode) { return false; }, &hangup);
    EXPECT_TRUE(hangup);
    EXPECT_NE(sim.ask("status").find(" connected=0"), std::string::npos);
    // The name stays but leads nowhere: opening the port fails like a pulled adapter's.
    EXPECT_TRUE(exists(sim.link));
    EXPECT_FALSE(sim.openLine());

    const std::string answer = sim.ask("replug");
    ASSERT_EQ(answer.rfind("ok /dev/pts/", 0), 0u) << answer;
    char target[256] = {};
    ASSERT_GT(readlink(sim.link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(answer.substr(3), target);
    ASSERT_TRUE(sim.openLine());
    std::vector<DeviceCode> codes = sim.readCodes(1000ms, [](DeviceCode c) { return c == 10; });
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), 10);
    EXPECT_NE(sim.ask("status").find(" connected=1"), std::string::npos);

    const std::string log = readText(sim.log);
    EXPECT_NE(log.find(" EV unplug\n"), std::string::npos);
    EXPECT_NE(log.find(" EV replug pty="), std::string::npos);

    // SIGTERM: clean exit, link removed.
    kill(sim.pid, SIGTERM);
    EXPECT_EQ(waitExit(sim.pid), 0);
    sim.pid = -1;
    EXPECT_FALSE(exists(sim.link));
}

// Figures only: the paced stream as a reader on the pty sees it. Length from
// K614_SIM_RATE_SECONDS (default 5).
TEST(SimRate, PacedMeasurementRateAsSeenOnTheLine)
{
    const char *env = std::getenv("K614_SIM_RATE_SECONDS");
    const double seconds = env ? std::atof(env) : 5.0;
    SimProcess sim({"--wave", "sine"});
    ASSERT_TRUE(sim.openLine());
    sim.readCodes(200ms, [](DeviceCode) { return false; }); // settle, drop the backlog

    std::vector<Clock::time_point> arrivals;
    std::size_t others = 0;
    const auto start = Clock::now();
    sim.sendCode(CMD_REQUEST_UPLOAD); // the upload must not disturb the stream
    Clock::time_point answerFirst{}, answerLast{};
    sim.readCodes(std::chrono::milliseconds(static_cast<long>(seconds * 1000)), [&](DeviceCode c) {
        if (isMeasurement(c))
            arrivals.push_back(Clock::now());
        else
            ++others;
        if (c >= 3000 && c <= 3009 && answerFirst == Clock::time_point{})
            answerFirst = Clock::now();
        if (c == UNIT_TEXT_END && answerLast == Clock::time_point{})
            answerLast = Clock::now();
        return false;
    });
    ASSERT_GE(arrivals.size(), 2u);
    const double span = std::chrono::duration<double>(arrivals.back() - arrivals.front()).count();
    double maxGap = 0;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        maxGap = std::max(maxGap, std::chrono::duration<double>(arrivals[i] - arrivals[i - 1]).count());
    std::printf("[ figures  ] %zu measurements in %.3f s: %.3f per second (nominal 50), largest gap %.1f ms, "
                "%zu other codes, read for %.1f s\n",
                arrivals.size(), span, (arrivals.size() - 1) / span, maxGap * 1000, others,
                std::chrono::duration<double>(Clock::now() - start).count());
    std::printf("[ figures  ] simulator's own count: %s\n", sim.ask("rate").c_str());
    if (answerFirst != Clock::time_point{} && answerLast != Clock::time_point{})
        std::printf("[ figures  ] upload answer: first code %.1f ms after the request, unit text end %.1f ms\n",
                    std::chrono::duration<double, std::milli>(answerFirst - start).count(),
                    std::chrono::duration<double, std::milli>(answerLast - start).count());
}
