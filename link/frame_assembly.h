// Frame assembly: the device's byte stream cut into frames, each valid frame's code handed on.
#pragma once

#include <cstdint>

#include "link/device_code.h"

inline constexpr int ASSEMBLY_SIZE = 8;

// One reader's partly collected frame. Zero-initialised it is empty.
struct FrameAssembly {
    std::uint8_t buffer[ASSEMBLY_SIZE];
    int length; // next write position, 0..7
};

// Receives each code whose frame passed the checksum, in line order.
using CodeConsumer = void (*)(void *context, DeviceCode code);

// Collects bytes into frames; frames may span calls. count <= 0 does nothing.
// An over-long frame keeps its first 7 bytes; a frame whose checksum fails is
// dropped without a word.
void assembleFrames(FrameAssembly *assembly, const std::uint8_t *bytes, int count, CodeConsumer consume,
                    void *context);
