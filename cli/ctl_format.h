// k614ctl's output texts: the parameter listing, JSON, the log's CSV rows and timestamps, and set differences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "cli/line_record.h"
#include "params/parameter_layout.h"

// The unit text as a C string: up to its terminator, or all 32 bytes of a file without one.
inline constexpr std::size_t UNIT_STRING_SIZE = UNIT_TEXT_SIZE + 1;
void unitTextOf(const ParameterSet &set, char out[UNIT_STRING_SIZE]);

// A JSON string literal, quotes included: '"', '\\' and control characters
// escaped; bytes from 0x7F up read as Latin-1 and written as \u00XX, so the
// output is ASCII whatever the device's 8-bit characters are.
inline constexpr std::size_t JSON_UNIT_SIZE = (UNIT_STRING_SIZE - 1) * 6 + 3;
void jsonString(const char *text, char *out, std::size_t size);

// Text from a file or a device made safe for a terminal: a backslash doubled,
// control characters and bytes from 0x7F up as \xHH, so that no escape
// sequence reaches the terminal; the output is ASCII.
inline constexpr std::size_t LISTING_ESCAPE_SIZE = 4;
inline constexpr std::size_t LISTING_UNIT_SIZE = (UNIT_STRING_SIZE - 1) * LISTING_ESCAPE_SIZE + 1;
void listingString(const char *text, char *out, std::size_t size);

// Heads the listing's last section, present only when some value is outside
// its field's codes (one line per such field).
inline constexpr char OUT_OF_RANGE_TITLE[] = "Outside the device's codes (write refuses this file)";

// The report's listing as text: title, unit line (escaped), then each
// section's lines, column 1 before column 2, then the fields outside their codes.
bool writeListing(std::FILE *out, const ParameterSet &set);
// One object: the 23 fields by name in send order (numbers), then "unitText";
// then "outOfRange" (names, send order) only when some value is outside its field's codes.
// Room for the largest object: every field at 65535 and out of range, every
// character of the unit text escaped.
inline constexpr std::size_t PARAMETERS_JSON_SIZE = 2048;
void formatParametersJson(const ParameterSet &set, char *out, std::size_t size);
// The object and a line end.
bool writeJson(std::FILE *out, const ParameterSet &set);

// "YYYY-MM-DDTHH:MM:SS.mmmZ" (UTC).
inline constexpr std::size_t TIMESTAMP_SIZE = 25;
void formatUtcTimestamp(std::int64_t utcMs, char out[TIMESTAMP_SIZE]);

// The log's header line and one row, each ended by '\n'.
inline constexpr char CSV_HEADER[] = "time,measurement,maxPeak,minPeak,dpdtPeak,events\n";
inline constexpr std::size_t CSV_ROW_SIZE = TIMESTAMP_SIZE + 4 * 8 + ROW_EVENTS_MAX * 12 + 8;
void formatCsvRow(const char *timestamp, const LogRow &row, char *out, std::size_t size);

// One line per numeric field that differs ("name: a -> b", a value outside its
// field's codes marked "(outside 0..N)"), then the unit text when it differs;
// returns the number of lines.
int writeSetDifferences(std::FILE *out, const ParameterSet &a, const ParameterSet &b);
// The numeric fields only, as write's verify sees them: "name: wanted w, reported r".
int writeVerifyDifferences(std::FILE *out, const ParameterSet &wanted, const ParameterSet &reported);
