// The pages' shared entry helpers: requested fields and their codes, combo boxes, number and time fields, time texts.
#include "params/page_rules.h"

#include <cstdio>
#include <cstdlib>

#include "link/shared_field.h"
#include "link/transmit.h"

std::uint16_t requested(Field f)
{
    return requestedParameters.*f;
}

void setRequested(Field f, unsigned long value)
{
    requestedParameters.*f = static_cast<std::uint16_t>(value);
}

DeviceCode codeBase(Field f)
{
    for (const ParameterField &p : PARAMETER_FIELDS) {
        if (p.member == f)
            return p.base;
    }
    return 0; // every field a page edits is in the code map
}

void queueField(Field f)
{
    queueCode(codeBase(f), requested(f));
}

void queueIfChanged(Field f)
{
    if (requested(f) != sharedLoad(deviceParameters.*f))
        queueField(f);
}

void fillCombo(const PageOps &ops, int control, ComboItems list)
{
    for (int i = 0; i < list.count; ++i)
        ops.addItem(ops.page, control, i, list.texts[i]);
}

void selectValue(const PageOps &ops, int control, Field f)
{
    ops.select(ops.page, control, requested(f));
}

int newSelection(const PageOps &ops, int control, Field f)
{
    const int s = ops.selection(ops.page, control);
    return s < 0 || s == requested(f) ? -1 : s;
}

void showTime(const PageOps &ops, int control, Field f)
{
    char text[TIME_TEXT_SIZE];
    formatTimeText(requested(f), text, sizeof text);
    ops.showText(ops.page, control, text);
}

// Whole values: "65541" is 65541 and out of bounds, never its low 16 bits.
static bool readNumberWithin(const PageOps &ops, int control, unsigned long low, unsigned long high,
                             unsigned long *value)
{
    *value = ops.readNumber(ops.page, control);
    return *value >= low && *value <= high;
}

static bool readTime(const PageOps &ops, int control, unsigned long *value)
{
    char text[TIME_TEXT_READ_SIZE] = {};
    int length = ops.readText(ops.page, control, text, sizeof text);
    if (length < 0)
        length = 0;
    if (length > TIME_TEXT_READ_SIZE - 1)
        length = TIME_TEXT_READ_SIZE - 1;
    const int t = parseTimeText(text, length);
    if (t < 0 || t > TIME_VALUE_MAX)
        return false;
    *value = static_cast<unsigned long>(t);
    return true;
}

bool takeNumber(const PageOps &ops, int control, Field f, unsigned long low, unsigned long high)
{
    unsigned long v;
    if (!readNumberWithin(ops, control, low, high, &v))
        return false;
    setRequested(f, v);
    return true;
}

bool takeTime(const PageOps &ops, int control, Field f)
{
    unsigned long t;
    if (!readTime(ops, control, &t))
        return false;
    setRequested(f, t);
    return true;
}

void applyNumber(const PageOps &ops, int control, Field f, unsigned long low, unsigned long high)
{
    if (takeNumber(ops, control, f, low, high))
        queueIfChanged(f);
}

void applyTime(const PageOps &ops, int control, Field f)
{
    if (takeTime(ops, control, f))
        queueIfChanged(f);
}

// ---- time values ----

static bool hundredths()
{
    return requestedParameters.timerRange == RANGE_HUNDREDTHS;
}

int parseTimeText(const char *text, int length)
{
    const int decimals = hundredths() ? 2 : 1;
    int n = 0;
    while (n < length && text[n] != '\0')
        ++n;
    if (n == 0)
        return 0;
    int sep = 0;
    while (sep < n && text[sep] != '.' && text[sep] != ',')
        ++sep;
    // Decided by the number of characters alone: "005" in two-decimal mode is the largest time too.
    if (sep > 4 - decimals)
        return TIME_VALUE_MAX;
    // The whole part, then exactly `decimals` fraction characters, padded with 0; no rounding.
    char digits[8];
    int d = 0;
    for (int i = 0; i < sep; ++i)
        digits[d++] = text[i];
    for (int i = 0; i < decimals; ++i) {
        const int at = sep + 1 + i;
        digits[d++] = at < n ? text[at] : '0';
    }
    digits[d] = '\0';
    return std::atoi(digits);
}

void formatTimeText(unsigned value, char *out, std::size_t size)
{
    if (hundredths())
        std::snprintf(out, size, "%u.%02u", value / 100, value % 100);
    else
        std::snprintf(out, size, "%u.%u", value / 10, value % 10);
}
