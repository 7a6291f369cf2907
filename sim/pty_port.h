// The simulated COM port: a pseudo-terminal pair whose slave is published as a symlink.
#pragma once

#include <string>

class PtyPort {
public:
    explicit PtyPort(std::string linkPath) : linkPath_(std::move(linkPath)) {}
    ~PtyPort() { close(); }
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    // Opens a new pair in raw mode and points the link at its slave (an
    // existing link is replaced). On failure returns false with a reason.
    bool open(std::string &error);
    // Closes both ends.
    void close();
    // Closes both ends and leaves the link dangling (pointing at
    // "<link>.unplugged", which does not exist): opening the port then fails
    // as with a pulled adapter, and cannot reach another program's pty that
    // happens to get the freed /dev/pts number.
    void unplug();
    // Removes the link if it is still a symlink.
    void removeLink();

    bool isOpen() const { return master_ >= 0; }
    int masterFd() const { return master_; }
    const std::string &slavePath() const { return slavePath_; }
    const std::string &linkPath() const { return linkPath_; }

    // Bytes written but not yet read by the other side.
    int unreadBytes() const;
    // Throws away bytes nobody has read, as a line with no listener loses them.
    void discardUnread();

private:
    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1; // held open so the master sees no hang-up before the program opens the port
};

// Checks that a link can be created at path (its directory exists and is
// writable); returns false with a reason otherwise.
bool linkPathUsable(const std::string &path, std::string &error);
