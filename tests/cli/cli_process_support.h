// Child processes for k614ctl's end-to-end tests: spawn, wait, read their files, the simulator's control
// socket, a free TCP port on 127.0.0.1.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cli_test {

inline std::string fileText(const std::string &path)
{
    std::string text;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return text;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

inline bool saveText(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

inline std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break; // unfinished: not yet a line
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
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
                          const std::string &errPath, char **env = environ)
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
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env);
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

// One control command to the simulator; its answer line.
inline std::string simCommand(int controlPort, const std::string &command)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(controlPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    const std::string line = command + "\n";
    if (s >= 0 && connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        write(s, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
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

inline bool portListening(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

} // namespace cli_test
