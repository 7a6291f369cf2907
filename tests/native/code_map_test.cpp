// The parameter code map held against the device's own table: each received range lands at its
// field's byte offset and nowhere else, and a whole set goes out base + value in the device's order.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "code_map_table.h"
#include "test_state.h"

namespace {

constexpr std::uint8_t FILL = 0xA5; // no field value the tests send reads as 0xA5A5

class CodeMap : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }

    // Dispatches one code into a block filled with FILL and returns the block afterwards.
    static std::vector<std::uint8_t> blockAfter(DeviceCode code)
    {
        std::memset(&deviceParameters, FILL, sizeof deviceParameters);
        dispatchCode(code);
        const auto *b = reinterpret_cast<const std::uint8_t *>(&deviceParameters);
        return std::vector<std::uint8_t>(b, b + sizeof deviceParameters);
    }
};

TEST_F(CodeMap, EveryReceivedRangeLandsAtItsOffsetOnly)
{
    ASSERT_EQ(sizeof deviceParameters, 88u);
    for (const CodeMapEntry &e : CODE_MAP) {
        for (unsigned code : {unsigned(e.base), unsigned(e.last)}) {
            std::vector<std::uint8_t> expected(88, FILL);
            setBlockField(expected.data(), e.offset, static_cast<std::uint16_t>(code - e.base));
            EXPECT_EQ(blockAfter(static_cast<DeviceCode>(code)), expected) << e.name << " code " << code;
        }
        const unsigned pastRange = e.last + 1u;
        EXPECT_EQ(blockField(blockAfter(static_cast<DeviceCode>(pastRange)).data(), e.offset), 0xA5A5)
            << e.name << " took code " << pastRange;
    }
}

TEST_F(CodeMap, WholeSetIsQueuedBasePlusValueInSendOrder)
{
    // One field at a time carries a value, the others 0: a base or a field out
    // of place shows up in the slot it moved to.
    for (const CodeMapEntry &e : CODE_MAP) {
        resetCoreState();
        const std::uint16_t value = static_cast<std::uint16_t>(e.last - e.base);
        setBlockField(&deviceParameters, e.offset, value);
        ASSERT_TRUE(queueParameterSet()) << e.name;
        const std::vector<DeviceCode> queued(codeQueue.codes, codeQueue.codes + codeQueueCount());
        std::vector<DeviceCode> expected;
        for (std::uint16_t base : SEND_ORDER)
            expected.push_back(static_cast<DeviceCode>(base == e.base ? base + value : base));
        EXPECT_EQ(queued, expected) << e.name;
    }
}

} // namespace
