// Run-time control of the simulator: a line-per-command TCP server on 127.0.0.1.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <poll.h>

class ControlServer {
public:
    // Takes one command line (without its newline), returns the one-line answer.
    using Handler = std::function<std::string(const std::string &)>;

    ~ControlServer();
    // port 0 picks a free port. Returns false with a reason on failure.
    bool listen(int port, std::string &error);
    int port() const { return port_; }

    // Adds the listening socket and the clients to a poll set.
    void addPollFds(std::vector<pollfd> &fds) const;
    // Accepts, reads and answers whatever poll reported for our descriptors.
    void service(const std::vector<pollfd> &fds, const Handler &handler);

private:
    struct Client {
        int fd;
        std::string pending; // bytes of an unfinished line
    };
    void accept();
    bool serviceClient(Client &c, const Handler &handler); // false: drop the client
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<Client> clients_;
};
