// Tests of the simulated device's behaviour: upload answers, parameter codes, peaks, limits, dV/dt.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/device_model.h"

namespace {

std::vector<DeviceCode> drain(DeviceModel &m)
{
    std::vector<DeviceCode> out;
    DeviceCode c;
    while (m.nextCode(c))
        out.push_back(c);
    return out;
}

bool contains(const std::vector<DeviceCode> &v, DeviceCode c)
{
    return std::find(v.begin(), v.end(), c) != v.end();
}

// A set where every field holds a distinct value inside its received range.
ParameterSet distinctSet()
{
    ParameterSet p;
    std::memset(&p, 0, sizeof p);
    int i = 0;
    for (const ParameterField &f : PARAMETER_FIELDS)
        p.*f.member = static_cast<std::uint16_t>((i++ % (f.lastCode - f.base)) + 1);
    std::strcpy(p.unitText, "kV A");
    return p;
}

} // namespace

TEST(UploadAnswer, Limit1ModeFirstThenSendOrderThenUnitText)
{
    const ParameterSet p = distinctSet();
    const std::vector<DeviceCode> a = uploadAnswer(p);
    ASSERT_EQ(a.size(), static_cast<std::size_t>(PARAMETER_COUNT + 4 + 1));
    EXPECT_EQ(a[0], 3000 + p.limit1Mode);
    // The other 22 follow in send order, each base + value.
    std::size_t k = 1;
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (f.member == &ParameterSet::limit1Mode)
            continue;
        EXPECT_EQ(a[k], f.base + p.*f.member) << f.name;
        ++k;
    }
    const DeviceCode text[] = {65200 + 'k', 65200 + 'V', 65200 + ' ', 65200 + 'A', UNIT_TEXT_END};
    for (DeviceCode t : text)
        EXPECT_EQ(a[k++], t);
}

TEST(UploadAnswer, RoundTripsThroughTheCodeMapAndClampsOutOfRangeValues)
{
    ParameterSet p = distinctSet();
    DeviceModel receiver(defaultParameterSet());
    for (DeviceCode c : uploadAnswer(p))
        receiver.receive(c);
    for (const ParameterField &f : PARAMETER_FIELDS)
        EXPECT_EQ(receiver.parameters().*f.member, p.*f.member) << f.name;

    // A value past its range (from a foreign file) must not land in the next field.
    p.limit1Mode = 15;
    p.ioutPolarity = 9;
    const std::vector<DeviceCode> a = uploadAnswer(p);
    EXPECT_EQ(a[0], 3009);
    EXPECT_TRUE(contains(a, 3064));
    EXPECT_FALSE(contains(a, 3069));
}

TEST(DeviceModelCodes, EveryParameterCodeChangesOnlyItsField)
{
    for (const ParameterField &f : PARAMETER_FIELDS) {
        for (DeviceCode code : {f.base, f.lastCode}) {
            DeviceModel m(defaultParameterSet());
            ParameterSet expected = m.parameters();
            expected.*f.member = static_cast<std::uint16_t>(code - f.base);
            const bool differs = m.parameters().*f.member != expected.*f.member;
            EXPECT_EQ(m.receive(code), differs) << f.name << " " << code;
            EXPECT_EQ(std::memcmp(&m.parameters(), &expected, sizeof expected), 0) << f.name << " " << code;
        }
    }
}

TEST(DeviceModelCodes, NonParameterCodesLeaveTheSetAlone)
{
    DeviceModel m(defaultParameterSet());
    const ParameterSet before = m.parameters();
    for (DeviceCode c : {0, 199, 2999, 65000, 65013, 65014, 65052, 65213, 65535})
        EXPECT_FALSE(m.receive(static_cast<DeviceCode>(c)));
    EXPECT_EQ(std::memcmp(&m.parameters(), &before, sizeof before), 0);
    EXPECT_EQ(m.received(), 9u);
}

TEST(DeviceModelCodes, IgnoredFieldKeepsItsValueOthersStillApply)
{
    DeviceModel m(defaultParameterSet());
    EXPECT_FALSE(m.ignoreField(3101)); // not a base
    ASSERT_TRUE(m.ignoreField(3100));
    EXPECT_FALSE(m.receive(3100 + 65));
    EXPECT_EQ(m.parameters().limit1Setpoint, 80);
    EXPECT_TRUE(m.receive(3200 + 33));
    EXPECT_EQ(m.parameters().limit2Setpoint, 33);
    m.ignoreNone();
    EXPECT_TRUE(m.receive(3100 + 65));
    EXPECT_EQ(m.parameters().limit1Setpoint, 65);
}

TEST(DeviceModelUpload, AnswerFollowsRequestOnNextTickAndReflectsChanges)
{
    DeviceModel m(defaultParameterSet());
    m.tick(50);
    drain(m);
    m.receive(3100 + 70);
    m.receive(CMD_REQUEST_UPLOAD);
    EXPECT_FALSE(m.hasPending());
    m.tick(50);
    const std::vector<DeviceCode> a = drain(m);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.front(), 3002);
    EXPECT_TRUE(contains(a, 3170));
    EXPECT_EQ(a.back(), UNIT_TEXT_END);
    EXPECT_TRUE(contains(a, 65200 + 'M'));
}

TEST(DeviceModelUpload, DelayWithholdAndBusy)
{
    DeviceModel m(defaultParameterSet());
    m.setUploadDelayTicks(5);
    m.receive(CMD_REQUEST_UPLOAD);
    for (int i = 0; i < 4; ++i) {
        m.tick(50);
        EXPECT_FALSE(contains(drain(m), 3002)) << "tick " << i;
    }
    m.receive(CMD_REQUEST_UPLOAD); // a second request while one is due: one answer only
    m.tick(50);
    std::vector<DeviceCode> a = drain(m);
    EXPECT_EQ(std::count(a.begin(), a.end(), 3002), 1);
    m.tick(50);
    EXPECT_FALSE(contains(drain(m), 3002));

    m.setUploadDelayTicks(0);
    m.setUploadWithheld(true);
    m.receive(CMD_REQUEST_UPLOAD);
    m.tick(50);
    m.tick(50);
    EXPECT_FALSE(contains(drain(m), 3002));
    m.setUploadWithheld(false);
    m.receive(CMD_REQUEST_UPLOAD);
    m.tick(50);
    EXPECT_TRUE(contains(drain(m), 3002));
}

TEST(DeviceModelPeaks, TrackMaxMinAndReportChanges)
{
    ParameterSet p = defaultParameterSet();
    p.dvdt = 0;
    DeviceModel m(p);
    EXPECT_EQ(m.tick(50), 50);
    EXPECT_EQ(drain(m), (std::vector<DeviceCode>{250, 450, 600}));
    m.tick(60);
    EXPECT_EQ(drain(m), (std::vector<DeviceCode>{460, 610})); // dP/dt: +10 within the last second
    m.tick(55);
    EXPECT_TRUE(drain(m).empty());
    m.tick(40);
    EXPECT_EQ(drain(m), (std::vector<DeviceCode>{240}));
    EXPECT_EQ(m.maxPeak(), 60);
    EXPECT_EQ(m.minPeak(), 40);
    // The input is clamped to the measurement range.
    EXPECT_EQ(m.tick(500), 199);
    EXPECT_EQ(m.tick(-5), 0);
}

TEST(DeviceModelPeaks, AllThreeRepeatedEvery500ms)
{
    DeviceModel m(defaultParameterSet());
    m.tick(50);
    drain(m);
    for (int t = 2; t <= 50; ++t) {
        m.tick(50);
        const std::vector<DeviceCode> a = drain(m);
        if (t % PEAK_REPORT_TICKS == 0)
            EXPECT_EQ(a, (std::vector<DeviceCode>{250, 450, 600})) << t;
        else
            EXPECT_TRUE(a.empty()) << t;
    }
}

TEST(DeviceModelPeaks, DpdtOverOneSecondRisesOnlyUnlessBothWays)
{
    ParameterSet p = defaultParameterSet();
    p.dvdt = 0;
    DeviceModel rises(p);
    p.dpdtMode = 2;
    DeviceModel both(p);
    for (DeviceModel *m : {&rises, &both}) {
        for (int i = 0; i < 60; ++i)
            m->tick(100);
        for (int i = 1; i <= 50; ++i) // falls 1 kW% per tick: 50 kW%/s
            m->tick(100 - i);
    }
    EXPECT_EQ(rises.dpdtPeak(), 0);
    EXPECT_EQ(both.dpdtPeak(), 50);
    // A rise counts against the value one second (50 ticks) earlier: 98.
    rises.tick(0);
    rises.tick(199);
    EXPECT_EQ(rises.dpdtPeak(), 199 - 98);
}

TEST(DeviceModelPeaks, ResetsReportTheNewPeakAtOnce)
{
    DeviceModel m(defaultParameterSet());
    m.tick(90);
    m.tick(20);
    m.tick(50);
    drain(m);
    m.receive(CMD_RESET_MAX_PEAK);
    m.receive(CMD_RESET_MIN_PEAK);
    m.receive(CMD_RESET_DPDT_PEAK);
    EXPECT_EQ(drain(m), (std::vector<DeviceCode>{450, 250, 600}));
    EXPECT_EQ(m.maxPeak(), 50);
    EXPECT_EQ(m.minPeak(), 50);
    EXPECT_EQ(m.dpdtPeak(), 0);
    // The old slope in the window does not count again after the reset.
    m.tick(50);
    EXPECT_EQ(m.dpdtPeak(), 0);
}

TEST(DeviceModelLimits, MaxModeAlarmsOnceAndRearmsBelowHysteresis)
{
    DeviceModel m(defaultParameterSet()); // limit 1: Max. 80, hysteresis 5
    auto alarms = [&](int value) {
        m.tick(value);
        const std::vector<DeviceCode> a = drain(m);
        return std::count(a.begin(), a.end(), ALARM_LIMIT1_CODE);
    };
    EXPECT_EQ(alarms(80), 0);
    EXPECT_EQ(alarms(81), 1);
    EXPECT_TRUE(m.alarmActive(1));
    EXPECT_EQ(alarms(90), 0); // still active: no repeat
    EXPECT_EQ(alarms(76), 0); // inside the hysteresis band
    EXPECT_TRUE(m.alarmActive(1));
    EXPECT_EQ(alarms(75), 0); // cleared
    EXPECT_FALSE(m.alarmActive(1));
    EXPECT_EQ(alarms(81), 1);
}

TEST(DeviceModelLimits, MinModeAndOff)
{
    ParameterSet p = defaultParameterSet(); // limit 2: Min. 20, hysteresis 5
    p.dvdt = 0;
    DeviceModel m(p);
    auto alarms = [&](int value) {
        m.tick(value);
        const std::vector<DeviceCode> a = drain(m);
        return std::count(a.begin(), a.end(), ALARM_LIMIT2_CODE);
    };
    EXPECT_EQ(alarms(20), 0);
    EXPECT_EQ(alarms(19), 1);
    EXPECT_EQ(alarms(24), 0);
    EXPECT_EQ(alarms(25), 0); // cleared at setpoint + hysteresis
    EXPECT_FALSE(m.alarmActive(2));
    m.receive(3010 + 0); // limit 2 Off
    EXPECT_EQ(alarms(5), 0);
    m.receive(3010 + 2); // Max. 20: 5 is fine, 30 trips
    EXPECT_EQ(alarms(5), 0);
    EXPECT_EQ(alarms(30), 1);
}

TEST(DeviceModelDvdt, StepLargerThanSettingWithinOneTick)
{
    DeviceModel m(defaultParameterSet()); // dvdt 10
    auto dvdt = [&](int value) {
        m.tick(value);
        return contains(drain(m), STATUS_DVDT);
    };
    EXPECT_FALSE(dvdt(50));
    EXPECT_FALSE(dvdt(60)); // exactly 10
    EXPECT_TRUE(dvdt(49));  // -11
    EXPECT_FALSE(dvdt(45));
    m.receive(3400 + 0); // off
    EXPECT_FALSE(dvdt(10));
}

TEST(DeviceModelSpaceKey, TestPulseForOneSecond)
{
    ParameterSet p = defaultParameterSet();
    p.dvdt = 0;
    DeviceModel m(p);
    m.tick(40);
    m.receive(CMD_SPACE_KEY);
    for (int i = 0; i < SPACE_PULSE_TICKS; ++i)
        EXPECT_EQ(m.tick(40), 40 + SPACE_PULSE_STEP);
    EXPECT_EQ(m.tick(40), 40);
}

TEST(DeviceModelQueue, AlarmsBeforePeaksBeforeUploadAndDropPending)
{
    DeviceModel m(defaultParameterSet());
    m.receive(CMD_REQUEST_UPLOAD);
    m.tick(50);
    m.sendNow(STATUS_DVDT);
    const std::vector<DeviceCode> a = drain(m);
    ASSERT_GE(a.size(), 5u);
    EXPECT_EQ(a[0], STATUS_DVDT);
    EXPECT_EQ(a[1], 250);
    EXPECT_EQ(a[4], 3002);

    m.receive(CMD_REQUEST_UPLOAD);
    m.tick(50);
    m.raiseAlarm(2);
    m.dropPending();
    EXPECT_FALSE(m.hasPending());
    m.tick(50);
    EXPECT_TRUE(drain(m).empty());
}
