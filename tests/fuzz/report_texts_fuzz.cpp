// libFuzzer target: every report and panel text over any parameter set, readings, roll mode, date and time.
//
// Each text must come out terminated, whole in the buffer the program gives
// it, and cut (still terminated) in any smaller one; the buffers are exactly
// their size on the heap, so ASan reports a write past them.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "app/panel_text.h"
#include "fuzz_input.h"
#include "params/parameter_texts.h"
#include "report/printed_plot.h"
#include "report/report_layout.h"
#include "report/report_texts.h"
#include "tests/native/test_state.h"
#include "trend/trend_geometry.h"

namespace {

struct TextTable {
    const char *const *texts;
    int count;
};
template <int N> TextTable texts(const char *const (&t)[N])
{
    return {t, N};
}

// Calls format(out, size) with a buffer of exactly `size` bytes; returns the text.
template <typename Format> std::string formatted(std::size_t size, Format format)
{
    char *out = new char[size];
    std::memset(out, 0x7F, size);
    format(out, size);
    check(std::memchr(out, 0, size) != nullptr);
    std::string text(out);
    delete[] out;
    return text;
}

// In `cut` bytes the text of `full` bytes, cut to fit and terminated.
template <typename Format> std::string checkCut(std::size_t full, std::size_t cut, Format format)
{
    const std::string whole = formatted(full, format);
    check(formatted(cut, format) == whole.substr(0, cut - 1));
    return whole;
}

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A listing value: one of the value texts, "--", or a number as "<n>", "<n>%" or "<n>.<d>s".
bool listingValue(const char *value)
{
    for (TextTable t : {texts(LIMIT_MODE_TEXTS), texts(OFF_ON_TEXTS), texts(DPDT_MODE_TEXTS), texts(IOUT_TEXTS),
                        texts(IOUT_POLARITY_TEXTS), texts(FILTER_TEXTS), texts(OUTPUT_POLARITY_TEXTS),
                        texts(ZERO_TEXTS)}) {
        for (int i = 0; i < t.count; ++i) {
            if (std::strcmp(value, t.texts[i]) == 0)
                return true;
        }
    }
    if (std::strcmp(value, "--") == 0)
        return true;
    const char *c = value;
    auto digits = [&c] {
        const char *start = c;
        while (*c >= '0' && *c <= '9')
            ++c;
        return c > start;
    };
    if (!digits())
        return false;
    if (*c == '.') {
        ++c;
        return digits() && std::strcmp(c, "s") == 0;
    }
    return *c == 0 || std::strcmp(c, "%") == 0;
}

// A GetDateFormatA / GetTimeFormatA result: up to 63 characters, terminated.
void takePart(FuzzInput &in, char (&part)[REPORT_DATE_PART_SIZE])
{
    const int length = in.byte() % REPORT_DATE_PART_SIZE;
    in.bytes(part, static_cast<std::size_t>(length));
    part[length] = '\0';
}

void headerTexts(FuzzInput &in, std::size_t cut)
{
    char unit[UNIT_TEXT_SIZE + 1];
    copyUnitText(unit);
    auto unitLine = [&](char *out, std::size_t size) { formatReportUnitLine(unit, out, size); };
    check(checkCut(REPORT_TEXT_SIZE, cut, unitLine) == std::string("Unit:  ") + unit);

    char date[REPORT_DATE_PART_SIZE];
    char time[REPORT_DATE_PART_SIZE];
    takePart(in, date);
    takePart(in, time);
    auto dateLine = [&](char *out, std::size_t size) { formatReportDateLine(date, time, out, size); };
    check(checkCut(REPORT_TEXT_SIZE, cut, dateLine) == std::string("Date: ") + date + ", " + time);

    auto peakLine = [&](char *out, std::size_t size) {
        formatReportPeakLine(deviceParameters.dpdtMode, liveReadings.maxPeak, liveReadings.minPeak,
                             liveReadings.dpdtPeak, out, size);
    };
    // Whole: from the label to the last number.
    const std::string peaks = checkCut(REPORT_TEXT_SIZE, cut, peakLine);
    const bool dpdt = deviceParameters.dpdtMode != 0;
    const std::string last = std::to_string(dpdt ? liveReadings.dpdtPeak : liveReadings.minPeak);
    check(startsWith(peaks, ("Peak values:  Max Peak [kW%]: " + std::to_string(liveReadings.maxPeak)).c_str()));
    check(peaks.size() > last.size() && peaks.compare(peaks.size() - last.size(), last.size(), last) == 0);
    check((peaks.find("dPdt") != std::string::npos) == dpdt);
}

void listingTexts(const ParameterSet &p, ReportPoint origin)
{
    const ReportLabel title = listingTitle(origin);
    check(title.text != nullptr && std::strlen(title.text) > 0);
    ReportLabel sections[LISTING_SECTION_COUNT];
    listingSections(origin, sections);
    for (const ReportLabel &s : sections)
        check(s.text != nullptr && std::strlen(s.text) > 0);

    ReportLine *lines = new ReportLine[LISTING_LINE_COUNT];
    std::memset(static_cast<void *>(lines), 0x7F, sizeof(ReportLine) * LISTING_LINE_COUNT);
    listingLines(p, origin, lines);
    for (int i = 0; i < LISTING_LINE_COUNT; ++i) {
        const char *text = lines[i].text;
        check(std::memchr(text, 0, LISTING_TEXT_SIZE) != nullptr);
        // A 13-character label ending ": ", then a value that fit whole.
        const std::size_t length = std::strlen(text);
        check(length > 13 && length < LISTING_TEXT_SIZE - 1);
        check(text[11] == ':' && text[12] == ' ');
        check(listingValue(text + 13));
        check(lines[i].at.x == origin.x + LISTING_COLUMN1_DX || lines[i].at.x == origin.x + LISTING_COLUMN2_DX);
    }
    delete[] lines;

    const PrintedLimitLines limits = printedLimitLines(p);
    check(limits.count >= 0 && limits.count <= 2);
    for (int i = 0; i < limits.count; ++i)
        check(limits.dy[i] <= 0 && limits.dy[i] >= -PRINTED_UNITS_PER_PERCENT * 65535);
}

void panelTexts()
{
    PanelTexts *texts = new PanelTexts;
    std::memset(static_cast<void *>(texts), 0x7F, sizeof *texts);
    readPanelTexts(texts);
    for (const char *t : {texts->measurement, texts->maxPeak, texts->minPeak, texts->dpdtPeak})
        check(std::strlen(t) < PANEL_VALUE_SIZE - 1);
    check(std::strlen(texts->unitLine) < UNIT_LINE_SIZE - 1);
    check(startsWith(texts->unitLine, "Unit: "));
    delete texts;

    // The header strip holds "Unit: ", 32 characters and 25 blanks exactly.
    char *strip = new char[HEADER_STRIP_LINE_SIZE];
    readHeaderStripLine(strip);
    char unit[UNIT_TEXT_SIZE + 1];
    copyUnitText(unit);
    const bool shown = unit[0] != 0 && liveReadings.measurement != -1;
    const std::size_t expected = shown ? 6 + std::strlen(unit) + 25 : 6 + 5 + 27;
    check(std::strlen(strip) == expected);
    delete[] strip;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    resetCoreState();
    FuzzInput in(data, size);
    ParameterSet p;
    in.bytes(&p, sizeof p);
    replaceDeviceParameters(p); // as the device or a .614 file left it
    liveReadings.measurement = in.take<std::int32_t>();
    liveReadings.maxPeak = in.take<std::int32_t>();
    liveReadings.minPeak = in.take<std::int32_t>();
    liveReadings.dpdtPeak = in.take<std::int32_t>();
    monitorSettings.rollMode = in.take<std::uint16_t>();
    const int horzRes = in.take<std::int32_t>();
    const int vertRes = in.take<std::int32_t>();
    const std::size_t cut = 1 + in.byte() % REPORT_TEXT_SIZE;

    headerTexts(in, cut);
    const ReportLayout layout = reportLayout(horzRes, vertRes);
    check(layout.landscape == !(horzRes < vertRes));
    listingTexts(p, layout.listingOrigin);

    // The time-axis labels of the roll mode, whatever the record holds.
    const int mode = currentRollMode();
    for (const auto &labels : timeAxisLabels)
        check(std::memchr(labels[mode], 0, sizeof labels[mode]) != nullptr);

    panelTexts();
    return 0;
}
