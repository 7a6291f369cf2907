// Receive path: assembly across blocks, malformed input, and dispatch of every code range.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/frame_codec.h"
#include "link/link_events_std.h"
#include "test_state.h"

namespace {

class Receive : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }

    static void feed(std::vector<std::uint8_t> bytes) { receiveBytes(bytes.data(), static_cast<int>(bytes.size())); }

    static void send(DeviceCode code)
    {
        std::uint8_t f[FRAME_SIZE];
        encodeFrame(code, f);
        receiveBytes(f, FRAME_SIZE);
    }
};

TEST_F(Receive, FramesSplitAtEveryPositionGiveTheSameCodes)
{
    const std::vector<std::uint8_t> stream = {0x31, 0x91, 0xC2, 0x0D, 0x01, 0x11, 0xD1, 0x91, 0x74, 0x0D};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        resetCoreState();
        receiveBytes(stream.data(), static_cast<int>(cut));
        receiveBytes(stream.data() + cut, static_cast<int>(stream.size() - cut));
        EXPECT_EQ(liveReadings.measurement, 57) << cut;
        EXPECT_EQ(liveReadings.maxPeak, 73) << cut; // 473 = max peak 73
    }
    // Byte by byte, four at a time, as the reader thread hands them over.
    resetCoreState();
    for (std::uint8_t b : stream)
        receiveBytes(&b, 1);
    EXPECT_EQ(liveReadings.maxPeak, 73);
}

TEST_F(Receive, FrameBeforeItsCrWaitsInTheAssemblyBuffer)
{
    feed({0x31, 0x91, 0xC2});
    EXPECT_EQ(liveReadings.measurement, -1);
    EXPECT_EQ(receiveState.assembly.length, 3);
    feed({0x0D});
    EXPECT_EQ(liveReadings.measurement, 57);
}

TEST_F(Receive, BadFramesAreDroppedWithoutReloadingTheWatchdog)
{
    liveReadings.linkAliveTicks = 3;
    feed({0x01, 0x11, 0xD1, 0x91, 0x75, 0x0D}); // checksum off by one
    feed({0x0D, 0x0D, 0x0D});
    feed({0x00, 0x31, 0x91, 0xC2, 0x0D}); // first byte 0x00
    feed({0x31, 0x0D});                   // 1-byte frame
    EXPECT_EQ(liveReadings.linkAliveTicks, 3);
    EXPECT_EQ(liveReadings.measurement, -1);
    EXPECT_EQ(liveReadings.maxPeak, -1);
    feed({0x31, 0x91, 0xC2, 0x0D});
    EXPECT_EQ(liveReadings.linkAliveTicks, LINK_ALIVE_RELOAD);
}

TEST_F(Receive, OverlongFramesKeepTheirFirstSevenBytes)
{
    // Seven bytes whose last is the sum of the first six, then two more bytes:
    // the eighth position is overwritten and finally replaced by the terminator.
    std::vector<std::uint8_t> nine = {0x31, 0x91, 0x11, 0x21, 0x31, 0x41, 0x00, 0x55, 0x66};
    std::uint8_t sum = 0;
    for (int i = 0; i < 6; ++i)
        sum = static_cast<std::uint8_t>(sum + nine[i]);
    nine[6] = sum;
    nine.push_back(0x0D);
    feed(nine);
    EXPECT_EQ(liveReadings.measurement, 57);

    // Endless noise without CR never leaves the buffer.
    std::vector<std::uint8_t> noise(10000, 0xA5);
    feed(noise);
    EXPECT_EQ(receiveState.assembly.length, 7);
    feed({0x0D, 0x31, 0x91, 0xC2, 0x0D});
    EXPECT_EQ(liveReadings.measurement, 57);
}

TEST_F(Receive, RangeBoundariesLandInTheRightReading)
{
    send(199);
    EXPECT_EQ(liveReadings.measurement, 199);
    send(200);
    EXPECT_EQ(liveReadings.minPeak, 0);
    send(399);
    EXPECT_EQ(liveReadings.minPeak, 199);
    send(400);
    EXPECT_EQ(liveReadings.maxPeak, 0);
    send(599);
    EXPECT_EQ(liveReadings.maxPeak, 199);
    send(600);
    EXPECT_EQ(liveReadings.dpdtPeak, 0);
    liveReadings.peaksChanged = 0;
    send(999);
    EXPECT_EQ(liveReadings.dpdtPeak, 399);
    EXPECT_EQ(liveReadings.peaksChanged, 1);

    const LiveReadings before = liveReadings;
    const ParameterSet paramsBefore = deviceParameters;
    for (DeviceCode ignored : {1000, 2999, 65000, 65013, 65025, 65038, 65050, 65051, 65053, 65199, 65500, 65535})
        send(ignored);
    EXPECT_EQ(liveReadings.measurement, before.measurement);
    EXPECT_EQ(liveReadings.minPeak, before.minPeak);
    EXPECT_EQ(liveReadings.maxPeak, before.maxPeak);
    EXPECT_EQ(liveReadings.dpdtPeak, before.dpdtPeak);
    EXPECT_EQ(liveReadings.dvdtSeen, 0);
    EXPECT_EQ(liveReadings.alarmStopCountdown, 0);
    EXPECT_EQ(std::memcmp(&paramsBefore, &deviceParameters, sizeof paramsBefore), 0);
}

TEST_F(Receive, ParameterCodesFillTheirFields)
{
    send(3064);
    EXPECT_EQ(deviceParameters.ioutPolarity, 4);
    send(3065);
    EXPECT_EQ(deviceParameters.autoShutDown, 0);
    send(3069);
    EXPECT_EQ(deviceParameters.autoShutDown, 4);
    send(3070);
    EXPECT_EQ(deviceParameters.limit1AutoReset, 0);
    send(3084);
    EXPECT_EQ(deviceParameters.filter, 4);
    send(3085);
    EXPECT_EQ(deviceParameters.zero, 0);
    send(3099);
    EXPECT_EQ(deviceParameters.zero, 14);
    send(9999);
    EXPECT_EQ(deviceParameters.p1Max, 6199);
    send(64999);
    EXPECT_EQ(deviceParameters.limit2Tr, 34999);
    send(3009);
    EXPECT_EQ(deviceParameters.limit1Mode, 9); // stored unchecked
}

TEST_F(Receive, UploadAnswerSignalsTheEventAndRestartsTheUnitText)
{
    EXPECT_FALSE(uploadConfirmSignalled());
    for (DeviceCode c : {3000, 65277, 65287, 65213})
        send(c);
    EXPECT_TRUE(uploadConfirmSignalled());
    EXPECT_EQ(deviceParameters.limit1Mode, 0);
    EXPECT_STREQ(deviceParameters.unitText, "MW");

    // The next upload writes from the first byte again.
    for (DeviceCode c : {3002, 65275, 65213})
        send(c);
    EXPECT_STREQ(deviceParameters.unitText, "K");
}

TEST_F(Receive, AnUploadAnswerIsWholeWithEveryParameterAndOnlyThen)
{
    // Every set that lacks one field is incomplete; all 23 are whole at once
    // (a mark wider than the set would hold every check for its full 2 s).
    for (int missing = 0; missing <= PARAMETER_COUNT; ++missing) {
        beginUploadAnswer();
        for (int i = 0; i < PARAMETER_COUNT; ++i)
            if (i != missing)
                send(PARAMETER_FIELDS[i].base);
        EXPECT_EQ(wholeUploadAnswerSeen(), missing == PARAMETER_COUNT) << "missing field " << missing;
    }
    // A new answer's first code drops the marks of the one before.
    send(3001);
    EXPECT_FALSE(wholeUploadAnswerSeen());
}

TEST_F(Receive, UnitTextCodesWrapToEightBits)
{
    send(3000);
    send(65456);
    EXPECT_EQ(deviceParameters.unitText[0], 0);
    send(65499);
    EXPECT_EQ(deviceParameters.unitText[1], 43);
}

TEST_F(Receive, AnOverlongUnitTextStaysInsideItsFieldAndTerminated)
{
    std::memset(deviceParameters.reserved, 0, sizeof deviceParameters.reserved);
    send(3000);
    for (int i = 0; i < 200; ++i)
        send(static_cast<DeviceCode>(UNIT_CHAR_BASE + 'A' + i % 26));
    send(UNIT_TEXT_END);
    EXPECT_EQ(std::strlen(deviceParameters.unitText), UNIT_TEXT_SIZE - 1);
    EXPECT_EQ(deviceParameters.unitText[0], 'A');
    EXPECT_EQ(deviceParameters.zero, 0);
    for (std::uint8_t b : deviceParameters.reserved)
        EXPECT_EQ(b, 0);
    // Exactly 31 characters and the terminator fit.
    send(3000);
    for (int i = 0; i < 31; ++i)
        send(static_cast<DeviceCode>(UNIT_CHAR_BASE + 'x'));
    send(UNIT_TEXT_END);
    EXPECT_EQ(std::strlen(deviceParameters.unitText), 31u);
}

TEST_F(Receive, AUnitTextWhoseEndCodeNeverComesStaysTerminated)
{
    // A line that drops the end code (or a device that never sends it): the
    // characters beyond the field are lost and the last byte stays the terminator.
    constexpr int SENT = 40;
    send(3000);
    for (int i = 0; i < SENT; ++i)
        send(static_cast<DeviceCode>(UNIT_CHAR_BASE + 'a' + i % 26));
    EXPECT_EQ(deviceParameters.unitText[UNIT_TEXT_SIZE - 1], 0);
    EXPECT_EQ(deviceParameters.unitText[0], 'a');
    EXPECT_EQ(deviceParameters.unitText[UNIT_TEXT_SIZE - 2], 'a' + (UNIT_TEXT_SIZE - 2) % 26);
    EXPECT_EQ(deviceParameters.zero, 0);
}

TEST_F(Receive, AlarmCodesArmTheStopOnlyWhenEnabled)
{
    monitorSettings.stopAtAlarm = 0;
    send(65014);
    EXPECT_EQ(liveReadings.alarmStopCountdown, 0);
    monitorSettings.stopAtAlarm = 1;
    send(65013);
    send(65025);
    EXPECT_EQ(liveReadings.alarmStopCountdown, 0);
    for (DeviceCode alarm : {65014, 65024, 65039, 65049}) {
        liveReadings.alarmStopCountdown = 17;
        send(alarm);
        EXPECT_EQ(liveReadings.alarmStopCountdown, 1) << alarm;
    }
}

TEST_F(Receive, DvdtStatusSetsItsFlag)
{
    send(STATUS_DVDT);
    EXPECT_EQ(liveReadings.dvdtSeen, 1);
}

TEST_F(Receive, MeasurementsReachTheTrendByRollMode)
{
    struct Case {
        std::uint16_t rollMode;
        int expectedSamples;
    };
    for (Case c : {Case{0, 12}, Case{1, 4}, Case{2, 2}}) {
        resetCoreState();
        monitorSettings.rollMode = c.rollMode;
        for (int i = 0; i < 12; ++i)
            send(57);
        EXPECT_EQ(trendHistory.sampleWritePos.load(), c.expectedSamples) << c.rollMode;
        EXPECT_EQ(trendHistory.samples[0], 114);
    }
    // A roll change does not reset the running count: five measurements under
    // 60 s, then 10 s: the next measurement hands off at once.
    resetCoreState();
    monitorSettings.rollMode = 2;
    for (int i = 0; i < 5; ++i)
        send(10);
    EXPECT_EQ(trendHistory.sampleWritePos.load(), 0);
    monitorSettings.rollMode = 0;
    send(11);
    EXPECT_EQ(trendHistory.sampleWritePos.load(), 1);
    EXPECT_EQ(trendHistory.samples[0], 22);
}

TEST_F(Receive, NonPositiveCountsDoNothing)
{
    const std::uint8_t frame[] = {0x31, 0x91, 0xC2, 0x0D};
    receiveBytes(frame, 0);
    receiveBytes(frame, -4);
    EXPECT_EQ(receiveState.assembly.length, 0);
    EXPECT_EQ(liveReadings.measurement, -1);
}

} // namespace
