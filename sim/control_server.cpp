// Run-time control of the simulator: a line-per-command TCP server on 127.0.0.1.
#include "sim/control_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

ControlServer::~ControlServer()
{
    for (Client &c : clients_)
        ::close(c.fd);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool ControlServer::listen(int port, std::string &error)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("control socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0) {
        error = "control port " + std::to_string(port) + " on 127.0.0.1: " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

void ControlServer::addPollFds(std::vector<pollfd> &fds) const
{
    if (listenFd_ >= 0)
        fds.push_back({listenFd_, POLLIN, 0});
    for (const Client &c : clients_)
        fds.push_back({c.fd, POLLIN, 0});
}

void ControlServer::accept()
{
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        clients_.push_back({fd, {}});
    }
}

static void sendLine(int fd, std::string text)
{
    text += '\n';
    // Answers are short; a client that does not read them loses them rather
    // than stalling the device.
    std::size_t off = 0;
    while (off < text.size()) {
        const ssize_t w = ::send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return;
        off += static_cast<std::size_t>(w);
    }
}

bool ControlServer::serviceClient(Client &c, const Handler &handler)
{
    char buf[1024];
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.pending.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = c.pending.find('\n')) != std::string::npos) {
        std::string line = c.pending.substr(0, nl);
        c.pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        sendLine(c.fd, handler(line));
    }
    if (c.pending.size() > 4096) {
        sendLine(c.fd, "error line too long");
        return false;
    }
    return true;
}

void ControlServer::service(const std::vector<pollfd> &fds, const Handler &handler)
{
    std::vector<int> ready;
    for (const pollfd &p : fds) {
        if (p.revents == 0)
            continue;
        if (p.fd == listenFd_)
            accept();
        else
            ready.push_back(p.fd);
    }
    for (int fd : ready) {
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            if (clients_[i].fd != fd)
                continue;
            if (!serviceClient(clients_[i], handler)) {
                ::close(fd);
                clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            }
            break;
        }
    }
}
