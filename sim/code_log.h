// The simulator's log: one line per received code and per notable event, flushed at once.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "link/device_code.h"

// Lines: "<seconds since start, 6 decimals> RX <code>" and
// "<seconds> EV <event> [details]". Tests read the file while the simulator runs.
class CodeLog {
public:
    ~CodeLog();
    bool open(const std::string &path, std::string &error);
    void received(DeviceCode code);
    void event(const std::string &text);

private:
    void line(const char *kind, const std::string &text);
    std::FILE *file_ = nullptr;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
