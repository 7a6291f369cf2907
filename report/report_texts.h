// The printed report's texts and their places: header lines, listing titles and the 22 parameter lines.
//
// Each text is made from the values it prints. Positions are logical units
// of the report page (y downward); every listing text is drawn bottom-left
// aligned, so its y is the bottom of its line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "params/parameter_layout.h"

struct ReportPoint {
    int x, y;
};

// ---- reportFont: one fixed-pitch face in three variants, made for each use ----

// As the font mapper receives it; the mapper picks a fixed-pitch modern face for it.
inline constexpr char REPORT_FONT_FACE[] = "CourierNew";

struct ReportFontVariant {
    int height; // logical units
    int weight;
};
inline constexpr ReportFontVariant REPORT_FONT_TITLE = {15, 700};
inline constexpr ReportFontVariant REPORT_FONT_SECTION = {10, 700};
inline constexpr ReportFontVariant REPORT_FONT_BODY = {10, 400};

// ---- header (fixed places, top-left aligned) ----

inline constexpr ReportPoint REPORT_UNIT_AT = {40, 35};  // title font
inline constexpr ReportPoint REPORT_DATE_AT = {40, 65};  // body font
inline constexpr ReportPoint REPORT_PEAKS_AT = {40, 85}; // body font

// Room for the longest header line: the date line with two 64-character parts.
inline constexpr std::size_t REPORT_TEXT_SIZE = 160;
// What GetDateFormatA and GetTimeFormatA may write, terminator included.
inline constexpr int REPORT_DATE_PART_SIZE = 64;

// "Unit: " and the unit text with one more blank between them.
void formatReportUnitLine(const char *unitText, char *out, std::size_t size);
// "Date: <date>, <time>".
void formatReportDateLine(const char *date, const char *time, char *out, std::size_t size);
// The plain forms a part takes when the system cannot format it (a user's
// long-date format whose result does not fit REPORT_DATE_PART_SIZE): "2026-12-07", "16:05".
void formatPlainDate(unsigned year, unsigned month, unsigned day, char *out, std::size_t size);
void formatPlainTime(unsigned hour, unsigned minute, char *out, std::size_t size);
// The peaks as LiveReadings holds them (-1: not reported); the dPdt pair only
// while the dPdt function is on.
void formatReportPeakLine(unsigned dpdtMode, std::int32_t maxPeak, std::int32_t minPeak, std::int32_t dpdtPeak,
                          char *out, std::size_t size);

// ---- parameter listing (origin given by the page layout) ----

inline constexpr int LISTING_COLUMN1_DX = 20;
inline constexpr int LISTING_COLUMN2_DX = 160;
inline constexpr int LISTING_SECTION_COUNT = 7;
inline constexpr int LISTING_LINE_COUNT = 22;
// A 13-character label and the longest value text.
inline constexpr std::size_t LISTING_TEXT_SIZE = 48;

struct ReportLabel {
    ReportPoint at;
    const char *text;
};

struct ReportLine {
    ReportPoint at;
    char text[LISTING_TEXT_SIZE];
};

// "Parameters" (title font).
ReportLabel listingTitle(ReportPoint origin);
// "Limit 1", "Limit 2", "dPdt", "Setup", "Iout", "Zoom", "Output" (section font).
void listingSections(ReportPoint origin, ReportLabel out[LISTING_SECTION_COUNT]);
// The body lines, column 1 top to bottom, then column 2. A value that its
// table has no text for prints as its number.
void listingLines(const ParameterSet &p, ReportPoint origin, ReportLine out[LISTING_LINE_COUNT]);
