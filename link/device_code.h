// DeviceCode and the command codes the program sends to the K614.
#pragma once

#include <cstdint>

// One value carried by one frame in either direction; its numeric range alone
// says what it means.
using DeviceCode = std::uint16_t;

// Commands. They skip the code queue and go straight into the byte ring.
inline constexpr DeviceCode CMD_REQUEST_UPLOAD = 65050;
inline constexpr DeviceCode CMD_SPACE_KEY = 65051;
inline constexpr DeviceCode CMD_RESET_MAX_PEAK = 65053;
inline constexpr DeviceCode CMD_RESET_MIN_PEAK = 65054;
inline constexpr DeviceCode CMD_RESET_DPDT_PEAK = 65055;

// Codes the device sends unasked besides measurements and peaks.
inline constexpr DeviceCode STATUS_DVDT = 65052;
// One character of the unit text: UNIT_CHAR_BASE + character, modulo 256.
inline constexpr DeviceCode UNIT_CHAR_BASE = 65200;
inline constexpr DeviceCode UNIT_CHAR_LAST = 65499;
inline constexpr DeviceCode UNIT_TEXT_END = 65213;

// Ranges of received codes.
inline constexpr DeviceCode MEASUREMENT_LAST = 199;
inline constexpr DeviceCode MIN_PEAK_BASE = 200;
inline constexpr DeviceCode MAX_PEAK_BASE = 400;
inline constexpr DeviceCode DPDT_PEAK_BASE = 600;
inline constexpr DeviceCode DPDT_PEAK_LAST = 999;
// Base + value of one parameter field (params/ maps the ranges to the fields).
inline constexpr DeviceCode PARAMETER_CODE_FIRST = 3000;
inline constexpr DeviceCode PARAMETER_CODE_LAST = 64999;
// The device opens its answer to an upload request with the first field's
// code (limit1Mode, 3000..3009).
inline constexpr DeviceCode UPLOAD_ANSWER_BASE = 3000;
inline constexpr DeviceCode ALARM_LOW_FIRST = 65014;
inline constexpr DeviceCode ALARM_LOW_LAST = 65024;
inline constexpr DeviceCode ALARM_HIGH_FIRST = 65039;
inline constexpr DeviceCode ALARM_HIGH_LAST = 65049;
