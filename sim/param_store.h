// The device's non-volatile memory: its parameter set kept as a raw 88-byte .614 image.
#pragma once

#include <string>

#include "params/parameter_layout.h"

// Loads the set from path. A missing file is created from fallback; a file
// shorter than 88 bytes is an error. Returns false with a reason on failure.
bool loadParameterImage(const std::string &path, const ParameterSet &fallback, ParameterSet &out,
                        std::string &error);
// Writes the 88 bytes through a temporary file renamed over path, so a reader
// never sees half a set.
bool saveParameterImage(const std::string &path, const ParameterSet &set, std::string &error);
