// k614ctl's test support. Without a device: frames of codes, a stream's text, a scripted line on a virtual
// clock and CtlOps over it, command lines parsed and run. End to end: child processes, their files, the
// simulator's control socket, a free TCP port on 127.0.0.1, a TCP relay that can go dead without closing,
// a fixture with the simulator on a pty.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <poll.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cli/ctl_dispatch.h"
#include "cli/exit_codes.h"
#include "link/frame_assembly.h"
#include "link/frame_codec.h"
#include "params/parameter_layout.h"

namespace cli_test {

// ---- without a device ----

inline std::string framesOf(std::initializer_list<unsigned> codes)
{
    std::string bytes;
    for (unsigned code : codes) {
        std::uint8_t frame[FRAME_SIZE];
        encodeFrame(static_cast<DeviceCode>(code), frame);
        bytes.append(reinterpret_cast<const char *>(frame), FRAME_SIZE);
    }
    return bytes;
}

inline std::string framesOf(const std::vector<unsigned> &codes)
{
    std::string bytes;
    for (unsigned code : codes)
        bytes += framesOf({code});
    return bytes;
}

// The device's answer as the simulator sends it: limit1Mode first, the rest in send order, the unit text, its end.
inline std::vector<unsigned> answerCodes(const ParameterSet &p)
{
    std::vector<unsigned> codes;
    for (const ParameterField &f : PARAMETER_FIELDS)
        codes.push_back(f.base + p.*f.member);
    for (const char *c = p.unitText; *c; ++c)
        codes.push_back(UNIT_CHAR_BASE + static_cast<unsigned char>(*c));
    codes.push_back(UNIT_TEXT_END);
    return codes;
}

// All of a stream's text, from its start.
inline std::string streamText(FILE *f)
{
    std::string s;
    std::rewind(f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

struct Chunk {
    std::int64_t at; // virtual ms
    std::string bytes;
    bool fails;
};

// A line that brings its script's chunks at their times, on a clock moved by what a read waits; as CtlOps:
// opens as `opens` says (then ok), the frames written with their times, a stop request from stopAt on.
struct FakeLine {
    std::int64_t now = 0;
    std::vector<Chunk> script;
    std::size_t next = 0;
    std::int64_t stopAt = std::numeric_limits<std::int64_t>::max();
    std::vector<bool> opens;
    std::vector<std::int64_t> openedAt;                  // times of the open attempts
    std::vector<std::pair<std::int64_t, unsigned>> sent; // (time, code) of each frame written
    FrameAssembly sentAssembly = {};
};

inline FakeLine *fakeOf(void *context)
{
    return static_cast<FakeLine *>(context);
}

inline const CtlOps FAKE_OPS = {
    nullptr,
    [](void *c, const char *) {
        FakeLine *f = fakeOf(c);
        f->openedAt.push_back(f->now);
        const bool ok = f->openedAt.size() > f->opens.size() || f->opens[f->openedAt.size() - 1];
        return ok ? SerialOpenResult::ok : SerialOpenResult::noSuchPort;
    },
    [](void *c, std::uint8_t *buffer, int size, int timeoutMs) {
        FakeLine *f = fakeOf(c);
        if (f->next < f->script.size() && f->script[f->next].at <= f->now + timeoutMs) {
            const Chunk &chunk = f->script[f->next++];
            f->now = chunk.at > f->now ? chunk.at : f->now;
            if (chunk.fails)
                return SERIAL_READ_FAILED;
            EXPECT_LE(static_cast<int>(chunk.bytes.size()), size);
            std::memcpy(buffer, chunk.bytes.data(), chunk.bytes.size());
            return static_cast<int>(chunk.bytes.size());
        }
        f->now += timeoutMs;
        return 0;
    },
    [](void *c, const std::uint8_t *bytes, int count) {
        FakeLine *f = fakeOf(c);
        assembleFrames(
            &f->sentAssembly, bytes, count,
            [](void *c2, DeviceCode code) { fakeOf(c2)->sent.push_back({fakeOf(c2)->now, code}); }, f);
        return true;
    },
    [](void *) {},
    [](void *c) { return fakeOf(c)->now; },
    [](void *c) -> std::int64_t { return 1700000000000LL + fakeOf(c)->now; },
    [](void *c, int ms) { fakeOf(c)->now += ms; },
    [](void *) {},
    [](void *c) { return fakeOf(c)->now >= fakeOf(c)->stopAt; },
    [](void *) { return false; },
    {}, // no output file: a test that writes one puts its own in
};

// `words` after "k614ctl".
inline ParseOutcome parseWords(std::vector<const char *> words, CtlArgs *args, FILE *err)
{
    words.insert(words.begin(), "k614ctl");
    return parseCtlArgs(static_cast<int>(words.size()), const_cast<char **>(words.data()), args, err);
}

// The command line `words` ("k614ctl" first) on `line`: its exit code, EXIT_USAGE when it does not parse.
inline int runFake(FakeLine *line, std::initializer_list<const char *> words, FILE *out, FILE *err)
{
    CtlArgs args;
    if (parseWords(std::vector<const char *>(words.begin() + 1, words.end()), &args, err) != ParseOutcome::run)
        return EXIT_USAGE;
    CtlOps ops = FAKE_OPS;
    ops.context = line;
    return runCtlCommand(args, ops, CtlIo{out, err});
}

// ---- end to end ----


inline std::string fileText(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool saveText(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    return static_cast<bool>(f << text) && static_cast<bool>(f.flush());
}

// The whole lines of `text`; an unfinished last one is not yet a line.
inline std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// Polls until done() holds or timeoutMs passed.
template <typename F> bool waitFor(F done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// argv[0] is a path, or a program name looked up in PATH.
inline pid_t spawnProcess(const std::vector<std::string> &words, const std::string &outPath,
                          const std::string &errPath)
{
    std::vector<char *> argv;
    for (const std::string &w : words)
        argv.push_back(const_cast<char *>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// The child's exit code (128 + signal), or -1 when it did not end within timeoutMs (it is then killed).
inline int waitExit(pid_t pid, int timeoutMs)
{
    int status = 0;
    const bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline void stopProcess(pid_t *pid, int signal = SIGTERM)
{
    if (*pid <= 0)
        return;
    kill(*pid, signal);
    waitExit(*pid, 10000);
    *pid = -1;
}

// A socket connected to `port` on 127.0.0.1, or -1.
inline int connectLocal(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s >= 0 && connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return s;
    if (s >= 0)
        close(s);
    return -1;
}

inline bool portListening(int port)
{
    const int s = connectLocal(port);
    if (s >= 0)
        close(s);
    return s >= 0;
}

// One control command to the simulator; its answer line.
inline std::string simCommand(int controlPort, const std::string &command)
{
    const int s = connectLocal(controlPort);
    std::string answer;
    const std::string line = command + "\n";
    if (s >= 0 && write(s, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
        char c;
        while (read(s, &c, 1) == 1 && c != '\n')
            answer += c;
    }
    if (s >= 0)
        close(s);
    return answer;
}

// A port on 127.0.0.1 that nobody listens on right now.
inline int freeLocalPort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

// A relay on 127.0.0.1 between a client and `targetPort`, forwarding both ways, that can stop forwarding
// without closing anything (a link gone dead halfway). Connections made while it is stalled wait in the
// listening queue; at the resume those that were open when it stalled are dropped unforwarded, and a waiting
// one its client has closed meanwhile is dropped too, so that nothing the client gave up reaches the target.
class StallingRelay {
public:
    explicit StallingRelay(int targetPort) : target_(targetPort)
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            listen(listener_, 16) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~StallingRelay()
    {
        done_ = true;
        thread_.join();
        for (Pair &p : pairs_)
            closePair(&p);
        close(listener_);
    }
    StallingRelay(const StallingRelay &) = delete;
    StallingRelay &operator=(const StallingRelay &) = delete;

    void stall(bool on) { stalled_ = on; }
    int port = 0;
    std::atomic<int> accepted{0};

private:
    struct Pair {
        int client = -1, server = -1;
        bool dead = false; // open when the relay stalled
    };
    static void closePair(Pair *p)
    {
        if (p->client >= 0)
            close(p->client);
        if (p->server >= 0)
            close(p->server);
        p->client = p->server = -1;
    }
    // Whatever a waiting client sent before its acceptance, or false when it has closed since.
    static bool takeWaiting(int fd, std::string *bytes)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                bytes->append(buffer, static_cast<std::size_t>(n));
            else
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    void acceptOne()
    {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        std::string waiting;
        if (!takeWaiting(client, &waiting)) {
            close(client);
            return;
        }
        Pair p;
        p.client = client;
        p.server = connectLocal(target_);
        if (p.server < 0 || send(p.server, waiting.data(), waiting.size(), MSG_NOSIGNAL) !=
                                static_cast<ssize_t>(waiting.size())) {
            closePair(&p);
            return;
        }
        ++accepted;
        pairs_.push_back(p);
    }
    void run()
    {
        bool wasStalled = false;
        while (!done_) {
            if (stalled_) {
                if (!wasStalled)
                    for (Pair &p : pairs_)
                        p.dead = true;
                wasStalled = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            if (wasStalled) {
                for (Pair &p : pairs_)
                    if (p.dead)
                        closePair(&p);
                wasStalled = false;
            }
            std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
            for (const Pair &p : pairs_) {
                fds.push_back({p.client, static_cast<short>(p.client >= 0 ? POLLIN : 0), 0});
                fds.push_back({p.server, static_cast<short>(p.server >= 0 ? POLLIN : 0), 0});
            }
            if (poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            const std::size_t count = pairs_.size();
            for (std::size_t i = 0; i < count; ++i) {
                for (int side = 0; side < 2; ++side) {
                    Pair &p = pairs_[i];
                    const int from = side == 0 ? p.client : p.server, to = side == 0 ? p.server : p.client;
                    if (from < 0 || !(fds[1 + 2 * i + side].revents & (POLLIN | POLLHUP | POLLERR)))
                        continue;
                    char buffer[4096];
                    const ssize_t n = read(from, buffer, sizeof buffer);
                    if (n <= 0 || send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                        closePair(&p);
                }
            }
            if (fds[0].revents & POLLIN)
                acceptOne();
        }
    }

    int target_;
    int listener_ = -1;
    std::vector<Pair> pairs_;
    std::atomic<bool> stalled_{false}, done_{false};
    std::thread thread_;
};

// A temp dir per test; the simulator on the pty `link` in it, its set in device.614, its control port.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir), nullptr);
        link = path("line");
        params = path("device.614");
    }
    void TearDown() override
    {
        stopProcess(&simPid);
        (void)std::system((std::string("rm -rf ") + dir).c_str());
    }
    std::string path(const char *name) const { return std::string(dir) + "/" + name; }

    void startSim(const std::vector<std::string> &extra)
    {
        std::vector<std::string> words = {K614SIM_PATH, "--link", link, "--params", params, "--control-port", "0",
                                          "--control-port-file", path("port"), "--exit-with-parent"};
        words.insert(words.end(), extra.begin(), extra.end());
        simPid = spawnProcess(words, path("sim.out"), path("sim.err"));
        ASSERT_GT(simPid, 0);
        struct stat st;
        ASSERT_TRUE(waitFor([&] { return lstat(link.c_str(), &st) == 0 && !fileText(path("port")).empty(); }, 5000))
            << fileText(path("sim.err"));
        controlPort = std::atoi(fileText(path("port")).c_str());
    }
    std::string simCommand(const std::string &command) const { return cli_test::simCommand(controlPort, command); }

    char dir[64] = "/tmp/k614cli.XXXXXX";
    std::string link, params;
    pid_t simPid = -1;
    int controlPort = 0;
};

} // namespace cli_test
