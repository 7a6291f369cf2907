// What the four parameter pages' rule files share: field, combo and edit-field helpers, and each page's steps.
//
// The page protocol (parameter_pages.cpp) hands each step to the page's own
// file: limit_pages.cpp, dpdt_page.cpp, setup_page.cpp; the helpers and the
// time texts are in page_entry.cpp.
#pragma once

#include <cstdint>

#include "link/device_code.h"
#include "params/parameter_pages.h"
#include "params/parameter_set.h"

using Field = std::uint16_t ParameterSet::*;

// Bounds of the number fields, in per cent, used by more than one page.
inline constexpr unsigned long SETPOINT_MIN = 5;
inline constexpr unsigned long SETPOINT_MAX = 99;

inline constexpr std::uint16_t LIMIT_OFF = 0;
inline constexpr std::uint16_t LIMIT_MIN = 1;
inline constexpr std::uint16_t ZERO_OFF = 0;
inline constexpr std::uint16_t RANGE_HUNDREDTHS = 0; // "100": 0.01 s; any other value counts as "1000"

// Combo boxes: the item index is the parameter value itself.
struct ComboItems {
    const char *const *texts;
    int count;
};

template <int N> constexpr ComboItems items(const char *const (&texts)[N])
{
    return {texts, N};
}

// The fields one Limit page edits.
struct LimitPage {
    Field mode, setpoint, tr, autoReset, hysteresis;
};
inline constexpr LimitPage LIMIT_PAGES[2] = {
    {&ParameterSet::limit1Mode, &ParameterSet::limit1Setpoint, &ParameterSet::limit1Tr,
     &ParameterSet::limit1AutoReset, &ParameterSet::limit1Hysteresis},
    {&ParameterSet::limit2Mode, &ParameterSet::limit2Setpoint, &ParameterSet::limit2Tr,
     &ParameterSet::limit2AutoReset, &ParameterSet::limit2Hysteresis},
};

// ---- fields, codes and controls (page_entry.cpp) ----

std::uint16_t requested(Field f);
void setRequested(Field f, unsigned long value);
DeviceCode codeBase(Field f);
void queueField(Field f);
// The reader thread may be storing the device's field meanwhile: read it once, whole.
void queueIfChanged(Field f);
void fillCombo(const PageOps &ops, int control, ComboItems list);
// A value outside the items leaves the combo box without a selection.
void selectValue(const PageOps &ops, int control, Field f);
// The new selection, or -1 when there is none or it equals the stored value.
int newSelection(const PageOps &ops, int control, Field f);
void showTime(const PageOps &ops, int control, Field f);
// Reads a number field and stores it when it is within its bounds.
bool takeNumber(const PageOps &ops, int control, Field f, unsigned long low, unsigned long high);
bool takeTime(const PageOps &ops, int control, Field f);
// At Apply an edit field is read again; only a valid entry is stored and compared.
void applyNumber(const PageOps &ops, int control, Field f, unsigned long low, unsigned long high);
void applyTime(const PageOps &ops, int control, Field f);

// ---- Limit pages (limit_pages.cpp) ----

// The Limit page's fields, or nullptr for the other pages.
const LimitPage *limitPage(ParameterPage page);
void initLimit(const PageOps &ops);
void activateLimit(const PageOps &ops, const LimitPage &p);
void limitCommand(const PageOps &ops, const LimitPage &p, int control);
void limitFieldLeft(const PageOps &ops, const LimitPage &p, int control);
void applyLimit(const PageOps &ops, const LimitPage &p);

// ---- dPdt page (dpdt_page.cpp) ----

void initDpdt(const PageOps &ops);
void activateDpdt(const PageOps &ops);
void dpdtCommand(const PageOps &ops, int control);
void dpdtFieldLeft(const PageOps &ops, int control);
void applyDpdt(const PageOps &ops);

// ---- Setup page (setup_page.cpp) ----

void initSetup(const PageOps &ops);
void activateSetup(const PageOps &ops);
void setupCommand(const PageOps &ops, int control);
void setupFieldLeft(const PageOps &ops, int control);
void applySetup(const PageOps &ops);
