// Frame codec: encoding of outgoing frames, length, checksum and decoding of received ones.
#include "link/frame_codec.h"

void encodeFrame(DeviceCode code, std::uint8_t out[FRAME_SIZE])
{
    const std::uint8_t hi = static_cast<std::uint8_t>(code >> 8);
    const std::uint8_t lo = static_cast<std::uint8_t>(code & 0xFF);
    out[0] = static_cast<std::uint8_t>((hi & 0xF0) | 0x01);
    out[1] = static_cast<std::uint8_t>(((hi & 0x0F) << 4) | 0x01);
    out[2] = static_cast<std::uint8_t>((lo & 0xF0) | 0x01);
    out[3] = static_cast<std::uint8_t>(((lo & 0x0F) << 4) | 0x01);
    out[4] = static_cast<std::uint8_t>(out[0] + out[1] + out[2] + out[3]);
    out[5] = FRAME_END;
}

int frameLength(const std::uint8_t *frame)
{
    for (std::size_t i = 0; i < FRAME_SCAN_LIMIT; ++i) {
        if (frame[i] == 0x00)
            return static_cast<int>(i);
    }
    return 0;
}

bool checksumValid(const std::uint8_t *frame)
{
    const int n = frameLength(frame);
    if (n == 0)
        return false;
    std::uint8_t sum = 0;
    for (int i = 0; i < n - 1; ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    // A 1-byte frame compares the empty sum 0 with a byte that is never 0.
    return frame[n - 1] == sum;
}

DeviceCode decodeFrame(const std::uint8_t *frame)
{
    const int n = frameLength(frame);
    const unsigned first = (frame[0] & 0xF0u) | (frame[1] >> 4);
    if (n == 5)
        return static_cast<DeviceCode>((first << 8) | (frame[2] & 0xF0u) | (frame[3] >> 4));
    return static_cast<DeviceCode>(first);
}
