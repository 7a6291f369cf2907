// The simulated device against the device's own code map: each received code changes only its
// field's bytes, and the upload answer carries every field under its own base, in send order.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/device_model.h"
#include "tests/native/code_map_table.h"

namespace {

// Every field 1: the first and the last code of each range both change it.
ParameterSet allOnes()
{
    ParameterSet p;
    std::memset(&p, 0, sizeof p);
    for (const CodeMapEntry &e : CODE_MAP)
        setBlockField(&p, e.offset, 1);
    std::strcpy(p.unitText, "kW");
    return p;
}

std::vector<std::uint8_t> bytesOf(const ParameterSet &p)
{
    const auto *b = reinterpret_cast<const std::uint8_t *>(&p);
    return std::vector<std::uint8_t>(b, b + sizeof p);
}

} // namespace

TEST(DeviceCodeMap, EveryReceivedCodeChangesOnlyItsOffset)
{
    for (const CodeMapEntry &e : CODE_MAP) {
        for (unsigned code : {unsigned(e.base), unsigned(e.last)}) {
            DeviceModel m(allOnes());
            ParameterSet expected = allOnes();
            setBlockField(&expected, e.offset, static_cast<std::uint16_t>(code - e.base));
            EXPECT_TRUE(m.receive(static_cast<DeviceCode>(code))) << e.name << " code " << code;
            EXPECT_EQ(bytesOf(m.parameters()), bytesOf(expected)) << e.name << " code " << code;
        }
        DeviceModel m(allOnes());
        m.receive(static_cast<DeviceCode>(e.last + 1u));
        EXPECT_EQ(blockField(&m.parameters(), e.offset), 1) << e.name << " took code " << e.last + 1u;
    }
}

TEST(DeviceCodeMap, UploadAnswerCarriesEachFieldUnderItsBaseInSendOrder)
{
    // One field at a time differs (3 against 1 everywhere else).
    for (const CodeMapEntry &e : CODE_MAP) {
        ParameterSet p = allOnes();
        setBlockField(&p, e.offset, 3);
        const std::vector<DeviceCode> answer = uploadAnswer(p);
        ASSERT_GE(answer.size(), static_cast<std::size_t>(CODE_MAP_COUNT)) << e.name;
        std::vector<DeviceCode> expected;
        for (std::uint16_t base : SEND_ORDER)
            expected.push_back(static_cast<DeviceCode>(base + (base == e.base ? 3 : 1)));
        EXPECT_EQ(std::vector<DeviceCode>(answer.begin(), answer.begin() + CODE_MAP_COUNT), expected) << e.name;
    }
}
