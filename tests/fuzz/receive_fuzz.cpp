// libFuzzer target: arbitrary byte blocks through receiveBytes.
//
// AddressSanitizer catches any access outside the records; the checks below
// catch writes that stay inside a record but outside unitText and the rings.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/code_dispatch.h"
#include "base/live_readings.h"
#include "base/settings.h"
#include "params/parameter_set.h"
#include "trend/trend_history.h"

static void check(bool ok)
{
    if (!ok)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static bool started = false;
    if (!started) {
        setSettingsDefaults();
        started = true;
    }
    // The first byte picks the roll mode and stop-at-alarm switch, the rest is
    // cut into blocks of varying size the way reads of different sizes would.
    if (size == 0)
        return 0;
    monitorSettings.rollMode = data[0] % 3;
    monitorSettings.stopAtAlarm = (data[0] >> 2) & 1;
    std::memset(deviceParameters.reserved, 0, sizeof deviceParameters.reserved);
    std::size_t pos = 1;
    std::size_t block = 1 + (data[0] >> 3);
    while (pos < size) {
        const std::size_t n = size - pos < block ? size - pos : block;
        receiveBytes(data + pos, static_cast<int>(n));
        pos += n;
    }
    check(receiveState.assembly.length >= 0 && receiveState.assembly.length < ASSEMBLY_SIZE);
    check(receiveState.unitTextIndex >= 0 && receiveState.unitTextIndex <= static_cast<int>(UNIT_TEXT_SIZE));
    check(trendHistory.sampleWritePos.load() < TREND_LENGTH);
    for (std::uint8_t b : deviceParameters.reserved)
        check(b == 0);
    check(std::memchr(deviceParameters.unitText, 0, UNIT_TEXT_SIZE) != nullptr);
    check(liveReadings.measurement >= -1 && liveReadings.measurement <= 199);
    check(liveReadings.dpdtPeak >= -1 && liveReadings.dpdtPeak <= 399);
    return 0;
}
