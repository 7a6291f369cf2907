// libFuzzer target: the time entry, and the parameter pages driven by a script of typed numbers, texts and choices.
//
// First parseTimeText on 0..5 characters in both timer ranges (and formatTimeText
// read back), then fuzzed requestedParameters and deviceParameters and a
// script run through a fake page window whose edit fields read back whatever
// was typed. After every step the fields that may change, the bounds of an
// accepted entry and the codes queued at Apply are checked; ASan checks that
// nothing is written outside a field or a buffer.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "params/page_controls.h"
#include "params/parameter_pages.h"
#include "tests/native/test_state.h"

namespace {

using Field = std::uint16_t ParameterSet::*;

// ---- the time entry on its own ----

void setTimerRange(std::uint16_t range)
{
    requestedParameters.timerRange = range;
}

void fuzzTimeText(FuzzInput &in)
{
    // Exactly the characters given, no terminator: a read past them is an ASan report.
    const int n = in.byte() % TIME_TEXT_READ_SIZE;
    char *text = new char[n > 0 ? n : 1];
    in.bytes(text, static_cast<std::size_t>(n));
    std::uint16_t otherTenths = in.take<std::uint16_t>();
    if (otherTenths == 0)
        otherTenths = 1;
    int results[2];
    for (std::uint16_t range = 0; range <= 1; ++range) {
        setTimerRange(range);
        const int t = parseTimeText(text, n);
        // At most four digits reach the conversion, a sign among them.
        check(t >= -999 && t <= TIME_VALUE_MAX);
        results[range] = t;
    }
    setTimerRange(otherTenths); // every range but 0 counts tenths
    check(parseTimeText(text, n) == results[1]);
    delete[] text;

    // Whatever a field shows reads back as the same value, within the 5 characters read.
    const std::uint16_t value = in.take<std::uint16_t>();
    for (std::uint16_t range = 0; range <= 1; ++range) {
        setTimerRange(range);
        char shown[TIME_TEXT_SIZE];
        std::memset(shown, 0x7F, sizeof shown);
        formatTimeText(value, shown, sizeof shown);
        check(std::memchr(shown, 0, sizeof shown) != nullptr);
        if (value <= TIME_VALUE_MAX) {
            const int length = static_cast<int>(std::strlen(shown));
            check(length <= TIME_TEXT_READ_SIZE - 1);
            check(parseTimeText(shown, length) == value);
        }
    }
}

// ---- the fake page window ----

// The controls of each page, kept here apart from the program's own tables.
const int LIMIT_CONTROLS[] = {IDC_LIMIT_MODE, IDC_SETPOINT, IDC_HYSTERESIS, IDC_TR, IDC_AUTO_RESET};
const int DPDT_CONTROLS[] = {IDC_LIMIT_MODE, IDC_SETPOINT, IDC_DVDT};
const int SETUP_CONTROLS[] = {IDC_TIMER_RANGE, IDC_IOUT, IDC_IOUT_POLARITY,  IDC_FILTER,         IDC_P1MAX,
                              IDC_P1MIN,       IDC_TS,   IDC_OUTPUT_POLARITY, IDC_AUTO_SHUT_DOWN, IDC_ZERO};
const int LIMIT_EDITS[] = {IDC_SETPOINT, IDC_HYSTERESIS, IDC_TR};
const int DPDT_EDITS[] = {IDC_SETPOINT, IDC_DVDT};
const int SETUP_EDITS[] = {IDC_TS, IDC_P1MAX, IDC_P1MIN};
const int LIMIT_COMBOS[] = {IDC_LIMIT_MODE, IDC_AUTO_RESET};
const int DPDT_COMBOS[] = {IDC_LIMIT_MODE};
const int SETUP_COMBOS[] = {IDC_TIMER_RANGE,     IDC_IOUT,           IDC_IOUT_POLARITY, IDC_FILTER,
                            IDC_OUTPUT_POLARITY, IDC_AUTO_SHUT_DOWN, IDC_ZERO};
const int ALL_CONTROLS[] = {IDC_LIMIT_MODE, IDC_SETPOINT,       IDC_HYSTERESIS, IDC_TR,    IDC_AUTO_RESET,
                            IDC_DVDT,       IDC_TIMER_RANGE,    IDC_IOUT,       IDC_IOUT_POLARITY,
                            IDC_FILTER,     IDC_P1MAX,          IDC_P1MIN,      IDC_OUTPUT_POLARITY,
                            IDC_TS,         IDC_AUTO_SHUT_DOWN, IDC_ZERO};

struct IdList {
    const int *ids;
    int count;
};
template <int N> constexpr IdList list(const int (&ids)[N])
{
    return {ids, N};
}

// Page indexes in sheet order.
constexpr int LIMIT2 = static_cast<int>(ParameterPage::Limit2);
constexpr int DPDT = static_cast<int>(ParameterPage::Dpdt);
constexpr int SETUP = static_cast<int>(ParameterPage::Setup);

constexpr int MAX_CONTROLS = 10;
constexpr int TYPED_SIZE = 16; // longer than the 5 characters the pages read

struct FakeControl {
    int id;
    int items;
    int selection;
    unsigned long number;   // what GetDlgItemInt reads
    char text[TYPED_SIZE];  // what GetDlgItemTextA reads, not necessarily terminated
    int textLength;
    bool claims;            // the read returns claimedLength instead of the count it copied
    int claimedLength;
};

struct FakePage {
    FakeControl controls[MAX_CONTROLS];
    int count;
    bool shown;
};

FakePage pages[PARAMETER_PAGE_COUNT];

IdList controlsOf(int page)
{
    return page == SETUP ? list(SETUP_CONTROLS) : page == DPDT ? list(DPDT_CONTROLS) : list(LIMIT_CONTROLS);
}
IdList editsOf(int page)
{
    return page == SETUP ? list(SETUP_EDITS) : page == DPDT ? list(DPDT_EDITS) : list(LIMIT_EDITS);
}
IdList combosOf(int page)
{
    return page == SETUP ? list(SETUP_COMBOS) : page == DPDT ? list(DPDT_COMBOS) : list(LIMIT_COMBOS);
}

bool onPage(int page, int id)
{
    const IdList l = controlsOf(page);
    for (int i = 0; i < l.count; ++i) {
        if (l.ids[i] == id)
            return true;
    }
    return false;
}

// The program only ever addresses controls that its page has.
FakeControl &control(void *p, int id)
{
    FakePage &page = *static_cast<FakePage *>(p);
    for (int i = 0; i < page.count; ++i) {
        if (page.controls[i].id == id)
            return page.controls[i];
    }
    check(false);
    return page.controls[0];
}

// As GetDlgItemInt unsigned: digits only, else 0.
unsigned long digitsValue(const char *text, int length)
{
    if (length == 0)
        return 0;
    unsigned long v = 0;
    for (int i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        v = v * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    return v;
}

void setText(FakeControl &c, const char *text, int length)
{
    check(length >= 0 && length < TYPED_SIZE);
    std::memcpy(c.text, text, static_cast<std::size_t>(length));
    c.textLength = length;
    c.claims = false;
    c.number = digitsValue(text, length);
}

void fakeAddItem(void *p, int id, int index, const char *text)
{
    FakeControl &c = control(p, id);
    check(index == c.items);
    check(text != nullptr && std::strlen(text) < TYPED_SIZE);
    ++c.items;
}

void fakeSelect(void *p, int id, int index)
{
    FakeControl &c = control(p, id);
    c.selection = index >= 0 && index < c.items ? index : -1;
}

int fakeSelection(void *p, int id)
{
    return control(p, id).selection;
}

void fakeEnable(void *p, int id, bool)
{
    control(p, id);
}

void fakeShowNumber(void *p, int id, unsigned value)
{
    FakeControl &c = control(p, id);
    const std::string text = std::to_string(value);
    setText(c, text.c_str(), static_cast<int>(text.size()));
}

unsigned long fakeReadNumber(void *p, int id)
{
    return control(p, id).number;
}

void fakeShowText(void *p, int id, const char *text)
{
    const std::size_t length = std::strlen(text);
    check(length < TIME_TEXT_SIZE);
    setText(control(p, id), text, static_cast<int>(length));
}

// Fills all `size` bytes it is given, as a read of that size may.
int fakeReadText(void *p, int id, char *buffer, int size)
{
    const FakeControl &c = control(p, id);
    check(size > 0);
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    const int copied = c.textLength < size - 1 ? c.textLength : size - 1;
    std::memcpy(buffer, c.text, static_cast<std::size_t>(copied));
    return c.claims ? c.claimedLength : copied;
}

void fakePostUnchanged(void *) {}

PageOps opsOf(int page)
{
    PageOps ops{};
    ops.page = &pages[page];
    ops.addItem = fakeAddItem;
    ops.select = fakeSelect;
    ops.selection = fakeSelection;
    ops.enable = fakeEnable;
    ops.showNumber = fakeShowNumber;
    ops.readNumber = fakeReadNumber;
    ops.showText = fakeShowText;
    ops.readText = fakeReadText;
    ops.postUnchanged = fakePostUnchanged;
    return ops;
}

void resetPages()
{
    for (int i = 0; i < PARAMETER_PAGE_COUNT; ++i) {
        FakePage &page = pages[i];
        page = FakePage{};
        const IdList ids = controlsOf(i);
        for (int k = 0; k < ids.count; ++k)
            page.controls[k] = {ids.ids[k], 0, -1, 0, {}, 0, false, 0};
        page.count = ids.count;
    }
}

// ---- the rules ----

int fieldIndex(Field f)
{
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        if (PARAMETER_FIELDS[i].member == f)
            return i;
    }
    check(false);
    return 0;
}

using FieldMask = std::uint32_t;
FieldMask bit(Field f)
{
    return FieldMask{1} << fieldIndex(f);
}

// Fields other than those in `may` kept their values.
void checkOnlyChanged(const ParameterSet &before, FieldMask may)
{
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        if ((may >> i) & 1)
            continue;
        check(requestedParameters.*PARAMETER_FIELDS[i].member == before.*PARAMETER_FIELDS[i].member);
    }
}

enum class Entry { Number, Time };

// Bounds of the typed numbers in per cent, and the item indexes the rules name.
constexpr unsigned long SETPOINT_LOW = 5, SETPOINT_HIGH = 99;
constexpr unsigned long HYSTERESIS_LOW = 2, HYSTERESIS_HIGH = 50;
constexpr unsigned long DVDT_HIGH = 20;
constexpr unsigned long P1_HIGH = 100, P1_SPAN = 10;
constexpr int OFF_ITEM = 0;        // Limit, Zero
constexpr int MIN_ITEM = 1;        // Limit "Min."
constexpr int HUNDREDTHS_ITEM = 0; // Timer Range "100"

// The field an edit control of a page stores, and how.
struct EditRule {
    Field field;
    Entry entry;
    unsigned long low, high; // numbers; `valid` false when nothing is accepted
    bool valid;
};

Field limitField(int page, Field one, Field two)
{
    return page == LIMIT2 ? two : one;
}

// Bounds as they stand before the entry (P1Max and P1Min bound each other).
EditRule editRule(int page, int id)
{
    const ParameterSet &r = requestedParameters;
    if (page <= LIMIT2) {
        if (id == IDC_SETPOINT)
            return {limitField(page, &ParameterSet::limit1Setpoint, &ParameterSet::limit2Setpoint), Entry::Number,
                    SETPOINT_LOW, SETPOINT_HIGH, true};
        if (id == IDC_HYSTERESIS)
            return {limitField(page, &ParameterSet::limit1Hysteresis, &ParameterSet::limit2Hysteresis),
                    Entry::Number, HYSTERESIS_LOW, HYSTERESIS_HIGH, true};
        return {limitField(page, &ParameterSet::limit1Tr, &ParameterSet::limit2Tr), Entry::Time, 0, 0, true};
    }
    if (page == DPDT) {
        if (id == IDC_SETPOINT)
            return {&ParameterSet::dpdtSetpoint, Entry::Number, SETPOINT_LOW, SETPOINT_HIGH, true};
        return {&ParameterSet::dvdt, Entry::Number, 0, DVDT_HIGH, true};
    }
    if (id == IDC_TS)
        return {&ParameterSet::ts, Entry::Time, 0, 0, true};
    if (id == IDC_P1MAX)
        return {&ParameterSet::p1Max, Entry::Number, r.p1Min + P1_SPAN, P1_HIGH, true};
    const bool room = r.p1Max >= P1_SPAN;
    return {&ParameterSet::p1Min, Entry::Number, 0, room ? r.p1Max - P1_SPAN : 0, room};
}

// What the page reads from a time field: at most 5 characters, the count clamped to 0..5.
int expectedTime(const FakeControl &c)
{
    char text[TIME_TEXT_READ_SIZE] = {};
    const int copied = c.textLength < TIME_TEXT_READ_SIZE - 1 ? c.textLength : TIME_TEXT_READ_SIZE - 1;
    std::memcpy(text, c.text, static_cast<std::size_t>(copied));
    int length = c.claims ? c.claimedLength : copied;
    if (length < 0)
        length = 0;
    if (length > TIME_TEXT_READ_SIZE - 1)
        length = TIME_TEXT_READ_SIZE - 1;
    return parseTimeText(text, length);
}

// The field after its edit control was read: the entry when valid, else as it was.
void checkEntry(const EditRule &rule, const FakeControl &c, std::uint16_t before)
{
    const std::uint16_t after = requestedParameters.*rule.field;
    if (rule.entry == Entry::Number) {
        const bool accepted = rule.valid && c.number >= rule.low && c.number <= rule.high;
        check(after == (accepted ? c.number : before));
        return;
    }
    const int t = expectedTime(c);
    const bool accepted = t >= 0 && t <= TIME_VALUE_MAX;
    check(after == (accepted ? static_cast<std::uint16_t>(t) : before));
    check(after == before || after <= TIME_VALUE_MAX);
}

void editLeft(int page, int id)
{
    const ParameterSet before = requestedParameters;
    const EditRule rule = editRule(page, id);
    pageCommand(static_cast<ParameterPage>(page), opsOf(page), id, EDIT_LOST_FOCUS);
    checkOnlyChanged(before, bit(rule.field));
    checkEntry(rule, control(&pages[page], id), before.*rule.field);
}

const Field timeFields[] = {&ParameterSet::limit1Tr, &ParameterSet::limit2Tr, &ParameterSet::ts};

Field comboField(int page, int id)
{
    if (page <= LIMIT2)
        return id == IDC_LIMIT_MODE ? limitField(page, &ParameterSet::limit1Mode, &ParameterSet::limit2Mode)
                                    : limitField(page, &ParameterSet::limit1AutoReset, &ParameterSet::limit2AutoReset);
    if (page == DPDT)
        return &ParameterSet::dpdtMode;
    switch (id) {
    case IDC_TIMER_RANGE: return &ParameterSet::timerRange;
    case IDC_IOUT: return &ParameterSet::iout;
    case IDC_IOUT_POLARITY: return &ParameterSet::ioutPolarity;
    case IDC_FILTER: return &ParameterSet::filter;
    case IDC_OUTPUT_POLARITY: return &ParameterSet::outputPolarity;
    case IDC_AUTO_SHUT_DOWN: return &ParameterSet::autoShutDown;
    default: return &ParameterSet::zero;
    }
}

// A combo box stores its item index; "Min." is refused while Zero is on; a
// new Timer Range rescales the times; a Zero other than Off turns "Min." off.
void comboChosen(int page, int id, int index, int notification)
{
    FakeControl &c = control(&pages[page], id);
    c.selection = index;
    const ParameterSet before = requestedParameters;
    pageCommand(static_cast<ParameterPage>(page), opsOf(page), id, notification);
    const Field f = comboField(page, id);
    const std::uint16_t was = before.*f;
    const std::uint16_t now = requestedParameters.*f;
    const bool isNew = index >= 0 && index != was;
    FieldMask may = bit(f);
    if (page == SETUP && id == IDC_TIMER_RANGE) {
        for (Field t : timeFields)
            may |= bit(t);
        const bool toHundredths = index == HUNDREDTHS_ITEM;
        const bool rescale = isNew && (was == HUNDREDTHS_ITEM) != toHundredths;
        for (Field t : timeFields) {
            const unsigned long old = before.*t;
            const unsigned long expected =
                !rescale ? old : toHundredths ? (old * 10 > TIME_VALUE_MAX ? TIME_VALUE_MAX : old * 10) : old / 10;
            check(requestedParameters.*t == expected);
        }
    }
    if (page == SETUP && id == IDC_ZERO) {
        may |= bit(&ParameterSet::limit1Mode) | bit(&ParameterSet::limit2Mode);
        for (Field m : {&ParameterSet::limit1Mode, &ParameterSet::limit2Mode}) {
            const bool turnedOff = isNew && index != OFF_ITEM && before.*m == MIN_ITEM;
            check(requestedParameters.*m == (turnedOff ? OFF_ITEM : before.*m));
        }
    }
    checkOnlyChanged(before, may);
    const bool refusedMin = page <= LIMIT2 && id == IDC_LIMIT_MODE && index == MIN_ITEM && before.zero != OFF_ITEM;
    check(now == (isNew && !refusedMin ? index : was));
    if (isNew && refusedMin)
        check(c.selection == (was < c.items ? was : -1));
}

// Every code Apply queued is base + value of one of the page's fields, and none was refused.
void checkApplied(int page)
{
    FieldMask pageFields = 0;
    if (page <= LIMIT2) {
        for (int id : LIMIT_EDITS)
            pageFields |= bit(editRule(page, id).field);
        pageFields |= bit(comboField(page, IDC_LIMIT_MODE)) | bit(comboField(page, IDC_AUTO_RESET));
    } else if (page == DPDT) {
        pageFields = bit(&ParameterSet::dpdtMode) | bit(&ParameterSet::dpdtSetpoint) | bit(&ParameterSet::dvdt);
    } else {
        for (int id : SETUP_COMBOS)
            pageFields |= bit(comboField(SETUP, id));
        for (Field f : timeFields)
            pageFields |= bit(f);
        pageFields |= bit(&ParameterSet::p1Max) | bit(&ParameterSet::p1Min) | bit(&ParameterSet::limit1Mode) |
                      bit(&ParameterSet::limit2Mode);
    }
    for (int i = codeQueue.read; i != codeQueue.write; i = (i + 1) % CODE_QUEUE_SIZE) {
        const DeviceCode code = codeQueue.codes[i];
        bool known = false;
        for (int k = 0; k < PARAMETER_COUNT; ++k) {
            const ParameterField &f = PARAMETER_FIELDS[k];
            if (((pageFields >> k) & 1) && code == ((f.base + requestedParameters.*f.member) & 0xFFFF))
                known = true;
        }
        check(known);
    }
    check(codeQueue.refused == 0);
}

// PSN_APPLY re-reads the page's edit fields in page order; each is checked with
// the bounds that stand when it is read.
void applyOne(int page)
{
    const ParameterSet before = requestedParameters;
    FieldMask may = 0;
    const IdList edits = editsOf(page);
    EditRule rules[3];
    for (int i = 0; i < edits.count; ++i) {
        rules[i] = editRule(page, edits.ids[i]);
        may |= bit(rules[i].field);
    }
    applyPage(static_cast<ParameterPage>(page), opsOf(page));
    checkOnlyChanged(before, may);
    if (page == SETUP) {
        // P1Max first; P1Min then against the P1Max just stored.
        const FakeControl &ts = control(&pages[SETUP], IDC_TS);
        checkEntry(rules[0], ts, before.ts);
        checkEntry(rules[1], control(&pages[SETUP], IDC_P1MAX), before.p1Max);
        const EditRule p1Min = editRule(SETUP, IDC_P1MIN);
        checkEntry(p1Min, control(&pages[SETUP], IDC_P1MIN), before.p1Min);
    } else {
        for (int i = 0; i < edits.count; ++i)
            checkEntry(rules[i], control(&pages[page], edits.ids[i]), before.*rules[i].field);
    }
    checkApplied(page);
    discardQueuedCodes();
}

// ---- the script ----

int current = -1;

void show(int page)
{
    if (current >= 0)
        leavePage(opsOf(current));
    if (!pages[page].shown)
        initPage(static_cast<ParameterPage>(page), opsOf(page));
    pages[page].shown = true;
    current = page;
    const ParameterSet before = requestedParameters;
    activatePage(static_cast<ParameterPage>(page), opsOf(page));
    checkOnlyChanged(before, 0);
}

int pick(FuzzInput &in, IdList l)
{
    return l.ids[in.byte() % l.count];
}

void step(FuzzInput &in)
{
    const std::uint8_t op = in.byte() % 8;
    if (op == 0) {
        show(in.byte() % PARAMETER_PAGE_COUNT);
        return;
    }
    if (current < 0)
        show(static_cast<int>(ParameterPage::Limit1)); // the sheet opens on its first page
    switch (op) {
    case 1: { // a number typed, read whole by GetDlgItemInt
        const int id = pick(in, editsOf(current));
        FakeControl &c = control(&pages[current], id);
        const std::uint32_t value = in.take<std::uint32_t>();
        const std::string text = std::to_string(value);
        setText(c, text.c_str(), static_cast<int>(text.size()));
        c.number = value;
        editLeft(current, id);
        break;
    }
    case 2: { // any characters typed; the read may claim any count
        const int id = pick(in, editsOf(current));
        FakeControl &c = control(&pages[current], id);
        char text[TYPED_SIZE];
        const int length = in.byte() % TYPED_SIZE;
        in.bytes(text, static_cast<std::size_t>(length));
        setText(c, text, length);
        if (in.byte() & 1) {
            c.claims = true;
            c.claimedLength = in.take<std::int8_t>();
        }
        editLeft(current, id);
        break;
    }
    case 3: { // an item chosen (or none), with any notification
        const int id = pick(in, combosOf(current));
        const int items = control(&pages[current], id).items;
        const int index = in.byte() % (items + 1) - 1;
        comboChosen(current, id, index, in.take<std::uint16_t>());
        break;
    }
    case 4: { // any other notification of an edit field does nothing
        const int id = pick(in, editsOf(current));
        int notification = in.take<std::uint16_t>();
        if (notification == EDIT_LOST_FOCUS)
            ++notification;
        const ParameterSet before = requestedParameters;
        pageCommand(static_cast<ParameterPage>(current), opsOf(current), id, notification);
        checkOnlyChanged(before, 0);
        break;
    }
    case 5: { // a control the page does not have does nothing
        int id = in.take<std::int16_t>();
        if (in.byte() & 1)
            id = ALL_CONTROLS[static_cast<unsigned>(id) % (sizeof ALL_CONTROLS / sizeof ALL_CONTROLS[0])];
        if (onPage(current, id))
            break;
        const ParameterSet before = requestedParameters;
        pageCommand(static_cast<ParameterPage>(current), opsOf(current), id, in.take<std::uint16_t>());
        checkOnlyChanged(before, 0);
        break;
    }
    case 6: // OK: every shown page applies, in sheet order
        leavePage(opsOf(current));
        for (int page = 0; page < PARAMETER_PAGE_COUNT; ++page) {
            if (pages[page].shown)
                applyOne(page);
        }
        break;
    default: { // the device reports a field meanwhile
        const ParameterField &f = PARAMETER_FIELDS[in.byte() % PARAMETER_COUNT];
        deviceParameters.*f.member = in.take<std::uint16_t>();
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    resetCoreState();
    FuzzInput in(data, size);
    fuzzTimeText(in);

    in.bytes(&deviceParameters, sizeof deviceParameters);
    in.bytes(&requestedParameters, sizeof requestedParameters);
    resetPages();
    current = -1;
    for (int steps = 0; in.left() > 0 && steps < 64; ++steps)
        step(in);
    return 0;
}
