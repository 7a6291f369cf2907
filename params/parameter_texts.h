// The texts of the parameter values, shown by the pages' combo boxes and the printed listing.
//
// In each table the index is the parameter value itself.
#pragma once

inline constexpr const char *LIMIT_MODE_TEXTS[] = {"Off", "Min.", "Max."};
inline constexpr const char *OFF_ON_TEXTS[] = {"Off", "On"};
inline constexpr const char *DPDT_MODE_TEXTS[] = {"Off", "+dPdt", "+/- dPdt"};
inline constexpr const char *IOUT_TEXTS[] = {"0-20mA", "4-20mA"};
inline constexpr const char *IOUT_POLARITY_TEXTS[] = {"Norm.", "Inv."};
inline constexpr const char *FILTER_TEXTS[] = {"None", "3s", "6s", "10s"};
inline constexpr const char *OUTPUT_POLARITY_TEXTS[] = {"n.inv", "inv"};
inline constexpr const char *ZERO_TEXTS[] = {"Off", "After Ts", "External"};
