// Port commands: start-up open and the port-failed mark, port change from the menu, Auto connect, a failed
// line and its quiet reopening, replyCheck.
#include "app/port_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/reply_check.h"
#include "app_test_support.h"
#include "base/settings.h"
#include "base/shell_messages.h"
#include "link/link_events.h"

namespace {

// A scripted platform: which ports open, on which one the device answers, and
// a log of every call in order.
struct FakeShell {
    bool portOpens[9];
    int devicePort;
    int openNow; // port of the open connection, 0 when none
    std::vector<std::string> log;
    int saves;
    int portOpenedPosts;
    bool checked[3000];
};

FakeShell fake;

int fakeOpen(int port)
{
    EXPECT_EQ(fake.openNow, 0) << "openPort while COM" << fake.openNow << " is open";
    const bool ok = port >= 1 && port <= 8 && fake.portOpens[port];
    fake.log.push_back("open " + std::to_string(port) + (ok ? "" : " failed"));
    if (ok)
        fake.openNow = port;
    return ok ? 1 : 0;
}

void fakeClose()
{
    fake.log.push_back("close");
    fake.openNow = 0;
}

bool fakeReply(unsigned timeoutMs)
{
    EXPECT_EQ(timeoutMs, PROBE_WAIT_MS);
    fake.log.push_back("reply?");
    return fake.openNow != 0 && fake.openNow == fake.devicePort;
}

void fakeCheck(int id, bool on)
{
    fake.checked[id] = on;
}

void fakeWarning(const char *text)
{
    fake.log.push_back(std::string("warning ") + text);
}

void fakeSave()
{
    ++fake.saves;
}

void fakePost()
{
    ++fake.portOpenedPosts;
}

void fakeCursor(bool busy)
{
    fake.log.push_back(busy ? "wait cursor" : "arrow cursor");
}

const ShellOps ops = {fakeOpen, fakeClose, fakeReply, fakeCheck, fakeWarning, fakeSave, fakePost, fakeCursor};

const std::string PORT_WARNING = std::string("warning ") + MSG_PORT_FAILED;
const std::string NOT_FOUND_WARNING = std::string("warning ") + MSG_DEVICE_NOT_FOUND;

class PortCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        fake = FakeShell{};
        for (bool &opens : fake.portOpens)
            opens = true;
    }

    static int checkedComItems()
    {
        int n = 0;
        for (int id = 2001; id <= 2008; ++id)
            n += fake.checked[id] ? 1 : 0;
        return n;
    }
};

TEST_F(PortCommands, StartUpOpensTheStoredPortAndChecksIt)
{
    monitorSettings.comPort = 3;
    openStartupPort(ops);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 3"});
    EXPECT_EQ(monitorSettings.comPort, 3);
    EXPECT_TRUE(fake.checked[2003]);
    EXPECT_EQ(checkedComItems(), 1);
}

TEST_F(PortCommands, StartUpFailureWarnsOnceMarksThePortAndStillChecksIt)
{
    fake.portOpens[1] = false;
    openStartupPort(ops);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"open 1 failed", PORT_WARNING}));
    EXPECT_EQ(monitorSettings.comPort, 11);
    EXPECT_TRUE(fake.checked[2001]);
    EXPECT_EQ(fake.saves, 0);
}

TEST_F(PortCommands, StartUpTriesAStoredMarkedPortAsItsOwnNumber)
{
    monitorSettings.comPort = 13; // COM3 had failed when it was chosen
    openStartupPort(ops);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 3"});
    EXPECT_EQ(monitorSettings.comPort, 3);
    EXPECT_TRUE(fake.checked[2003]);
    EXPECT_FALSE(fake.checked[2013]) << "no item outside the COM list may be checked";

    fake = FakeShell{};
    monitorSettings.comPort = 16;
    openStartupPort(ops); // COM6 still absent
    EXPECT_EQ(monitorSettings.comPort, 16);
    EXPECT_TRUE(fake.checked[2006]);
    EXPECT_FALSE(fake.checked[2016]) << "would be the 10 s roll item";
}

TEST_F(PortCommands, AFailedStartUpLeavesNoConnectionToCloseOnTheNextChange)
{
    fake.portOpens[1] = false;
    openStartupPort(ops);
    fake.log.clear();
    choosePort(ops, 2);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 2"}) << "nothing was open: nothing to close";
    EXPECT_EQ(monitorSettings.comPort, 2);
}

TEST_F(PortCommands, ChoosingTheOpenPortDoesNothing)
{
    monitorSettings.comPort = 4;
    choosePort(ops, 4);
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(fake.saves, 0);
    EXPECT_EQ(fake.portOpenedPosts, 0);
}

TEST_F(PortCommands, ASuccessfulChangeMovesTheCheckSavesAndAsksTheDevice)
{
    openStartupPort(ops);
    fake.log.clear();
    choosePort(ops, 5);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"close", "open 5"}));
    EXPECT_FALSE(fake.checked[2001]);
    EXPECT_TRUE(fake.checked[2005]);
    EXPECT_EQ(monitorSettings.comPort, 5);
    EXPECT_EQ(fake.saves, 1);
    EXPECT_EQ(fake.portOpenedPosts, 1);
}

TEST_F(PortCommands, AFailedChangeMarksTheNewPortWhichIsTriedAgainWhenChosenAgain)
{
    openStartupPort(ops);
    fake.portOpens[4] = false;
    fake.log.clear();
    choosePort(ops, 4);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"close", "open 4 failed", PORT_WARNING}));
    EXPECT_EQ(monitorSettings.comPort, 14);
    EXPECT_TRUE(fake.checked[2004]);
    EXPECT_EQ(checkedComItems(), 1);
    EXPECT_EQ(fake.saves, 0) << "the mark reaches the file with the next write";

    fake.portOpens[4] = true;
    fake.log.clear();
    choosePort(ops, 4);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 4"});
    EXPECT_EQ(monitorSettings.comPort, 4);
    EXPECT_EQ(fake.saves, 1);

    fake.portOpens[6] = false;
    choosePort(ops, 6);
    fake.log.clear();
    choosePort(ops, 2);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 2"});
    EXPECT_FALSE(fake.checked[2006]);
    EXPECT_TRUE(fake.checked[2002]);
    EXPECT_EQ(checkedComItems(), 1);
}

TEST_F(PortCommands, AutoConnectStopsAtTheFirstPortThatAnswers)
{
    openStartupPort(ops);
    fake.portOpens[2] = false;
    fake.devicePort = 3;
    fake.log.clear();
    autoConnect(ops);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"wait cursor", "close", "open 1", "reply?", "close",
                                                  "open 2 failed", "open 3", "reply?", "arrow cursor"}));
    EXPECT_EQ(fake.openNow, 3);
    EXPECT_EQ(monitorSettings.comPort, 3);
    EXPECT_TRUE(fake.checked[2003]);
    EXPECT_EQ(checkedComItems(), 1);
    EXPECT_EQ(fake.saves, 1);
    EXPECT_EQ(fake.portOpenedPosts, 0);
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_REQUEST_UPLOAD}) << "one more request after the probe";
}

TEST_F(PortCommands, AutoConnectFromAMarkedPortClosesNothingAndTakesTheMarkOff)
{
    fake.portOpens[7] = false;
    monitorSettings.comPort = 7;
    openStartupPort(ops);
    fake.devicePort = 1;
    fake.log.clear();
    autoConnect(ops);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"wait cursor", "open 1", "reply?", "arrow cursor"}));
    EXPECT_EQ(monitorSettings.comPort, 1);
    EXPECT_FALSE(fake.checked[2007]);
    EXPECT_TRUE(fake.checked[2001]);
}

TEST_F(PortCommands, AutoConnectWithoutADeviceReopensTheOldPortAndLeavesTheChecks)
{
    monitorSettings.comPort = 2;
    openStartupPort(ops);
    fake.log.clear();
    autoConnect(ops);
    std::vector<std::string> expected = {"wait cursor", "close"};
    for (int p = 1; p <= 8; ++p) {
        expected.push_back("open " + std::to_string(p));
        expected.push_back("reply?");
        expected.push_back("close");
    }
    expected.insert(expected.end(), {"arrow cursor", "open 2", NOT_FOUND_WARNING});
    EXPECT_EQ(fake.log, expected);
    EXPECT_EQ(fake.openNow, 2);
    EXPECT_EQ(monitorSettings.comPort, 2);
    EXPECT_TRUE(fake.checked[2002]);
    EXPECT_EQ(fake.saves, 0);
}

TEST_F(PortCommands, AutoConnectWithoutADeviceMarksAnOldPortThatNoLongerOpens)
{
    monitorSettings.comPort = 2;
    openStartupPort(ops);
    for (bool &opens : fake.portOpens)
        opens = false;
    autoConnect(ops);
    EXPECT_EQ(monitorSettings.comPort, 12);
    EXPECT_EQ(fake.log.back(), NOT_FOUND_WARNING);

    // A marked port is not tried again after the search.
    fake.log.clear();
    autoConnect(ops);
    EXPECT_EQ(fake.log[fake.log.size() - 2], "arrow cursor");
    EXPECT_EQ(monitorSettings.comPort, 12);
}

// The cable is pulled from the connection on COM1: the reader gives up, the tick sees it.
class FailedLine : public PortCommands {
protected:
    void SetUp() override
    {
        PortCommands::SetUp();
        openStartupPort(ops);
        fake.portOpens[1] = false; // the adapter has gone: COM1 no longer opens
        ASSERT_TRUE(closeFailedLine(ops, true));
        fake.log.clear();
    }

    static std::vector<std::string> retries(int count)
    {
        for (int i = 0; i < count; ++i)
            reopenFailedLine(ops);
        return fake.log;
    }
};

TEST_F(PortCommands, AFailedLineIsClosedAndMarkedAndKeepsItsCheck)
{
    openStartupPort(ops);
    fake.log.clear();
    EXPECT_FALSE(closeFailedLine(ops, false));
    EXPECT_TRUE(fake.log.empty()) << "a line that works is left alone";

    EXPECT_TRUE(closeFailedLine(ops, true));
    EXPECT_EQ(fake.log, std::vector<std::string>{"close"}) << "no message: the readings going blank say it";
    EXPECT_EQ(fake.openNow, 0);
    EXPECT_EQ(monitorSettings.comPort, 11);
    EXPECT_TRUE(fake.checked[2001]);
    EXPECT_EQ(checkedComItems(), 1);
    EXPECT_EQ(fake.saves, 0) << "the mark reaches the file with the next write";

    // Marked: no connection is open, so there is nothing to close again.
    fake.log.clear();
    EXPECT_FALSE(closeFailedLine(ops, true));
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(FailedLine, ItsPortIsTriedAgainQuietlyUntilItOpens)
{
    EXPECT_EQ(retries(3), (std::vector<std::string>{"open 1 failed", "open 1 failed", "open 1 failed"}));
    EXPECT_EQ(monitorSettings.comPort, 11);

    fake.portOpens[1] = true; // plugged in again
    fake.log.clear();
    EXPECT_TRUE(reopenFailedLine(ops));
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 1"}) << "asked through the posted command, not here";
    EXPECT_EQ(fake.openNow, 1);
    EXPECT_EQ(monitorSettings.comPort, 1);
    EXPECT_TRUE(fake.checked[2001]);
    EXPECT_EQ(checkedComItems(), 1);
    EXPECT_EQ(fake.portOpenedPosts, 1);
    EXPECT_EQ(fake.saves, 0) << "the file already names COM1";

    fake.log.clear();
    EXPECT_TRUE(retries(2).empty()) << "reopened: the retries are over";
}

TEST_F(FailedLine, FailsAgainAfterAReopenAndIsRetriedAgain)
{
    fake.portOpens[1] = true;
    ASSERT_TRUE(reopenFailedLine(ops));
    fake.portOpens[1] = false;
    ASSERT_TRUE(closeFailedLine(ops, true));
    fake.log.clear();
    EXPECT_EQ(retries(1), std::vector<std::string>{"open 1 failed"});
}

TEST_F(FailedLine, ChoosingItsPortReopensItAndEndsTheRetries)
{
    fake.portOpens[1] = true;
    choosePort(ops, 1); // a marked port never equals the chosen one
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 1"}) << "nothing open: nothing to close";
    EXPECT_EQ(monitorSettings.comPort, 1);
    EXPECT_EQ(fake.saves, 1);
    EXPECT_EQ(fake.portOpenedPosts, 1);
    fake.log.clear();
    EXPECT_TRUE(retries(2).empty());
}

TEST_F(FailedLine, AChoiceThatFailsToOpenEndsTheRetries)
{
    choosePort(ops, 1);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"open 1 failed", PORT_WARNING}));
    EXPECT_EQ(monitorSettings.comPort, 11);
    fake.portOpens[1] = true;
    fake.log.clear();
    EXPECT_TRUE(retries(3).empty()) << "the user's choice failed: it waits for the user";

    choosePort(ops, 1);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 1"});
    EXPECT_EQ(monitorSettings.comPort, 1);
}

TEST_F(FailedLine, ChoosingAnotherPortEndsTheRetries)
{
    choosePort(ops, 2);
    EXPECT_EQ(fake.log, std::vector<std::string>{"open 2"});
    EXPECT_FALSE(fake.checked[2001]);
    EXPECT_TRUE(fake.checked[2002]);
    fake.portOpens[1] = true;
    fake.log.clear();
    EXPECT_TRUE(retries(2).empty());
    EXPECT_EQ(fake.openNow, 2);
}

TEST_F(FailedLine, AutoConnectEndsTheRetries)
{
    fake.devicePort = 0; // nowhere to be found
    autoConnect(ops);
    EXPECT_EQ(fake.log.back(), NOT_FOUND_WARNING);
    EXPECT_EQ(monitorSettings.comPort, 11) << "a marked port is not tried after the search";
    fake.portOpens[1] = true;
    fake.log.clear();
    EXPECT_TRUE(retries(2).empty());
}

TEST_F(PortCommands, AFailedStartUpOrChangeIsNeverRetried)
{
    fake.portOpens[1] = false;
    openStartupPort(ops);
    fake.portOpens[1] = true;
    fake.log.clear();
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(reopenFailedLine(ops));
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(monitorSettings.comPort, 11);

    choosePort(ops, 1);
    fake.portOpens[3] = false;
    choosePort(ops, 3);
    fake.portOpens[3] = true;
    fake.log.clear();
    EXPECT_FALSE(reopenFailedLine(ops));
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(monitorSettings.comPort, 13);
}

TEST(ReplyCheck, RequestsTheUploadAndWaitsForTheFirstParameterCode)
{
    resetAppState();
    std::thread device([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        dispatchCode(3001);
    });
    EXPECT_TRUE(replyCheck(5000));
    device.join();
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_REQUEST_UPLOAD});
    EXPECT_FALSE(waitUploadConfirm(0)) << "reset again after the wait";
}

TEST(ReplyCheck, AwaitingTheAnswerReturnsOnceTheWholeSetHasArrived)
{
    resetAppState();
    std::thread device([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        dispatchCode(3001); // limit1Mode comes first...
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const ParameterField &f : PARAMETER_FIELDS) // ...the rest later
            if (f.base != 3000)
                dispatchCode(static_cast<DeviceCode>(f.base + 1));
    });
    EXPECT_TRUE(awaitUploadAnswer(5000));
    EXPECT_EQ(deviceParameters.limit2Tr, 1) << "returned before the last parameter had arrived";
    device.join();

    // A device that stops after its first code (or one stray 3000..3009): no
    // answer, so "&Parameters" asks before it opens the sheet.
    std::thread partial([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        dispatchCode(3002);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(awaitUploadAnswer(300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    partial.join();
}

// A scripted clock in milliseconds: the answer's first and last codes come at
// given times, and every wait moves the clock on.
struct ScriptedAnswer {
    std::uint64_t firstAt, wholeAt, clock;
};

TEST(ReplyCheck, TheWholeWaitEndsWithinItsLimit)
{
    constexpr std::uint64_t NEVER = ~std::uint64_t{0};
    const struct {
        ScriptedAnswer answer;
        unsigned limit;
        bool answered;
        std::uint64_t endsAt;
    } rows[] = {
        {{20, 120, 0}, 5000, true, 120},
        {{NEVER, NEVER, 0}, 300, false, 300},
        {{20, NEVER, 0}, 302, false, 302}, // the last poll cut short
    };
    for (const auto &r : rows) {
        ScriptedAnswer a = r.answer;
        const AnswerWaitOps ops = {
            &a,
            [](void *c, unsigned ms) {
                ScriptedAnswer &a = *static_cast<ScriptedAnswer *>(c);
                const bool comes = a.firstAt <= a.clock + ms;
                a.clock = comes ? std::max(a.clock, a.firstAt) : a.clock + ms;
                return comes;
            },
            [](void *c) {
                const ScriptedAnswer &a = *static_cast<ScriptedAnswer *>(c);
                return a.clock >= a.wholeAt;
            },
            [](void *c) { return static_cast<ScriptedAnswer *>(c)->clock * 1000; },
            [](void *c, std::uint64_t us) { static_cast<ScriptedAnswer *>(c)->clock += us / 1000; },
        };
        EXPECT_EQ(awaitUploadAnswerOn(ops, r.limit), r.answered) << r.limit;
        EXPECT_EQ(a.clock, r.endsAt) << r.limit;
    }
}

TEST(ReplyCheck, AnEarlierSignalIsNoAnswer)
{
    resetAppState();
    signalUploadConfirm();
    EXPECT_FALSE(replyCheck(100));
}

} // namespace
