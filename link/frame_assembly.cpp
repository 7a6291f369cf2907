// Frame assembly: bytes to frames to codes, for whichever consumer reads the line.
#include "link/frame_assembly.h"

#include "link/frame_codec.h"

void assembleFrames(FrameAssembly *assembly, const std::uint8_t *bytes, int count, CodeConsumer consume,
                    void *context)
{
    FrameAssembly &a = *assembly;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b != FRAME_END) {
            // Position 7 holds the latest byte until the CR puts the terminator there.
            a.buffer[a.length] = b;
            if (++a.length > ASSEMBLY_SIZE - 1)
                a.length = ASSEMBLY_SIZE - 1;
            continue;
        }
        a.buffer[a.length] = 0x00;
        a.length = 0;
        if (checksumValid(a.buffer))
            consume(context, decodeFrame(a.buffer));
    }
}
