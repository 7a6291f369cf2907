// The command-line tool's serial line on real pseudo-terminals: bytes, time-out, signal, hang-up, open results.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "link/serial_line.h"

namespace {

constexpr int BYTE_VALUES = 256;
constexpr int WAIT_MS = 1000;
constexpr int WAIT_ROUNDS = 500; // of 10 ms, for the simulator's start-up files

// A pty pair as the simulator makes one: the slave held open on this side
// too, so the line sees no hang-up until the master closes.
struct Pty {
    int master = -1;
    int slave = -1;
    char path[64] = {};
};

bool openPty(Pty *pty)
{
    pty->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->master < 0 || grantpt(pty->master) != 0 || unlockpt(pty->master) != 0 ||
        ptsname_r(pty->master, pty->path, sizeof pty->path) != 0)
        return false;
    pty->slave = open(pty->path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    return pty->slave >= 0;
}

void closePty(Pty *pty)
{
    if (pty->slave >= 0)
        close(pty->slave);
    if (pty->master >= 0)
        close(pty->master);
    pty->slave = pty->master = -1;
}

class SerialLineOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(openPty(&pty));
        ASSERT_EQ(openSerialLine(pty.path, &line), SerialOpenResult::ok);
    }
    void TearDown() override
    {
        closeSerialLine(&line);
        closePty(&pty);
    }
    Pty pty;
    SerialLine line;
};

TEST_F(SerialLineOnPty, CarriesEveryByteValueBothWays)
{
    std::uint8_t sent[BYTE_VALUES];
    for (int i = 0; i < BYTE_VALUES; ++i)
        sent[i] = static_cast<std::uint8_t>(i);

    ASSERT_EQ(write(pty.master, sent, sizeof sent), static_cast<ssize_t>(sizeof sent));
    std::uint8_t got[BYTE_VALUES] = {};
    int have = 0;
    while (have < BYTE_VALUES) {
        const int n = readSerialLine(&line, got + have, BYTE_VALUES - have, WAIT_MS);
        ASSERT_GT(n, 0) << "after " << have << " bytes";
        have += n;
    }
    EXPECT_EQ(std::memcmp(got, sent, sizeof sent), 0);

    ASSERT_TRUE(writeSerialLine(&line, sent, BYTE_VALUES));
    std::memset(got, 0, sizeof got);
    have = 0;
    while (have < BYTE_VALUES) {
        pollfd p{pty.master, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, WAIT_MS), 1) << "after " << have << " bytes";
        const ssize_t n = read(pty.master, got + have, static_cast<size_t>(BYTE_VALUES - have));
        ASSERT_GT(n, 0);
        have += static_cast<int>(n);
    }
    EXPECT_EQ(std::memcmp(got, sent, sizeof sent), 0);
}

TEST_F(SerialLineOnPty, ReadReturnsNothingAfterItsTimeOut)
{
    std::uint8_t buffer[8];
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, 100), 0);
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, 0), 0);
}

// The device's frames as the line sees them: a short one (3 bytes and CR) and the first 4 and the last 2
// bytes of a long one (5 bytes and CR).
constexpr std::uint8_t SHORT_FRAME_BYTES[] = {0x41, 0x61, 0xA2, 0x0D};
constexpr std::uint8_t LONG_HEAD[] = {0x01, 0xC1, 0x01, 0x81};
constexpr std::uint8_t LONG_TAIL[] = {0x44, 0x0D};

// What a read hands over, and how many bytes end the next wait: the rest of the frame under way.
TEST_F(SerialLineOnPty, NextWaitEndsWhenTheFrameUnderWayCanBeWhole)
{
    struct Step {
        const std::uint8_t *bytes;
        int count;
        int wakeBytes;
    };
    const std::uint8_t noise[] = {1, 2, 3, 4, 5, 6, 7};
    const Step steps[] = {
        {noise, 7, 1},              // met in mid-frame: any byte
        {SHORT_FRAME_BYTES, 4, 4},  // between frames: a whole short frame
        {LONG_HEAD, 4, 2},          // the rest of a long frame
        {LONG_TAIL, 2, 4},          // between frames again
    };
    for (const Step &step : steps) {
        ASSERT_EQ(write(pty.master, step.bytes, step.count), step.count);
        std::uint8_t got[16];
        int have = 0;
        while (have < step.count) {
            const int n = readSerialLine(&line, got + have, static_cast<int>(sizeof got) - have, WAIT_MS);
            ASSERT_GT(n, 0);
            have += n;
        }
        EXPECT_EQ(std::memcmp(got, step.bytes, step.count), 0);
        termios t;
        ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
        EXPECT_EQ(t.c_cc[VMIN], step.wakeBytes) << "after " << step.count << " bytes";
    }
}

// A wait for a whole frame that ends in its time-out still hands over the fewer bytes that came.
TEST_F(SerialLineOnPty, TimeOutHandsOverACutFrame)
{
    std::uint8_t got[8];
    ASSERT_EQ(write(pty.master, SHORT_FRAME_BYTES, sizeof SHORT_FRAME_BYTES), 4);
    ASSERT_EQ(readSerialLine(&line, got, sizeof got, WAIT_MS), 4);
    ASSERT_EQ(write(pty.master, SHORT_FRAME_BYTES, 2), 2);
    EXPECT_EQ(readSerialLine(&line, got, sizeof got, 100), 2);
}

volatile sig_atomic_t interrupted = 0;

TEST_F(SerialLineOnPty, SignalEndsTheWaitWithNothing)
{
    struct sigaction action = {};
    action.sa_handler = [](int) { interrupted = 1; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // as a tool's Ctrl-C handler may well be installed
    struct sigaction before = {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &before), 0);
    itimerval timer = {};
    timer.it_value.tv_usec = 100000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    std::uint8_t buffer[8];
    // A minute: only the signal can end this wait before the test run's limit.
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, 60000), 0);
    EXPECT_EQ(interrupted, 1);
    sigaction(SIGALRM, &before, nullptr);
}

TEST_F(SerialLineOnPty, ClosedOtherEndFailsEveryRead)
{
    closePty(&pty);
    std::uint8_t buffer[8];
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, WAIT_MS), SERIAL_READ_FAILED);
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, WAIT_MS), SERIAL_READ_FAILED);
    EXPECT_FALSE(writeSerialLine(&line, buffer, sizeof buffer));
}

TEST_F(SerialLineOnPty, SecondOpenIsBusyUntilTheFirstCloses)
{
    SerialLine second;
    EXPECT_EQ(openSerialLine(pty.path, &second), SerialOpenResult::busy);
    EXPECT_EQ(second.handle, SERIAL_LINE_CLOSED);
    closeSerialLine(&line);
    EXPECT_EQ(openSerialLine(pty.path, &second), SerialOpenResult::ok);
    closeSerialLine(&second);
}

TEST(SerialLineOpen, MissingPathIsNoSuchPort)
{
    SerialLine line;
    EXPECT_EQ(openSerialLine("/dev/k614-no-such-line", &line), SerialOpenResult::noSuchPort);
    EXPECT_EQ(line.handle, SERIAL_LINE_CLOSED);
    EXPECT_STREQ(serialOpenResultText(SerialOpenResult::noSuchPort), "no such port");
}

TEST(SerialLineOpen, RegularFileIsNotSerial)
{
    char path[] = "/tmp/k614serial.XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    SerialLine line;
    EXPECT_EQ(openSerialLine(path, &line), SerialOpenResult::notSerial);
    EXPECT_EQ(line.handle, SERIAL_LINE_CLOSED);
    close(fd);
    unlink(path);
}

// ---- the simulator's unplug -------------------------------------------------

// One k614sim on a link in a private directory, with its control socket.
struct Simulator {
    pid_t pid = -1;
    char dir[64] = "/tmp/k614serialsim.XXXXXX";
    bool dirMade = false;
    char link[96] = {};
    int controlPort = 0;
    ~Simulator();
};

bool readWholeFile(const char *path, char *text, int size)
{
    FILE *f = std::fopen(path, "r");
    if (!f)
        return false;
    const std::size_t n = std::fread(text, 1, static_cast<std::size_t>(size - 1), f);
    std::fclose(f);
    text[n] = '\0';
    return n > 0;
}

bool startSimulator(Simulator *sim)
{
    if (!mkdtemp(sim->dir))
        return false;
    sim->dirMade = true;
    char portFile[96];
    std::snprintf(sim->link, sizeof sim->link, "%s/line", sim->dir);
    std::snprintf(portFile, sizeof portFile, "%s/port", sim->dir);
    char *argv[] = {const_cast<char *>(K614SIM_PATH), const_cast<char *>("--link"), sim->link,
                    const_cast<char *>("--control-port"), const_cast<char *>("0"),
                    const_cast<char *>("--control-port-file"), portFile,
                    const_cast<char *>("--exit-with-parent"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0); // its start-up line
    const int spawned = posix_spawn(&sim->pid, K614SIM_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    char text[16];
    struct stat st;
    for (int i = 0; i < WAIT_ROUNDS; ++i) {
        if (lstat(sim->link, &st) == 0 && readWholeFile(portFile, text, sizeof text)) {
            sim->controlPort = std::atoi(text);
            return sim->controlPort > 0;
        }
        usleep(10000);
    }
    return false;
}

Simulator::~Simulator()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    if (dirMade) {
        char command[128];
        std::snprintf(command, sizeof command, "rm -rf %s", dir);
        (void)std::system(command);
    }
}

// One command to the control socket; true when the answer starts with "ok".
bool simulatorCommand(const Simulator *sim, const char *command)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(sim->controlPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char answer[256] = {};
    bool ok = s >= 0 && connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
              write(s, command, std::strlen(command)) == static_cast<ssize_t>(std::strlen(command)) &&
              write(s, "\n", 1) == 1 && read(s, answer, sizeof answer - 1) > 0;
    if (s >= 0)
        close(s);
    return ok && std::strncmp(answer, "ok", 2) == 0;
}

TEST(SerialLineSimulator, UnplugFailsTheReadAndTheNextOpen)
{
    Simulator sim;
    ASSERT_TRUE(startSimulator(&sim));
    SerialLine line;
    ASSERT_EQ(openSerialLine(sim.link, &line), SerialOpenResult::ok);
    std::uint8_t buffer[64];
    ASSERT_GT(readSerialLine(&line, buffer, sizeof buffer, WAIT_MS), 0) << "the simulator streams measurements";

    ASSERT_TRUE(simulatorCommand(&sim, "unplug"));
    // What it sent before the unplug may still come; then the line fails, and
    // never reads as a time-out.
    int got = 1;
    while (got > 0)
        got = readSerialLine(&line, buffer, sizeof buffer, WAIT_MS);
    EXPECT_EQ(got, SERIAL_READ_FAILED);
    closeSerialLine(&line);
    EXPECT_EQ(openSerialLine(sim.link, &line), SerialOpenResult::noSuchPort);

    ASSERT_TRUE(simulatorCommand(&sim, "replug"));
    EXPECT_EQ(openSerialLine(sim.link, &line), SerialOpenResult::ok);
    closeSerialLine(&line);
}

} // namespace
