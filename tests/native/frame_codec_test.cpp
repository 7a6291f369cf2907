// Frame codec: worked examples, every code through encode and decode, and malformed frames.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "link/frame_codec.h"

namespace {

std::array<std::uint8_t, FRAME_SIZE> encoded(DeviceCode code)
{
    std::array<std::uint8_t, FRAME_SIZE> f{};
    encodeFrame(code, f.data());
    return f;
}

using Bytes = std::array<std::uint8_t, FRAME_SIZE>;

TEST(FrameCodec, EncodesTheWorkedExamples)
{
    EXPECT_EQ(encoded(65050), (Bytes{0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D}));
    EXPECT_EQ(encoded(65053), (Bytes{0xF1, 0xE1, 0x11, 0xD1, 0xB4, 0x0D}));
    EXPECT_EQ(encoded(3000), (Bytes{0x01, 0xB1, 0xB1, 0x81, 0xE4, 0x0D}));
    EXPECT_EQ(encoded(0), (Bytes{0x01, 0x01, 0x01, 0x01, 0x04, 0x0D}));
    EXPECT_EQ(encoded(65535), (Bytes{0xF1, 0xF1, 0xF1, 0xF1, 0xC4, 0x0D}));
}

TEST(FrameCodec, EveryCodeSurvivesTheRoundTripAndNeverContainsCrOrNul)
{
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        Bytes f = encoded(static_cast<DeviceCode>(code));
        for (int i = 0; i < 5; ++i) {
            ASSERT_NE(f[i], 0x0D) << code;
            ASSERT_NE(f[i], 0x00) << code;
        }
        ASSERT_EQ(f[4] & 0x0F, 0x4) << code;
        std::uint8_t collected[8] = {f[0], f[1], f[2], f[3], f[4], 0};
        ASSERT_EQ(frameLength(collected), 5);
        ASSERT_TRUE(checksumValid(collected)) << code;
        ASSERT_EQ(decodeFrame(collected), code);
    }
}

TEST(FrameCodec, DecodesShortAndLongFramesIgnoringLowNibbles)
{
    const std::uint8_t shortFrame[] = {0x31, 0x91, 0xC2, 0};
    EXPECT_TRUE(checksumValid(shortFrame));
    EXPECT_EQ(decodeFrame(shortFrame), 57);

    const std::uint8_t longFrame[] = {0x01, 0x11, 0xD1, 0x91, 0x74, 0};
    EXPECT_TRUE(checksumValid(longFrame));
    EXPECT_EQ(decodeFrame(longFrame), 473);

    // Other low nibbles decode the same when the checksum matches the bytes as sent.
    std::uint8_t odd[] = {0x07, 0x1C, 0xD3, 0x9F, 0, 0};
    odd[4] = static_cast<std::uint8_t>(odd[0] + odd[1] + odd[2] + odd[3]);
    EXPECT_TRUE(checksumValid(odd));
    EXPECT_EQ(decodeFrame(odd), 473);
}

TEST(FrameCodec, RejectsBadChecksumsAndEmptyFrames)
{
    const std::uint8_t offByOne[] = {0x01, 0x11, 0xD1, 0x91, 0x75, 0};
    EXPECT_FALSE(checksumValid(offByOne));

    const std::uint8_t empty[] = {0};
    EXPECT_EQ(frameLength(empty), 0);
    EXPECT_FALSE(checksumValid(empty));

    // A 1-byte frame is never valid: the empty sum 0 never equals a non-zero byte.
    const std::uint8_t one[] = {0x31, 0};
    EXPECT_EQ(frameLength(one), 1);
    EXPECT_FALSE(checksumValid(one));

    // A 0x00 inside a frame ends it for both tests.
    const std::uint8_t cut[] = {0x31, 0x00, 0x91, 0xC2, 0};
    EXPECT_EQ(frameLength(cut), 1);
    EXPECT_FALSE(checksumValid(cut));
}

TEST(FrameCodec, OddLengthsThatPassDecodeTheShortWay)
{
    const std::uint8_t two[] = {0x44, 0x44, 0};
    EXPECT_TRUE(checksumValid(two));
    EXPECT_EQ(decodeFrame(two), 0x44);

    std::uint8_t seven[8] = {0x31, 0x91, 0x11, 0x21, 0x31, 0x41, 0, 0};
    std::uint8_t sum = 0;
    for (int i = 0; i < 6; ++i)
        sum = static_cast<std::uint8_t>(sum + seven[i]);
    seven[6] = sum;
    EXPECT_EQ(frameLength(seven), 7);
    EXPECT_TRUE(checksumValid(seven));
    EXPECT_EQ(decodeFrame(seven), 57);
}

TEST(FrameCodec, LengthCountsOnlyUpTo99)
{
    std::uint8_t buf[120];
    for (auto &b : buf)
        b = 0x11;
    buf[99] = 0;
    EXPECT_EQ(frameLength(buf), 99);
    buf[99] = 0x11;
    buf[100] = 0;
    EXPECT_EQ(frameLength(buf), 0);
}

} // namespace
