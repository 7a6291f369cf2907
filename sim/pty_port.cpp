// The simulated COM port: a pseudo-terminal pair whose slave is published as a symlink.
#include "sim/pty_port.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool linkPathUsable(const std::string &path, std::string &error)
{
    if (path.empty()) {
        error = "no link path given (--link PATH)";
        return false;
    }
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "link directory " + dir + " does not exist or is not a directory";
        return false;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        error = "link directory " + dir + " is not writable: " + std::strerror(errno);
        return false;
    }
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = path + " exists and is not a symlink; refusing to replace it";
        return false;
    }
    return true;
}

static bool pointLink(const std::string &link, const std::string &target)
{
    const std::string tmp = link + ".new" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

static bool setRaw(int fd)
{
    struct termios t;
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

bool PtyPort::open(std::string &error)
{
    close();
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
        error = std::string("preparing the pseudo-terminal: ") + std::strerror(errno);
        ::close(m);
        return false;
    }
    int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        error = std::string("opening ") + name + ": " + std::strerror(errno);
        ::close(m);
        return false;
    }
    // Raw on the slave: no echo of the program's frames, no CR translation.
    if (!setRaw(s)) {
        error = std::string("raw mode on ") + name + ": " + std::strerror(errno);
        ::close(s);
        ::close(m);
        return false;
    }
    // Publish atomically: a new symlink renamed over the old one.
    if (!pointLink(linkPath_, name)) {
        error = "cannot create link " + linkPath_ + ": " + std::strerror(errno);
        ::close(s);
        ::close(m);
        return false;
    }
    master_ = m;
    slave_ = s;
    slavePath_ = name;
    return true;
}

void PtyPort::close()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = -1;
    master_ = -1;
}

void PtyPort::unplug()
{
    close();
    pointLink(linkPath_, linkPath_ + ".unplugged");
}

void PtyPort::removeLink()
{
    struct stat st;
    if (::lstat(linkPath_.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(linkPath_.c_str());
}

int PtyPort::unreadBytes() const
{
    int n = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void PtyPort::discardUnread()
{
    if (slave_ >= 0)
        ::tcflush(slave_, TCIFLUSH);
}
