// End to end: the cable pulled and put back (the simulator's unplug and replug) while K614Mon.exe runs under wine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned REQUEST_UPLOAD = 65050;
constexpr int COM_MENU_FIRST_ROW = 0; // "COM &1"

// Two levels clear of the device's limit lines (80 and 20 kW%) and of each other.
constexpr int LEVEL_A = 37;
constexpr int LEVEL_B = 63;

std::vector<Rgb> measurementCell(const ClientImage &img)
{
    std::vector<Rgb> r;
    for (int y = 110; y < 153; ++y)
        for (int x = 150; x < 251; ++x)
            r.push_back(img.at(x, y));
    return r;
}

// The newest ten trend columns (left of the end marker) lie flat at the
// level: one trace pixel per column on its row (2 pixels per kW% above the
// baseline at 295) and none anywhere else in them. At 10 s per screen that is
// the last ten measurements received.
bool trendFlatAt(const ClientImage &img, int level)
{
    if (img.width < 870 || img.height < 300)
        return false;
    const int y = 295 - 2 * level;
    const int x0 = 855, x1 = 865;
    return img.count(BLUE, x0, y, x1, y + 1) == x1 - x0 && img.count(BLUE, x0, 95, x1, 296) == x1 - x0;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string procFile(int pid, const char *name)
{
    return readFile("/proc/" + std::to_string(pid) + "/" + name);
}

int threadCount(int pid)
{
    const std::string status = procFile(pid, "status");
    const std::size_t at = status.find("\nThreads:");
    return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 9);
}

// utime + stime of a process, in seconds.
double cpuSeconds(int pid)
{
    const std::string stat = procFile(pid, "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The wineserver that the harness started for this prefix, when it did; -1 otherwise.
int harnessWineserver()
{
    const char *prefix = std::getenv("WINEPREFIX");
    if (!prefix)
        return -1;
    const int pid = std::atoi(readFile(std::string(prefix) + ".harness-server").c_str());
    return pid > 0 && !procFile(pid, "stat").empty() ? pid : -1;
}

struct CpuFigure {
    double program;
    double wineserver; // -1 when not known
};

CpuFigure cpuOver(int pid, int periodMs)
{
    const int server = harnessWineserver();
    const double p0 = cpuSeconds(pid);
    const double s0 = server > 0 ? cpuSeconds(server) : 0;
    pause(periodMs); // what is measured is a period
    return {cpuSeconds(pid) - p0, server > 0 ? cpuSeconds(server) - s0 : -1};
}

// The panel check that redraws the measurement runs every 300 ms: a cell
// unchanged for longer than that is what the program shows for the level.
constexpr auto PANEL_SETTLED = std::chrono::milliseconds(400);

int uploadRequestsSince(std::size_t from)
{
    const std::vector<unsigned> codes = simReceivedSince(from);
    return static_cast<int>(std::count(codes.begin(), codes.end(), REQUEST_UPLOAD));
}

class Reconnect : public ::testing::Test {
protected:
    void SetUp() override
    {
        simCommand("replug"); // an earlier test may have stopped with the cable out
        simCommand("resume");
        simCommand("upload-withhold off");
        simCommand("upload-delay 0");
        mapComPorts({1});
    }

    void TearDown() override { simCommand("replug"); }

    // Sets a steady level and waits until the program draws it; returns the
    // measurement cell as drawn for that level (empty on time-out).
    static std::vector<Rgb> showLevel(Program &program, int level)
    {
        simCommand("set-measurement " + std::to_string(level));
        std::vector<Rgb> cell;
        Clock::time_point since = Clock::now();
        const bool drawn = waitFor(
            [&] {
                const ClientImage img = program.capture();
                std::vector<Rgb> now = measurementCell(img);
                if (now != cell) {
                    cell = std::move(now);
                    since = Clock::now();
                }
                return trendFlatAt(img, level) && Clock::now() - since > PANEL_SETTLED;
            },
            10000, 50);
        return drawn ? cell : std::vector<Rgb>();
    }

    // The program draws the level again: on the trend and in the cell as captured for it.
    static bool drawsLevel(Program &program, int level, const std::vector<Rgb> &cell)
    {
        const ClientImage img = program.capture();
        return trendFlatAt(img, level) && measurementCell(img) == cell;
    }

    static bool showing(Program &program, const std::vector<Rgb> &cell)
    {
        return measurementCell(program.capture()) == cell;
    }

    // Pulls the cable and waits until the program has given the readings up.
    static bool unplugUntilBlank(Program &program, const std::vector<Rgb> &live)
    {
        if (simCommand("unplug") != "ok")
            return false;
        return waitFor([&] { return !showing(program, live); }, 5000);
    }
};

TEST_F(Reconnect, ReadingsReturnAfterReplugWithoutAClick)
{
    Program program(settingsImage(1, 0, 0)); // 10 s: one trend column per measurement
    ASSERT_TRUE(program.waitForWindow());
    const std::vector<Rgb> cellA = showLevel(program, LEVEL_A);
    const std::vector<Rgb> cellB = showLevel(program, LEVEL_B);
    ASSERT_FALSE(cellA.empty() || cellB.empty()) << "the device's level was never drawn";
    ASSERT_TRUE(cellA != cellB);

    ASSERT_TRUE(unplugUntilBlank(program, cellB));
    EXPECT_EQ(program.checkedMenuRows("c"), std::vector<int>{COM_MENU_FIRST_ROW}) << "the check stays on COM 1";
    // A level the program can only know from the line once it is back.
    simCommand("set-measurement " + std::to_string(LEVEL_A));

    const std::size_t logAtReplug = simReceived().size();
    ASSERT_EQ(simCommand("replug").rfind("ok", 0), 0u);
    const Clock::time_point replugged = Clock::now();
    const bool back = waitFor([&] { return drawsLevel(program, LEVEL_A, cellA); }, 10000, 20);
    EXPECT_TRUE(back) << "no readings after the replug";
    if (back)
        std::printf("readings back %.2f s after the replug\n", seconds(Clock::now() - replugged));
    EXPECT_GE(uploadRequestsSince(logAtReplug), 1) << "the reopened port asks the device as a port change does";
    EXPECT_TRUE(program.findWindow("Communication", 0).empty()) << "the reopening is quiet";
    EXPECT_EQ(program.settingsFile()[0], 1);
    EXPECT_TRUE(program.closeWindow());
    EXPECT_EQ(program.settingsFile()[0], 1) << "the mark went with the reopening";
}

TEST_F(Reconnect, ChoosingTheSamePortAfterAnUnplugReopensIt)
{
    Program program(settingsImage(1, 0, 0)); // 10 s: one trend column per measurement
    ASSERT_TRUE(program.waitForWindow());
    const std::vector<Rgb> cellA = showLevel(program, LEVEL_A);
    const std::vector<Rgb> cellB = showLevel(program, LEVEL_B);
    ASSERT_FALSE(cellA.empty() || cellB.empty());
    ASSERT_TRUE(cellA != cellB);
    ASSERT_TRUE(unplugUntilBlank(program, cellB));
    simCommand("set-measurement " + std::to_string(LEVEL_A));

    // Chosen while the cable is out: tried at once, it fails and says so, and
    // the quiet reopening ends with the user's choice.
    program.menu("c", "1");
    ASSERT_TRUE(program.dismissBox("Communication"));
    const std::size_t logAtReplug = simReceived().size();
    ASSERT_EQ(simCommand("replug").rfind("ok", 0), 0u);
    // Over two retry periods: nothing may come back on its own.
    EXPECT_FALSE(waitFor([&] { return showing(program, cellA); }, 2500)) << "retried after the user's choice failed";
    EXPECT_EQ(uploadRequestsSince(logAtReplug), 0);

    program.menu("c", "1");
    EXPECT_TRUE(waitFor([&] { return drawsLevel(program, LEVEL_A, cellA); }, 10000))
        << "choosing COM 1 again did not reopen it";
    EXPECT_TRUE(program.findWindow("Communication", 0).empty());
    EXPECT_EQ(program.settingsFile()[0], 1) << "a successful choice is stored without the mark";
    EXPECT_EQ(program.checkedMenuRows("c"), std::vector<int>{COM_MENU_FIRST_ROW});
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Reconnect, FiftyCyclesLeaveNoThreadsNoSpinAndCorrectReadings)
{
    constexpr int CYCLES = 50;
    constexpr int UNPLUGGED_MS = 1000;
    constexpr int CPU_PERIOD_MS = 5000;

    Program program(settingsImage(1, 0, 0)); // 10 s: one trend column per measurement
    ASSERT_TRUE(program.waitForWindow());
    const int pid = program.pid();
    const std::vector<Rgb> cellB = showLevel(program, LEVEL_B);
    const std::vector<Rgb> cellA = showLevel(program, LEVEL_A);
    ASSERT_FALSE(cellA.empty() || cellB.empty());
    ASSERT_TRUE(cellA != cellB);
    const int threadsBefore = threadCount(pid);
    ASSERT_GT(threadsBefore, 0) << "no /proc entry for the program's process";
    const CpuFigure streaming = cpuOver(pid, CPU_PERIOD_MS);

    // Each cycle the device changes its level while the cable is out, so the
    // program can show the new one only by reading the line again.
    double longest = 0, total = 0;
    int level = LEVEL_A;
    for (int i = 0; i < CYCLES; ++i) {
        ASSERT_EQ(simCommand("unplug"), "ok") << "cycle " << i;
        level = level == LEVEL_A ? LEVEL_B : LEVEL_A;
        simCommand("set-measurement " + std::to_string(level));
        pause(UNPLUGGED_MS); // the cable is out for this long
        ASSERT_EQ(simCommand("replug").rfind("ok", 0), 0u) << "cycle " << i;
        const Clock::time_point replugged = Clock::now();
        const std::vector<Rgb> &cell = level == LEVEL_A ? cellA : cellB;
        ASSERT_TRUE(waitFor([&] { return drawsLevel(program, level, cell); }, 10000, 20))
            << "cycle " << i << ": no readings, or not the device's " << level << " kW%";
        const double took = seconds(Clock::now() - replugged);
        longest = std::max(longest, took);
        total += took;
    }
    std::printf("%d cycles: readings back %.2f s after the replug on average, %.2f s at most\n", CYCLES,
                total / CYCLES, longest);
    ASSERT_TRUE(program.running());

    // The workers of fifty connections have all ended.
    int threadsAfter = -1;
    EXPECT_TRUE(waitFor([&] { return (threadsAfter = threadCount(pid)) == threadsBefore; }, 5000));

    // The cable out for a whole period: failed reads and the reopening attempts must not spin.
    ASSERT_TRUE(unplugUntilBlank(program, level == LEVEL_A ? cellA : cellB));
    const int threadsUnplugged = threadCount(pid);
    std::printf("threads of the program's process: %d before the cycles, %d after, %d while unplugged\n",
                threadsBefore, threadsAfter, threadsUnplugged);
    const CpuFigure unplugged = cpuOver(pid, CPU_PERIOD_MS);
    std::printf("CPU over %.0f s, program: %.2f s streaming, %.2f s unplugged", CPU_PERIOD_MS / 1000.0,
                streaming.program, unplugged.program);
    if (streaming.wineserver >= 0 && unplugged.wineserver >= 0)
        std::printf("; wineserver: %.2f s streaming, %.2f s unplugged", streaming.wineserver, unplugged.wineserver);
    std::printf("\n");
    // Generous: a spinning reader or retry would take a whole core (about the period itself).
    EXPECT_LE(unplugged.program, streaming.program * 1.5 + 0.2);

    simCommand("set-measurement " + std::to_string(LEVEL_A));
    ASSERT_EQ(simCommand("replug").rfind("ok", 0), 0u);
    EXPECT_TRUE(waitFor([&] { return drawsLevel(program, LEVEL_A, cellA); }, 10000));
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.closeWindow());
}

} // namespace
