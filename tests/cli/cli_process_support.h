// Child processes for k614ctl's end-to-end tests: spawn, wait, read their files, the simulator's control
// socket, a free TCP port on 127.0.0.1; a fixture with a temp dir and the simulator on a pty in it.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cli_test {

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
