// k614ctl's output texts: listing from the report's own texts, JSON, CSV rows, UTC timestamps, differences.
#include "cli/ctl_format.h"

#include <cstring>

#include "report/report_texts.h"

void unitTextOf(const ParameterSet &set, char out[UNIT_STRING_SIZE])
{
    std::size_t n = 0;
    while (n < UNIT_TEXT_SIZE && set.unitText[n] != 0) {
        out[n] = set.unitText[n];
        ++n;
    }
    out[n] = 0;
}

static constexpr unsigned char JSON_CONTROL_END = 0x20;
static constexpr unsigned char ASCII_DELETE = 0x7F;

void listingString(const char *text, char *out, std::size_t size)
{
    std::size_t n = 0;
    for (const char *p = text; *p && n + LISTING_ESCAPE_SIZE < size; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\\')
            n += static_cast<std::size_t>(std::snprintf(out + n, size - n, "\\\\"));
        else if (c < JSON_CONTROL_END || c >= ASCII_DELETE)
            n += static_cast<std::size_t>(std::snprintf(out + n, size - n, "\\x%02x", c));
        else
            out[n++] = static_cast<char>(c);
    }
    out[n] = 0;
}

void jsonString(const char *text, char *out, std::size_t size)
{
    std::size_t n = 0;
    // Stops short rather than writing half an escape: room for the longest
    // escape, the closing quote and the terminator.
    auto put = [&](const char *s) {
        const std::size_t len = std::strlen(s);
        if (n + len + 2 > size)
            return false;
        std::memcpy(out + n, s, len);
        n += len;
        return true;
    };
    put("\"");
    for (const char *p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        char piece[8];
        if (c == '"')
            std::strcpy(piece, "\\\"");
        else if (c == '\\')
            std::strcpy(piece, "\\\\");
        else if (c == '\n')
            std::strcpy(piece, "\\n");
        else if (c == '\r')
            std::strcpy(piece, "\\r");
        else if (c == '\t')
            std::strcpy(piece, "\\t");
        else if (c < JSON_CONTROL_END || c >= ASCII_DELETE)
            std::snprintf(piece, sizeof piece, "\\u%04x", c);
        else {
            piece[0] = static_cast<char>(c);
            piece[1] = 0;
        }
        if (!put(piece))
            break;
    }
    out[n++] = '"';
    out[n] = 0;
}

// ---- listing ----

static constexpr ReportPoint LISTING_ORIGIN = {0, 0};
static constexpr int LISTING_ITEM_COUNT = LISTING_SECTION_COUNT + LISTING_LINE_COUNT;

struct ListingItem {
    ReportPoint at;
    const char *text;
    bool section;
};

// Column 1 top to bottom, then column 2: the order a reader of the page takes.
static bool listing_before(const ListingItem &a, const ListingItem &b)
{
    return a.at.x != b.at.x ? a.at.x < b.at.x : a.at.y < b.at.y;
}

bool writeListing(std::FILE *out, const ParameterSet &set)
{
    ReportLabel sections[LISTING_SECTION_COUNT];
    ReportLine lines[LISTING_LINE_COUNT];
    listingSections(LISTING_ORIGIN, sections);
    listingLines(set, LISTING_ORIGIN, lines);
    ListingItem items[LISTING_ITEM_COUNT];
    int count = 0;
    for (const ReportLabel &s : sections)
        items[count++] = {s.at, s.text, true};
    for (const ReportLine &l : lines)
        items[count++] = {l.at, l.text, false};
    // Insertion sort: 29 items, and sections stay ahead of the lines below them.
    for (int i = 1; i < count; ++i) {
        const ListingItem item = items[i];
        int j = i;
        for (; j > 0 && listing_before(item, items[j - 1]); --j)
            items[j] = items[j - 1];
        items[j] = item;
    }

    char unit[UNIT_STRING_SIZE];
    unitTextOf(set, unit);
    char shown[LISTING_UNIT_SIZE];
    listingString(unit, shown, sizeof shown);
    char unitLine[REPORT_TEXT_SIZE];
    formatReportUnitLine(shown, unitLine, sizeof unitLine);
    std::fprintf(out, "%s\n%s\n", listingTitle(LISTING_ORIGIN).text, unitLine);
    for (int i = 0; i < count; ++i)
        std::fprintf(out, items[i].section ? "\n%s\n" : "  %s\n", items[i].text);
    if (firstFieldOutOfRange(set)) {
        std::fprintf(out, "\n%s\n", OUT_OF_RANGE_TITLE);
        for (const ParameterField &f : PARAMETER_FIELDS) {
            if (set.*f.member > fieldValueLimit(f)) {
                char range[FIELD_RANGE_TEXT_SIZE];
                formatFieldOutOfRange(f, set, range, sizeof range);
                std::fprintf(out, "  %s\n", range);
            }
        }
    }
    return std::ferror(out) == 0;
}

void formatParametersJson(const ParameterSet &set, char *out, std::size_t size)
{
    std::size_t n = 0;
    out[0] = '\0';
    auto append = [&](const char *text) {
        const int wrote = std::snprintf(out + n, size - n, "%s", text);
        if (wrote > 0)
            n += static_cast<std::size_t>(wrote) < size - n ? static_cast<std::size_t>(wrote) : size - n - 1;
    };
    append("{");
    for (const ParameterField &f : PARAMETER_FIELDS) {
        char field[64];
        std::snprintf(field, sizeof field, "\"%s\": %u, ", f.name, static_cast<unsigned>(set.*f.member));
        append(field);
    }
    char unit[UNIT_STRING_SIZE];
    unitTextOf(set, unit);
    char json[JSON_UNIT_SIZE];
    jsonString(unit, json, sizeof json);
    append("\"unitText\": ");
    append(json);
    // Only for a set that write would refuse, so that every other set's
    // object stays as it was.
    if (firstFieldOutOfRange(set)) {
        const char *separator = "";
        append(", \"outOfRange\": [");
        for (const ParameterField &f : PARAMETER_FIELDS) {
            if (set.*f.member > fieldValueLimit(f)) {
                append(separator);
                append("\"");
                append(f.name);
                append("\"");
                separator = ", ";
            }
        }
        append("]");
    }
    append("}");
}

bool writeJson(std::FILE *out, const ParameterSet &set)
{
    char json[PARAMETERS_JSON_SIZE];
    formatParametersJson(set, json, sizeof json);
    std::fprintf(out, "%s\n", json);
    return std::ferror(out) == 0;
}

// ---- log ----

static constexpr std::int64_t MS_PER_DAY = 86400000;

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
static void log_civilFromDays(std::int64_t days, int *year, int *month, int *day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0));
}

void formatUtcTimestamp(std::int64_t utcMs, char out[TIMESTAMP_SIZE])
{
    std::int64_t days = utcMs / MS_PER_DAY;
    std::int64_t inDay = utcMs % MS_PER_DAY;
    if (inDay < 0) {
        inDay += MS_PER_DAY;
        --days;
    }
    int year, month, day;
    log_civilFromDays(days, &year, &month, &day);
    // Reduced to their widths, so the text always fits (a year past 9999 wraps).
    const unsigned ms = static_cast<unsigned>(inDay % 1000);
    const unsigned s = static_cast<unsigned>(inDay / 1000);
    std::snprintf(out, TIMESTAMP_SIZE, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", static_cast<unsigned>(year) % 10000u,
                  static_cast<unsigned>(month) % 100u, static_cast<unsigned>(day) % 100u, s / 3600 % 100u,
                  s / 60 % 60, s % 60, ms);
}

static void csv_peak(std::int32_t peak, char *out, std::size_t size)
{
    if (peak == NOT_REPORTED)
        out[0] = 0;
    else
        std::snprintf(out, size, "%d", static_cast<int>(peak));
}

void formatCsvRow(const char *timestamp, const LogRow &row, char *out, std::size_t size)
{
    char maxPeak[12], minPeak[12], dpdtPeak[12];
    csv_peak(row.maxPeak, maxPeak, sizeof maxPeak);
    csv_peak(row.minPeak, minPeak, sizeof minPeak);
    csv_peak(row.dpdtPeak, dpdtPeak, sizeof dpdtPeak);
    int n = std::snprintf(out, size, "%s,%d,%s,%s,%s,", timestamp, static_cast<int>(row.measurement), maxPeak,
                          minPeak, dpdtPeak);
    // Events separated by ';' so that the column needs no quoting.
    for (int i = 0; i < row.eventCount && n > 0 && static_cast<std::size_t>(n) < size; ++i) {
        const DeviceCode code = row.events[i];
        n += std::snprintf(out + n, size - static_cast<std::size_t>(n), "%s%s%u", i ? ";" : "",
                           code == STATUS_DVDT ? "dvdt " : "alarm ", static_cast<unsigned>(code));
    }
    if (n > 0 && static_cast<std::size_t>(n) + 1 < size) {
        out[n] = '\n';
        out[n + 1] = 0;
    }
}

// ---- differences ----

// The value, and " (outside 0..N)" when write would refuse it.
static void diff_value(const ParameterField &f, const ParameterSet &set, char *out, std::size_t size)
{
    const unsigned value = set.*f.member;
    if (value > fieldValueLimit(f))
        std::snprintf(out, size, "%u (outside 0..%u)", value, fieldValueLimit(f));
    else
        std::snprintf(out, size, "%u", value);
}

int writeSetDifferences(std::FILE *out, const ParameterSet &a, const ParameterSet &b)
{
    int lines = 0;
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (a.*f.member != b.*f.member) {
            char valueA[FIELD_RANGE_TEXT_SIZE], valueB[FIELD_RANGE_TEXT_SIZE];
            diff_value(f, a, valueA, sizeof valueA);
            diff_value(f, b, valueB, sizeof valueB);
            std::fprintf(out, "%s: %s -> %s\n", f.name, valueA, valueB);
            ++lines;
        }
    }
    char unitA[UNIT_STRING_SIZE], unitB[UNIT_STRING_SIZE];
    unitTextOf(a, unitA);
    unitTextOf(b, unitB);
    if (std::strcmp(unitA, unitB) != 0) {
        char jsonA[JSON_UNIT_SIZE], jsonB[JSON_UNIT_SIZE];
        jsonString(unitA, jsonA, sizeof jsonA);
        jsonString(unitB, jsonB, sizeof jsonB);
        std::fprintf(out, "unitText: %s -> %s\n", jsonA, jsonB);
        ++lines;
    }
    return lines;
}

int writeVerifyDifferences(std::FILE *out, const ParameterSet &wanted, const ParameterSet &reported)
{
    int lines = 0;
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (wanted.*f.member != reported.*f.member) {
            std::fprintf(out, "%s: wanted %u, reported %u\n", f.name, static_cast<unsigned>(wanted.*f.member),
                         static_cast<unsigned>(reported.*f.member));
            ++lines;
        }
    }
    return lines;
}
