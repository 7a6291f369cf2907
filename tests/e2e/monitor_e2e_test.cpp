// End to end: K614Mon.exe under wine and Xvfb against the device simulator on a COM port,
// driven with xdotool; checks what the device received, what the program wrote and what it drew.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "e2e_support.h"

namespace {

constexpr unsigned REQUEST_UPLOAD = 65050;

int countCode(const std::vector<unsigned> &codes, unsigned code)
{
    return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

// Pixels of a client rectangle, for comparing two captures.
std::vector<Rgb> region(const ClientImage &img, int x0, int y0, int x1, int y1)
{
    std::vector<Rgb> r;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            r.push_back(img.at(x, y));
    return r;
}

// The measurement cell, right-aligned at x 250 with its bottom at y 153.
std::vector<Rgb> measurementCell(const ClientImage &img)
{
    return region(img, 150, 110, 251, 153);
}

std::vector<Rgb> trendArea(const ClientImage &img)
{
    return region(img, 365, 95, 867, 296);
}

class Monitor : public ::testing::Test {
protected:
    void SetUp() override
    {
        simCommand("resume");
        simCommand("upload-withhold off");
        simCommand("upload-delay 0");
        simCommand("peak-reports on");
        simCommand("wave sine");
        mapComPorts({1});
    }
};

TEST_F(Monitor, FirstStartCreatesTheSettingsFileAndTalksOnCom1)
{
    const std::size_t before = simReceived().size();
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(2500);
    EXPECT_EQ(program.settingsFile(), settingsImage(1, 1, 0));
    // The unit text is missing at start: the program asks for the parameters.
    EXPECT_GE(countCode(simReceivedSince(before), REQUEST_UPLOAD), 1);
    EXPECT_EQ(program.checkedMenuRows("c"), std::vector<int>{0}) << "COM 1 checked";
    EXPECT_EQ(program.checkedMenuRows("r"), std::vector<int>{1}) << "30s checked, Stop at Alarm not";
    ClientImage img = program.capture();
    EXPECT_GT(img.count(BLUE, 365, 0, 867, 296), 20) << "no trace drawn";
    // Limit pixels enter with each new column once the unit text is known.
    EXPECT_GT(img.count(RED, 365, 95, 868, 296), 20) << "no limit line drawn";
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, MissingPortIsReportedOnceAndTheProgramRunsOn)
{
    Program program(settingsImage(7, 1, 0));
    ASSERT_TRUE(program.dismissBox("Communication", 15000));
    EXPECT_TRUE(program.findWindow("Communication", 500).empty());
    ASSERT_TRUE(program.waitForWindow());
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, UnitTextIsPolledUntilItArrives)
{
    simCommand("upload-withhold on");
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    const std::size_t start = simReceived().size();
    pause(3500);
    const int polls = countCode(simReceivedSince(start), REQUEST_UPLOAD);
    EXPECT_GE(polls, 2);
    EXPECT_LE(polls, 5);
    simCommand("upload-withhold off");
    pause(2500); // the next poll is answered, unit text arrives
    const std::size_t answered = simReceived().size();
    pause(2500);
    EXPECT_EQ(countCode(simReceivedSince(answered), REQUEST_UPLOAD), 0);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, UnitTextArrivingOnASteadyStreamReachesTheHeader)
{
    // Nothing but a steady measurement on the line: only the unit text's
    // arrival can bring the Unit line out of its dashes.
    simCommand("upload-withhold on");
    simCommand("peak-reports off");
    simCommand("set-measurement 50");
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(3500);
    const auto header = [](const ClientImage &img) { return region(img, 26, 16, 400, 50); };
    const std::vector<Rgb> dashes = header(program.capture());
    const std::size_t eventsBefore = simEvents().size();
    simCommand("upload-withhold off");
    ASSERT_TRUE(waitFor(
        [&] {
            const std::vector<SimEvent> events = simEvents();
            for (std::size_t i = eventsBefore; i < events.size(); ++i)
                if (events[i].text.rfind("upload-answer", 0) == 0)
                    return true;
            return false;
        },
        3000, 20));
    const auto answered = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return header(program.capture()) != dashes; }, 2000, 50)) << "still Unit: - - -";
    const double shown = std::chrono::duration<double>(std::chrono::steady_clock::now() - answered).count();
    std::printf("device's answer to the unit in the header: %.2f s\n", shown);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, SilentDeviceVoidsTheReadingsAndComesBack)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    simCommand("set-measurement 57");
    pause(1500);
    const std::vector<Rgb> live = measurementCell(program.capture());
    simCommand("silent");
    pause(900);
    const ClientImage dead = program.capture();
    EXPECT_TRUE(measurementCell(dead) != live);
    const std::size_t silentFrom = simReceived().size();
    pause(2500);
    EXPECT_EQ(countCode(simReceivedSince(silentFrom), REQUEST_UPLOAD), 0) << "polling a dead link";
    simCommand("resume");
    pause(2500);
    EXPECT_TRUE(measurementCell(program.capture()) == live);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, ResetButtonsAndSpaceSendTheirCommands)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(1500);
    const std::size_t start = simReceived().size();
    program.click(290, 88);
    pause(300);
    program.click(290, 178);
    pause(300);
    program.click(290, 258);
    pause(300);
    program.keyDown("space");
    pause(1500); // auto-repeat must not send a stream
    program.keyUp("space");
    pause(500);
    const std::vector<unsigned> got = simReceivedSince(start);
    EXPECT_EQ(countCode(got, 65053), 1);
    EXPECT_EQ(countCode(got, 65054), 1);
    EXPECT_EQ(countCode(got, 65055), 1);
    EXPECT_EQ(countCode(got, 65051), 1);
    const auto at = [&](unsigned c) { return std::find(got.begin(), got.end(), c) - got.begin(); };
    EXPECT_LT(at(65053), at(65054));
    EXPECT_LT(at(65054), at(65055));
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, PauseFreezesAndUnfreezesTheTrend)
{
    simCommand("wave sine");
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(1500);
    program.keys("Pause");
    pause(500);
    const std::vector<Rgb> frozen = trendArea(program.capture());
    pause(1000);
    EXPECT_TRUE(trendArea(program.capture()) == frozen);
    program.keys("Pause");
    pause(1000);
    EXPECT_TRUE(trendArea(program.capture()) != frozen);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, RollModesAreStoredAtOnceAndRelabelTheAxis)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(800);
    const std::vector<Rgb> labels30 = region(program.capture(), 340, 300, 720, 325);
    program.menu("r", "1");
    pause(800);
    EXPECT_EQ(program.settingsFile()[260], 0);
    const std::vector<Rgb> labels10 = region(program.capture(), 340, 300, 720, 325);
    EXPECT_TRUE(labels10 != labels30);
    program.menu("r", "6");
    pause(800);
    EXPECT_EQ(program.settingsFile()[260], 2);
    program.menu("r", "3");
    pause(800);
    EXPECT_EQ(program.settingsFile()[260], 1);
    EXPECT_TRUE(region(program.capture(), 340, 300, 720, 325) == labels30);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, StopAtAlarmFreezesTheTrendAfterAnAlarm)
{
    Program program(settingsImage(1, 0, 0));
    ASSERT_TRUE(program.waitForWindow());
    program.menu("r", "a");
    pause(500);
    EXPECT_EQ(program.settingsFile()[262], 1);
    // "&10s" and, below the separator, "Stop at &Alarm" (whose glyph may
    // straddle two computed rows there, the separator being shorter than an item).
    const std::vector<int> checked = program.checkedMenuRows("r");
    ASSERT_GE(checked.size(), 2u);
    EXPECT_EQ(checked.front(), 0);
    EXPECT_GE(checked.back(), 3);
    EXPECT_EQ(std::count(checked.begin(), checked.end(), 1) + std::count(checked.begin(), checked.end(), 2), 0);
    simCommand("wave sine");
    simCommand("alarm 1");
    pause(1500); // 40 ticks at 10 s per screen
    const std::vector<Rgb> frozen = trendArea(program.capture());
    pause(1000);
    EXPECT_TRUE(trendArea(program.capture()) == frozen);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, FailedPortChangeIsMarkedAndStoredAtClose)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    program.menu("c", "4");
    ASSERT_TRUE(program.dismissBox("Communication"));
    EXPECT_EQ(program.settingsFile()[0], 1) << "a failed change is not written at once";
    EXPECT_TRUE(program.closeWindow());
    EXPECT_EQ(program.settingsFile()[0], 14);
}

TEST_F(Monitor, PortChangeToTheDeviceIsStored)
{
    mapComPorts({1, 4});
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    const std::size_t start = simReceived().size();
    program.menu("c", "4");
    pause(2000);
    EXPECT_TRUE(program.findWindow("Communication", 200).empty());
    EXPECT_EQ(program.settingsFile()[0], 4);
    EXPECT_GE(countCode(simReceivedSince(start), REQUEST_UPLOAD), 1);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, AutoConnectFindsTheDeviceOnCom3)
{
    mapComPorts({3});
    Program program;
    ASSERT_TRUE(program.dismissBox("Communication", 15000)); // COM1 is gone
    ASSERT_TRUE(program.waitForWindow());
    program.menu("c", "a");
    pause(6000);
    EXPECT_TRUE(program.findWindow("Communication", 200).empty());
    EXPECT_EQ(program.settingsFile()[0], 3);
    EXPECT_EQ(program.checkedMenuRows("c"), std::vector<int>{2});
    EXPECT_TRUE(program.closeWindow());
    EXPECT_EQ(program.settingsFile()[0], 3);
}

TEST_F(Monitor, AutoConnectWithoutADeviceSaysSo)
{
    simCommand("silent");
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    program.menu("c", "a");
    ASSERT_TRUE(program.dismissBox("Communication", 25000));
    EXPECT_EQ(program.settingsFile()[0], 1);
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(Monitor, ExitDoesNotWriteTheSettingsButTheCloseBoxDoes)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    std::string changed = settingsImage(1, 1, 0);
    changed[100] = 0x42;
    {
        std::FILE *f = std::fopen((program.workdir() + "/K614Mon.cnf").c_str(), "wb");
        std::fwrite(changed.data(), 1, changed.size(), f);
        std::fclose(f);
    }
    program.menu("f", "e");
    ASSERT_TRUE(program.waitForExit(10000));
    EXPECT_EQ(program.settingsFile(), changed);
}

// The labels and the header frame: static parts of the window that the About
// box covers (it opens at the top left of the client area).
std::vector<Rgb> labelsAndHeader(const ClientImage &img)
{
    return region(img, 20, 10, 182, 275);
}

TEST_F(Monitor, AboutBoxOpensAndTheWindowIsWholeAgainAfterIt)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(2500); // the unit text has arrived: the header stays as it is
    const std::vector<Rgb> before = labelsAndHeader(program.capture());
    program.keys("alt+a");
    const std::string about = program.findWindow("About");
    ASSERT_FALSE(about.empty());
    pause(300);
    EXPECT_TRUE(labelsAndHeader(program.capture()) != before) << "the About box should cover the labels";
    shell("xdotool windowfocus --sync " + about + " 2>/dev/null; xdotool key Return");
    pause(800);
    EXPECT_TRUE(program.findWindow("About", 300).empty());
    EXPECT_TRUE(labelsAndHeader(program.capture()) == before) << "covered part not repainted";
    EXPECT_TRUE(program.closeWindow());
}

} // namespace
