// Parameter set: file layout, the code map against the received ranges, snapshot, verify, send order.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_state.h"

namespace {

class Parameters : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }
};

TEST_F(Parameters, BlockIsTheFileImage)
{
    deviceParameters.limit1Mode = 2;
    deviceParameters.limit1Setpoint = 80;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&deviceParameters);
    EXPECT_EQ(bytes[0], 0x02);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x50);
    EXPECT_EQ(bytes[3], 0x00);
}

TEST_F(Parameters, CodeMapCoversThe3000To64999RangesWithoutGapsOrOverlaps)
{
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const ParameterField *f = parameterFieldForCode(static_cast<DeviceCode>(code));
        if (code < 3000 || code > 64999) {
            ASSERT_EQ(f, nullptr) << code;
            continue;
        }
        ASSERT_NE(f, nullptr) << code;
        int owners = 0;
        for (const ParameterField &g : PARAMETER_FIELDS)
            owners += code >= g.base && code <= g.lastCode;
        ASSERT_EQ(owners, 1) << code;
    }
    // Every field of the block except unitText and reserved appears once.
    std::vector<int> offsets;
    for (const ParameterField &f : PARAMETER_FIELDS) {
        ParameterSet probe{};
        std::uint16_t *member = &(probe.*f.member);
        offsets.push_back(static_cast<int>(reinterpret_cast<std::uint8_t *>(member) -
                                           reinterpret_cast<std::uint8_t *>(&probe)));
    }
    std::sort(offsets.begin(), offsets.end());
    EXPECT_EQ(std::adjacent_find(offsets.begin(), offsets.end()), offsets.end());
    EXPECT_EQ(offsets.size(), 23u);
}

TEST_F(Parameters, WholeSetIsQueuedInTheDeviceOrder)
{
    deviceParameters.limit1Mode = 1;
    deviceParameters.limit2Tr = 34999;
    deviceParameters.p1Max = 100;
    ASSERT_TRUE(queueParameterSet());
    std::vector<DeviceCode> queued(codeQueue.codes, codeQueue.codes + codeQueueCount());
    const std::vector<DeviceCode> expected = {3001, 3010, 3020, 3030, 3040, 3050, 3060,  3070,
                                              3075, 3065, 3080, 3085, 3100, 3200, 3300,  3400,
                                              3500, 3600, 3700, 3900, 10000, 20000, 64999};
    EXPECT_EQ(queued, expected);
}

TEST_F(Parameters, SnapshotAndVerifyLookOnlyAtTheNumericFields)
{
    deviceParameters.zero = 2;
    deviceParameters.ts = 1234;
    std::strcpy(deviceParameters.unitText, "MW");
    deviceParameters.reserved[3] = 7;
    snapshotParameters();
    EXPECT_EQ(requestedParameters.zero, 2);
    EXPECT_EQ(requestedParameters.ts, 1234);
    EXPECT_EQ(requestedParameters.unitText[0], 0);
    EXPECT_EQ(requestedParameters.reserved[3], 0);
    EXPECT_TRUE(verifyParameters());

    std::strcpy(deviceParameters.unitText, "kW");
    EXPECT_TRUE(verifyParameters());
    requestedParameters.zero = 1;
    EXPECT_FALSE(verifyParameters());
}

TEST_F(Parameters, WholeCopiesKeepUnitTextAndReservedBytes)
{
    ParameterSet in{};
    in.dvdt = 12;
    std::strcpy(in.unitText, "MW");
    in.reserved[9] = 0xEE;
    replaceDeviceParameters(in);
    ParameterSet out{};
    copyDeviceParameters(&out);
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);
    EXPECT_TRUE(unitTextKnown());
    clearUnitText();
    EXPECT_FALSE(unitTextKnown());
}

TEST_F(Parameters, UnitTextCopyIsAlwaysTerminated)
{
    std::memset(deviceParameters.unitText, 'Z', UNIT_TEXT_SIZE);
    char text[UNIT_TEXT_SIZE + 1];
    copyUnitText(text);
    EXPECT_EQ(std::strlen(text), UNIT_TEXT_SIZE);
}

} // namespace
