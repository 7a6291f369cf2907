// Where the main window's frames, labels and values sit, in client pixels (text points are the
// text's bottom edge at its alignment side).
#pragma once

#include <cstdint>

// RGB(210, 210, 210): frames, text background and the erased trend cursor column.
inline constexpr std::uint32_t PANEL_COLOUR = 0x00D2D2D2;

struct PanelRect {
    int left, top, right, bottom;
};

inline constexpr PanelRect HEADER_FRAME = {25, 15, 935, 50};
inline constexpr PanelRect VALUE_FRAME = {25, 60, 335, 325};
inline constexpr PanelRect TREND_FRAME = {345, 60, 935, 325};
// Invalidated on every 20 ms tick; the same rectangle as the trend frame.
inline constexpr PanelRect TREND_UPDATE_RECT = {345, 60, 935, 325};

struct PanelPoint {
    int x, y;
};

// Labels: labelFont, right/bottom aligned.
struct PanelLabel {
    const char *text;
    PanelPoint at;
};
inline constexpr PanelLabel PANEL_LABELS[4] = {
    {"Max Peak [kW%]:", {180, 100}},
    {"Measmnt. [kW%]:", {180, 145}},
    {"Min Peak [kW%]:", {180, 190}},
    {"dPdt Peak [kW%]:", {180, 270}},
};

inline constexpr PanelPoint UNIT_LINE_AT = {35, 45};      // valueFont, left/bottom
inline constexpr PanelPoint MAX_PEAK_AT = {250, 103};     // valueFont, right/bottom
inline constexpr PanelPoint MEASUREMENT_AT = {250, 153};  // measurementFont, right/bottom
inline constexpr PanelPoint MIN_PEAK_AT = {250, 193};     // valueFont, right/bottom
inline constexpr PanelPoint DPDT_PEAK_AT = {250, 273};    // valueFont, right/bottom
inline constexpr PanelPoint DVDT_INDICATOR_AT = {260, 300}; // labelFont, right/bottom

// The "Reset" buttons: x 260, 60 x 20, in id order 10, 11, 12.
inline constexpr int RESET_BUTTON_COUNT = 3;
inline constexpr int RESET_BUTTON_X = 260;
inline constexpr int RESET_BUTTON_WIDTH = 60;
inline constexpr int RESET_BUTTON_HEIGHT = 20;
inline constexpr int RESET_BUTTON_Y[RESET_BUTTON_COUNT] = {78, 168, 248};
