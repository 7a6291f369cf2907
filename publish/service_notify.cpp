// The service manager's notifications in the documented datagram protocol: a few lines instead of libsystemd.
//
// The protocol is one datagram of text per message to the AF_UNIX socket in NOTIFY_SOCKET, which is all
// sd_notify() does for a process that sends for itself; linking libsystemd for that would add a shared
// library (and its own dependencies) to a binary that otherwise needs only libmosquitto.
#include "publish/service_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

bool notifyServiceManager(const char *message)
{
    const char *name = std::getenv("NOTIFY_SOCKET");
    if (!name || name[0] == 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name, length);
    // An abstract socket's name starts with a NUL byte and is exactly as long as given, with no terminator.
    socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    if (name[0] == '@')
        address.sun_path[0] = 0;
    else if (name[0] == '/')
        size += 1;
    else
        return false; // neither a path nor an abstract name (a vsock address, say): not ours to reach
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t sent = sendto(fd, message, std::strlen(message), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr *>(&address), size);
    close(fd);
    return sent == static_cast<ssize_t>(std::strlen(message));
}

std::int64_t serviceWatchdogIntervalMs()
{
    const char *usec = std::getenv("WATCHDOG_USEC");
    if (!usec || usec[0] == 0)
        return 0;
    const char *pid = std::getenv("WATCHDOG_PID");
    if (pid && pid[0] != 0 && std::strtoll(pid, nullptr, 10) != static_cast<long long>(getpid()))
        return 0;
    char *end = nullptr;
    const long long us = std::strtoll(usec, &end, 10);
    if (*end != 0 || us <= 0)
        return 0;
    const std::int64_t halfMs = us / 2000;
    return halfMs > 0 ? halfMs : 1;
}
