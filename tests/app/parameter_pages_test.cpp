// Parameter pages: time entry, bounds, enabling, the refused "Min.", rescaling and the codes queued at OK.
#include "params/parameter_pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "params/page_controls.h"

namespace {

// One page window: every control's items, selection, enabled state and text.
struct FakeControl {
    std::vector<std::string> items;
    int selection = -1;
    bool enabled = true;
    std::string text;
};

struct FakePage {
    std::map<int, FakeControl> controls;
    int unchangedPosts = 0;
};

FakePage &pageOf(void *p)
{
    return *static_cast<FakePage *>(p);
}

void fakeAddItem(void *p, int id, int index, const char *text)
{
    auto &items = pageOf(p).controls[id].items;
    ASSERT_EQ(index, static_cast<int>(items.size())); // fixed indexes 0, 1, 2, ...
    items.push_back(text);
}

void fakeSelect(void *p, int id, int index)
{
    FakeControl &c = pageOf(p).controls[id];
    c.selection = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
}

int fakeSelection(void *p, int id)
{
    return pageOf(p).controls[id].selection;
}

void fakeEnable(void *p, int id, bool on)
{
    pageOf(p).controls[id].enabled = on;
}

void fakeShowNumber(void *p, int id, unsigned v)
{
    pageOf(p).controls[id].text = std::to_string(v);
}

// As GetDlgItemInt unsigned without the success flag: digits only, else 0.
unsigned long fakeReadNumber(void *p, int id)
{
    const std::string &t = pageOf(p).controls[id].text;
    if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::strtoul(t.c_str(), nullptr, 10);
}

void fakeShowText(void *p, int id, const char *text)
{
    pageOf(p).controls[id].text = text;
}

int fakeReadText(void *p, int id, char *buffer, int size)
{
    const std::string &t = pageOf(p).controls[id].text;
    const int n = std::min(static_cast<int>(t.size()), size - 1);
    std::memcpy(buffer, t.data(), static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return n;
}

void fakePostUnchanged(void *p)
{
    ++pageOf(p).unchangedPosts;
}

// The sheet as the system runs it: pages are initialised when first shown,
// the page left gets PSN_KILLACTIVE, and OK applies every shown page in order.
class Sheet {
public:
    Sheet()
    {
        snapshotParameters();
        show(ParameterPage::Limit1);
    }
    void show(ParameterPage p)
    {
        const int i = static_cast<int>(p);
        if (current_ >= 0)
            leavePage(ops(current_));
        if (!shown_[i])
            initPage(p, ops(i));
        shown_[i] = true;
        current_ = i;
        activatePage(p, ops(i));
    }
    // The user types into an edit field and leaves it.
    void type(int control, const std::string &text)
    {
        page().controls[control].text = text;
        pageCommand(static_cast<ParameterPage>(current_), ops(current_), control, EDIT_LOST_FOCUS);
    }
    // Typed and confirmed with Return, without leaving the field.
    void typeOnly(int control, const std::string &text) { page().controls[control].text = text; }
    void choose(int control, int index)
    {
        page().controls[control].selection = index;
        pageCommand(static_cast<ParameterPage>(current_), ops(current_), control, 1 /* CBN_SELCHANGE */);
    }
    void ok()
    {
        leavePage(ops(current_));
        for (int i = 0; i < PARAMETER_PAGE_COUNT; ++i) {
            if (shown_[i])
                applyPage(static_cast<ParameterPage>(i), ops(i));
        }
    }
    FakeControl &control(int id) { return page().controls[id]; }
    FakePage &page() { return pages_[current_]; }

private:
    PageOps ops(int i)
    {
        return {&pages_[i],         fakeAddItem,   fakeSelect,   fakeSelection,  fakeEnable,
                fakeShowNumber,     fakeReadNumber, fakeShowText, fakeReadText,  fakePostUnchanged};
    }
    FakePage pages_[PARAMETER_PAGE_COUNT];
    bool shown_[PARAMETER_PAGE_COUNT] = {};
    int current_ = -1;
};

std::vector<DeviceCode> queued()
{
    std::vector<DeviceCode> codes;
    for (int i = codeQueue.read; i != codeQueue.write; i = (i + 1) % CODE_QUEUE_SIZE)
        codes.push_back(codeQueue.codes[i]);
    return codes;
}

// A device set inside every bound, with Timer Range "100".
void setDevice()
{
    deviceParameters = ParameterSet{};
    ParameterSet &d = deviceParameters;
    d.limit1Mode = 2;
    d.limit1Setpoint = 80;
    d.limit1Tr = 150;
    d.limit1AutoReset = 1;
    d.limit1Hysteresis = 5;
    d.limit2Mode = 1;
    d.limit2Setpoint = 20;
    d.limit2Tr = 250;
    d.limit2AutoReset = 0;
    d.limit2Hysteresis = 3;
    d.dpdtMode = 1;
    d.dpdtSetpoint = 50;
    d.dvdt = 0;
    d.timerRange = 0;
    d.ts = 500;
    d.p1Max = 100;
    d.p1Min = 0;
}

class ParameterPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        setDevice();
    }
};

TEST(TimeText, EntryTableInBothTimerRanges)
{
    struct Row {
        const char *text;
        int hundredths, tenths; // -1: rejected (outside 0..9999)
    };
    const Row rows[] = {{"", 0, 0},         {"5", 500, 50},       {"12", 1200, 120},  {"123", 9999, 1230},
                        {"1234", 9999, 9999}, {"1.5", 150, 15},   {"1,25", 125, 12},  {".5", 50, 5},
                        {",05", 5, 0},      {"12.", 1200, 120},   {"99.99", 9999, 999}, {"123.4", 9999, 1234},
                        {"12.34", 1234, 123}, {".", 0, 0},        {"-5", -1, -1},     {"005", 9999, 50}};
    for (const Row &r : rows) {
        for (int range = 0; range <= 1; ++range) {
            requestedParameters.timerRange = static_cast<std::uint16_t>(range);
            const int t = parseTimeText(r.text, static_cast<int>(std::strlen(r.text)));
            const int want = range == 0 ? r.hundredths : r.tenths;
            if (want < 0)
                EXPECT_TRUE(t < 0 || t > TIME_VALUE_MAX) << r.text << " range " << range;
            else
                EXPECT_EQ(t, want) << r.text << " range " << range;
        }
    }
    // The field is read with a 6-byte buffer: "12.345" arrives as "12.34".
    requestedParameters.timerRange = 0;
    EXPECT_EQ(parseTimeText("12.345", 5), 1234);

    char out[TIME_TEXT_SIZE];
    requestedParameters.timerRange = 0;
    formatTimeText(5, out, sizeof out);
    EXPECT_STREQ(out, "0.05");
    formatTimeText(1234, out, sizeof out);
    EXPECT_STREQ(out, "12.34");
    requestedParameters.timerRange = 7; // any non-zero range counts as tenths
    formatTimeText(5, out, sizeof out);
    EXPECT_STREQ(out, "0.5");
    formatTimeText(65535, out, sizeof out);
    EXPECT_STREQ(out, "6553.5");
}

TEST_F(ParameterPages, NumberFieldsKeepOnlyEntriesWithinTheirBounds)
{
    Sheet sheet;
    const struct {
        int control;
        const char *text;
        std::uint16_t want;
    } steps[] = {{IDC_SETPOINT, "4", 80},       {IDC_SETPOINT, "100", 80},      {IDC_SETPOINT, "5", 5},
                 {IDC_SETPOINT, "99", 99},      {IDC_SETPOINT, "65541", 99},    {IDC_SETPOINT, "x", 99},
                 {IDC_HYSTERESIS, "1", 5},      {IDC_HYSTERESIS, "51", 5},      {IDC_HYSTERESIS, "2", 2},
                 {IDC_HYSTERESIS, "65586", 2},  {IDC_HYSTERESIS, "50", 50}};
    for (const auto &s : steps) {
        sheet.type(s.control, s.text);
        const std::uint16_t got = s.control == IDC_SETPOINT ? requestedParameters.limit1Setpoint
                                                            : requestedParameters.limit1Hysteresis;
        EXPECT_EQ(got, s.want) << s.text;
    }
    // An ignored entry keeps its text until the page is shown again.
    sheet.type(IDC_SETPOINT, "150");
    EXPECT_EQ(sheet.control(IDC_SETPOINT).text, "150");
    sheet.show(ParameterPage::Limit1);
    EXPECT_EQ(sheet.control(IDC_SETPOINT).text, "99");

    sheet.show(ParameterPage::Dpdt);
    EXPECT_EQ(sheet.control(IDC_DVDT).text, "Off");
    sheet.type(IDC_DVDT, "21");
    EXPECT_EQ(requestedParameters.dvdt, 0);
    sheet.type(IDC_DVDT, "20");
    EXPECT_EQ(requestedParameters.dvdt, 20);
    sheet.type(IDC_DVDT, "Off");
    EXPECT_EQ(requestedParameters.dvdt, 0);

    sheet.show(ParameterPage::Setup);
    requestedParameters.p1Min = 20;
    for (const auto &[text, want] : std::vector<std::pair<const char *, int>>{
             {"29", 100}, {"30", 30}, {"101", 30}, {"100", 100}, {"x", 100}}) {
        sheet.type(IDC_P1MAX, text);
        EXPECT_EQ(requestedParameters.p1Max, want) << "P1Max " << text;
    }
    requestedParameters.p1Max = 60;
    for (const auto &[text, want] : std::vector<std::pair<const char *, int>>{
             {"51", 20}, {"50", 50}, {"x", 0}}) {
        sheet.type(IDC_P1MIN, text);
        EXPECT_EQ(requestedParameters.p1Min, want) << "P1Min " << text;
    }
    requestedParameters.p1Min = 5;
    requestedParameters.p1Max = 9; // no P1Min fits below a P1Max under 10
    sheet.type(IDC_P1MIN, "0");
    EXPECT_EQ(requestedParameters.p1Min, 5);
}

TEST_F(ParameterPages, LimitPageEnablingFollowsModeAndAutoReset)
{
    deviceParameters.limit1AutoReset = 0;
    Sheet sheet;
    EXPECT_TRUE(sheet.control(IDC_SETPOINT).enabled);
    EXPECT_FALSE(sheet.control(IDC_HYSTERESIS).enabled);
    sheet.choose(IDC_AUTO_RESET, 1);
    EXPECT_TRUE(sheet.control(IDC_HYSTERESIS).enabled);
    sheet.choose(IDC_LIMIT_MODE, 0);
    for (int id : {IDC_SETPOINT, IDC_TR, IDC_AUTO_RESET, IDC_HYSTERESIS})
        EXPECT_FALSE(sheet.control(id).enabled) << id;
    EXPECT_EQ(sheet.control(IDC_SETPOINT).text, "80"); // values kept
    sheet.choose(IDC_LIMIT_MODE, 2);
    EXPECT_TRUE(sheet.control(IDC_HYSTERESIS).enabled);
    EXPECT_GE(sheet.page().unchangedPosts, 1);

    // A mode the combo box cannot show: no selection, and it counts as on.
    deviceParameters.limit2Mode = 7;
    sheet.show(ParameterPage::Limit2);
    snapshotParameters();
    sheet.show(ParameterPage::Limit2);
    EXPECT_EQ(sheet.control(IDC_LIMIT_MODE).selection, -1);
    EXPECT_TRUE(sheet.control(IDC_SETPOINT).enabled);
}

TEST_F(ParameterPages, EveryComboBoxHoldsItsTextsAtTheIndexOfTheirValue)
{
    const struct {
        ParameterPage page;
        int control;
        std::vector<std::string> items;
    } rows[] = {
        {ParameterPage::Limit1, IDC_LIMIT_MODE, {"Off", "Min.", "Max."}},
        {ParameterPage::Limit1, IDC_AUTO_RESET, {"Off", "On"}},
        {ParameterPage::Limit2, IDC_LIMIT_MODE, {"Off", "Min.", "Max."}},
        {ParameterPage::Limit2, IDC_AUTO_RESET, {"Off", "On"}},
        {ParameterPage::Dpdt, IDC_LIMIT_MODE, {"Off", "+dPdt", "+/- dPdt"}},
        {ParameterPage::Setup, IDC_TIMER_RANGE, {"100", "1000"}},
        {ParameterPage::Setup, IDC_IOUT, {"0-20mA", "4-20mA"}},
        {ParameterPage::Setup, IDC_IOUT_POLARITY, {"Norm.", "Inv."}},
        {ParameterPage::Setup, IDC_FILTER, {"None", "3s", "6s", "10s"}},
        {ParameterPage::Setup, IDC_OUTPUT_POLARITY, {"n.inv", "inv"}},
        {ParameterPage::Setup, IDC_AUTO_SHUT_DOWN, {"Off", "On"}},
        {ParameterPage::Setup, IDC_ZERO, {"Off", "After Ts", "External"}},
    };
    Sheet sheet;
    int lists[PARAMETER_PAGE_COUNT] = {};
    for (const auto &r : rows) {
        sheet.show(r.page);
        EXPECT_EQ(sheet.control(r.control).items, r.items) << "page " << static_cast<int>(r.page) << ", " << r.control;
        ++lists[static_cast<int>(r.page)];
    }
    for (int p = 0; p < PARAMETER_PAGE_COUNT; ++p) {
        sheet.show(static_cast<ParameterPage>(p));
        int filled = 0;
        for (const auto &[id, c] : sheet.page().controls)
            filled += c.items.empty() ? 0 : 1;
        EXPECT_EQ(filled, lists[p]) << "combo boxes on page " << p;
    }
}

TEST_F(ParameterPages, DpdtSetpointAndDvdtAreEnabledExactlyWhileTheModeIsOn)
{
    const struct {
        std::uint16_t mode;
        bool on;
    } rows[] = {{0, false}, {1, true}, {2, true}, {7, true}};
    for (const auto &r : rows) {
        deviceParameters.dpdtMode = r.mode;
        Sheet sheet;
        sheet.show(ParameterPage::Dpdt);
        for (int id : {IDC_SETPOINT, IDC_DVDT})
            EXPECT_EQ(sheet.control(id).enabled, r.on) << "mode " << r.mode << " shown, control " << id;
        sheet.choose(IDC_LIMIT_MODE, r.on ? 0 : 2);
        for (int id : {IDC_SETPOINT, IDC_DVDT})
            EXPECT_EQ(sheet.control(id).enabled, !r.on) << "mode " << r.mode << " changed, control " << id;
        EXPECT_EQ(sheet.control(IDC_SETPOINT).text, "50"); // values kept
    }
}

TEST_F(ParameterPages, ZeroBackToOffEnablesTheZoomAgainButLeavesMinOff)
{
    deviceParameters.zero = 2; // External, as the device reports it
    {
        Sheet sheet;
        sheet.show(ParameterPage::Setup);
        EXPECT_FALSE(sheet.control(IDC_P1MAX).enabled);
        EXPECT_FALSE(sheet.control(IDC_P1MIN).enabled);
    }
    deviceParameters.zero = 0;
    deviceParameters.limit1Mode = 1; // Min.
    Sheet sheet;
    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_ZERO, 1);
    sheet.choose(IDC_ZERO, 0);
    EXPECT_TRUE(sheet.control(IDC_P1MAX).enabled);
    EXPECT_TRUE(sheet.control(IDC_P1MIN).enabled);
    EXPECT_EQ(requestedParameters.limit1Mode, 0);
}

TEST_F(ParameterPages, TimerRangeRescalesTheTimesBothWays)
{
    deviceParameters.timerRange = 1;
    deviceParameters.limit1Tr = 123;
    deviceParameters.limit2Tr = 5000;
    deviceParameters.ts = 9999;
    Sheet sheet;
    EXPECT_EQ(sheet.control(IDC_TR).text, "12.3");
    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_TIMER_RANGE, 0);
    EXPECT_EQ(requestedParameters.limit1Tr, 1230);
    EXPECT_EQ(requestedParameters.limit2Tr, 9999);
    EXPECT_EQ(requestedParameters.ts, 9999);
    EXPECT_EQ(sheet.control(IDC_TS).text, "99.99");
    sheet.show(ParameterPage::Limit1);
    EXPECT_EQ(sheet.control(IDC_TR).text, "12.30");
    sheet.type(IDC_TR, "12,34");
    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_TIMER_RANGE, 1);
    EXPECT_EQ(requestedParameters.limit1Tr, 123);
    sheet.choose(IDC_TIMER_RANGE, 0);
    EXPECT_EQ(requestedParameters.limit1Tr, 1230); // the last digit is lost

    // An ignored Ts entry gives way to the stored value on any Timer Range notification.
    sheet.type(IDC_TS, "-5");
    EXPECT_EQ(sheet.control(IDC_TS).text, "-5");
    sheet.choose(IDC_TIMER_RANGE, 0);
    EXPECT_EQ(sheet.control(IDC_TS).text, "99.90"); // 9999 -> 999 -> 9990

    // A device range such as 5 already counts as tenths: "1000" changes no time.
    deviceParameters.timerRange = 5;
    snapshotParameters();
    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_TIMER_RANGE, 1);
    EXPECT_EQ(requestedParameters.limit1Tr, 123);
}

TEST_F(ParameterPages, ZeroTurnsMinOffRefusesMinAndQueuesTheModesLast)
{
    deviceParameters.limit1Mode = 1; // Min.
    deviceParameters.limit2Mode = 2; // Max.
    Sheet sheet;
    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_ZERO, 1); // After Ts
    EXPECT_EQ(requestedParameters.limit1Mode, 0);
    EXPECT_EQ(requestedParameters.limit2Mode, 2);
    EXPECT_FALSE(sheet.control(IDC_P1MAX).enabled);
    EXPECT_FALSE(sheet.control(IDC_P1MIN).enabled);

    sheet.show(ParameterPage::Limit1);
    EXPECT_EQ(sheet.control(IDC_LIMIT_MODE).selection, 0);
    sheet.choose(IDC_LIMIT_MODE, 1); // refused: snaps back
    EXPECT_EQ(sheet.control(IDC_LIMIT_MODE).selection, 0);
    EXPECT_EQ(requestedParameters.limit1Mode, 0);
    sheet.choose(IDC_LIMIT_MODE, 2);
    EXPECT_EQ(requestedParameters.limit1Mode, 2);
    sheet.choose(IDC_LIMIT_MODE, 0);

    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_FILTER, 2);
    sheet.ok();
    EXPECT_EQ(queued(), (std::vector<DeviceCode>{3000 + 0, 3080 + 2, 3085 + 1, 3000 + 0, 3010 + 2}));
}

TEST_F(ParameterPages, OkQueuesOnlyChangesOfShownPagesInPageOrder)
{
    {
        Sheet sheet;
        sheet.show(ParameterPage::Setup);
        sheet.ok();
        EXPECT_TRUE(queued().empty()) << "OK without changes";
    }
    {
        Sheet sheet; // Limit 2 never shown: its changed field is not sent
        requestedParameters.limit2Setpoint = 30;
        sheet.ok();
        EXPECT_TRUE(queued().empty());
    }
    {
        Sheet sheet;
        sheet.type(IDC_SETPOINT, "81");
        sheet.typeOnly(IDC_HYSTERESIS, "60"); // invalid at Apply: skipped
        sheet.ok();
        EXPECT_EQ(queued(), (std::vector<DeviceCode>{3100 + 81}));
    }
}

TEST_F(ParameterPages, EveryFieldChangedQueuesTwentySevenCodesInOrder)
{
    Sheet sheet;
    for (ParameterPage p : {ParameterPage::Limit1, ParameterPage::Limit2}) {
        sheet.show(p);
        sheet.choose(IDC_LIMIT_MODE, p == ParameterPage::Limit1 ? 0 : 2);
        sheet.type(IDC_SETPOINT, p == ParameterPage::Limit1 ? "70" : "30");
        sheet.type(IDC_TR, p == ParameterPage::Limit1 ? "2" : "3,5");
        sheet.choose(IDC_AUTO_RESET, p == ParameterPage::Limit1 ? 0 : 1);
        sheet.typeOnly(IDC_HYSTERESIS, p == ParameterPage::Limit1 ? "10" : "12");
    }
    sheet.show(ParameterPage::Dpdt);
    sheet.choose(IDC_LIMIT_MODE, 2);
    sheet.type(IDC_SETPOINT, "60");
    sheet.type(IDC_DVDT, "7");
    sheet.show(ParameterPage::Setup);
    sheet.choose(IDC_TIMER_RANGE, 1);
    sheet.type(IDC_TS, "12.5");
    sheet.choose(IDC_IOUT, 1);
    sheet.choose(IDC_IOUT_POLARITY, 1);
    sheet.choose(IDC_FILTER, 3);
    sheet.choose(IDC_OUTPUT_POLARITY, 1);
    sheet.type(IDC_P1MAX, "90");
    sheet.type(IDC_P1MIN, "10");
    sheet.choose(IDC_AUTO_SHUT_DOWN, 1);
    sheet.choose(IDC_ZERO, 2);
    sheet.ok();
    // Tr texts typed in hundredths were rescaled to tenths by the new range, and
    // the Limit pages read the same texts again at Apply in the new unit.
    const std::vector<DeviceCode> want = {
        3000 + 0, 3100 + 70, 20000 + 20, 3070 + 0, 3500 + 10,                         // Limit 1
        3010 + 2, 3200 + 30, 30000 + 35, 3075 + 1, 3600 + 12,                         // Limit 2
        3020 + 2, 3300 + 60, 3400 + 7,                                                // dPdt
        3030 + 1, 20000 + 20, 30000 + 35, 10000 + 125, 3040 + 1, 3050 + 1, 3060 + 1,  // Setup
        3080 + 3, 3800 + 90, 3700 + 10, 3065 + 1, 3085 + 2, 3000 + 0, 3010 + 2};
    EXPECT_EQ(queued(), want);
    EXPECT_EQ(want.size(), 27u);
}

} // namespace
