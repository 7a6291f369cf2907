// Serial line for command-line tools (POSIX): termios, poll() for the read time-out, flock and TIOCEXCL.
#include "link/serial_line.h"

#include "link/frame_codec.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static constexpr short LINE_GONE_EVENTS = POLLHUP | POLLERR | POLLNVAL;

// 9600 8N1, raw, no flow control of either kind. CLOCAL: the relay drives no
// carrier line, and without it a later open or read could wait for one.
// The line stays non-blocking, poll() does the waiting, and VMIN decides when
// poll() wakes (n_tty counts VMIN for poll() when VTIME is 0): see
// serial_wakeFor.
static bool serial_configure(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// The device's frames: the short form (3 bytes and CR) and the long form (5 bytes and CR).
static constexpr int SHORT_FRAME = 4;
static constexpr int LONG_FRAME = 6;

// The reader is woken once the frame it is in can be whole, not at every
// byte: at 9600 baud the bytes of a frame come a millisecond apart, and a
// wake-up per byte was most of a reader's cost. Between frames that is a short
// frame's 4 bytes; after the first 4 of a long one, its last 2; past that (a
// line met in mid-frame, noise) any byte. The rest of a frame never waits for
// the next one. Only a change of the count costs system calls.
static void serial_wakeFor(SerialLine *line, int fd, const std::uint8_t *bytes, int count)
{
    int partial = line->frameBytes + count;
    for (int i = count - 1; i >= 0; --i)
        if (bytes[i] == FRAME_END) {
            partial = count - 1 - i;
            break;
        }
    line->frameBytes = partial;
    const int wanted = partial == 0                ? SHORT_FRAME
                       : partial < SHORT_FRAME     ? SHORT_FRAME - partial
                       : partial < LONG_FRAME      ? LONG_FRAME - partial
                                                   : 1;
    if (wanted == line->wakeBytes)
        return;
    termios t;
    if (ioctl(fd, TCGETS, &t) != 0)
        return;
    t.c_cc[VMIN] = static_cast<cc_t>(wanted);
    if (ioctl(fd, TCSETS, &t) == 0)
        line->wakeBytes = wanted;
}

static SerialOpenResult serial_openResultOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: // a serial device node without its hardware
        return SerialOpenResult::noSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
        return SerialOpenResult::busy;
    case ENOTTY:
    case EISDIR:
    case EINVAL: // tcsetattr on something that only looks like a terminal
        return SerialOpenResult::notSerial;
    default:
        return SerialOpenResult::failed;
    }
}

SerialOpenResult openSerialLine(const char *name, SerialLine *line)
{
    line->handle = SERIAL_LINE_CLOSED;
    // O_NONBLOCK: a serial device opened without it can wait for a carrier
    // that never comes. The line stays non-blocking; poll() does the waiting.
    const int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return serial_openResultOf(errno);
    termios probe;
    if (tcgetattr(fd, &probe) != 0) {
        const int error = errno;
        close(fd);
        return error == ENOTTY ? SerialOpenResult::notSerial : serial_openResultOf(error);
    }
    // The lock keeps out every program that takes it too (a second k614ctl).
    // TIOCEXCL keeps out the rest, except root, for whom the open succeeds
    // regardless and the lock is what reports the line busy.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return serial_openResultOf(error);
    }
    if (!serial_configure(fd)) {
        const int error = errno;
        close(fd);
        return serial_openResultOf(error);
    }
    ioctl(fd, TIOCEXCL);
    tcflush(fd, TCIOFLUSH);
    line->handle = fd;
    line->wakeBytes = 1;
    line->frameBytes = LONG_FRAME; // unknown until the first CR
    return SerialOpenResult::ok;
}

int readSerialLine(SerialLine *line, std::uint8_t *buffer, int size, int timeoutMs)
{
    const int fd = static_cast<int>(line->handle);
    if (fd < 0)
        return SERIAL_READ_FAILED;
    if (size <= 0)
        return 0;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : SERIAL_READ_FAILED;
    if (ready == 0 && line->wakeBytes == 1)
        return 0;
    // A time-out while waiting for a whole frame still hands over fewer bytes
    // that came (a cut frame, noise): the caller's deadline is kept.
    if (ready > 0 && !(p.revents & POLLIN))
        return (p.revents & LINE_GONE_EVENTS) ? SERIAL_READ_FAILED : 0;
    const ssize_t got = read(fd, buffer, static_cast<size_t>(size));
    if (got > 0) {
        serial_wakeFor(line, fd, buffer, static_cast<int>(got));
        return static_cast<int>(got);
    }
    if (ready == 0)
        return 0;
    // A terminal that was hung up (a USB adapter pulled, a pty whose other
    // end closed) reads as end of file, or EIO while its hang-up is under
    // way; the poll said there was something to read, so 0 is that end.
    if (got == 0)
        return SERIAL_READ_FAILED;
    return errno == EINTR || errno == EAGAIN ? 0 : SERIAL_READ_FAILED;
}

bool writeSerialLine(SerialLine *line, const std::uint8_t *bytes, int count)
{
    using Clock = std::chrono::steady_clock;
    const int fd = static_cast<int>(line->handle);
    if (fd < 0)
        return false;
    int done = 0;
    Clock::time_point lastProgress = Clock::now();
    while (done < count) {
        const ssize_t put = write(fd, bytes + done, static_cast<size_t>(count - done));
        if (put > 0) {
            done += static_cast<int>(put);
            lastProgress = Clock::now();
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // Without flow control a real line always drains; only a line that
        // nobody reads (a pty with a stuck other end) stops taking bytes.
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress);
        const int left = SERIAL_WRITE_STALL_MS - static_cast<int>(waited.count());
        if (left <= 0)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, left) > 0 && (p.revents & LINE_GONE_EVENTS))
            return false;
    }
    return true;
}

void closeSerialLine(SerialLine *line)
{
    const int fd = static_cast<int>(line->handle);
    if (fd < 0)
        return;
    // The exclusive flag belongs to the terminal, not to this descriptor: a
    // pty that the simulator keeps open would stay closed to everyone else.
    ioctl(fd, TIOCNXCL);
    close(fd);
    line->handle = SERIAL_LINE_CLOSED;
}
