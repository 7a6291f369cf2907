// Frames as the device puts them on the line, and assembly of the frames the program sends it.
#include "sim/frames.h"

#include "link/frame_codec.h"

std::size_t encodeDeviceFrame(DeviceCode code, std::uint8_t out[DEVICE_FRAME_MAX])
{
    if (code > 0xFF) {
        encodeFrame(code, out);
        return FRAME_SIZE;
    }
    // Short form: the data nibbles in the high halves, then their 8-bit sum.
    // The low nibbles are 1, so no byte before the CR can be 0x00 or 0x0D.
    out[0] = static_cast<std::uint8_t>((code & 0xF0) | 0x01);
    out[1] = static_cast<std::uint8_t>(((code & 0x0F) << 4) | 0x01);
    out[2] = static_cast<std::uint8_t>(out[0] + out[1]);
    out[3] = FRAME_END;
    return 4;
}

bool FrameAssembler::feed(std::uint8_t byte, DeviceCode &code)
{
    if (byte != FRAME_END) {
        buffer_[length_] = byte;
        if (length_ < 7)
            ++length_;
        return false;
    }
    buffer_[length_] = 0x00;
    const bool valid = checksumValid(buffer_);
    length_ = 0;
    if (!valid) {
        ++rejected_;
        return false;
    }
    code = decodeFrame(buffer_);
    return true;
}
