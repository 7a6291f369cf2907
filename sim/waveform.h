// The measuring input of the simulated device: steady, sine, ramp, steps or a recorded profile.
#pragma once

#include <string>
#include <vector>

struct WaveSettings {
    double level = 50;     // kW%
    double amplitude = 20; // kW%
    double period = 5;     // seconds
};

class Waveform {
public:
    // shape: steady | sine | ramp | steps | profile:FILE. On failure returns
    // false with a reason in error and leaves the waveform unchanged.
    bool configure(const std::string &shape, const WaveSettings &settings, std::string &error);
    void setSteady(double level);

    // Input value at 20 ms tick n since the waveform was configured.
    double valueAt(unsigned long long tick) const;

    const std::string &shape() const { return shape_; }

private:
    enum class Kind { Steady, Sine, Ramp, Steps, Profile };
    Kind kind_ = Kind::Steady;
    WaveSettings settings_;
    std::vector<double> profile_; // one value per tick, played in a loop
    std::string shape_ = "steady";
};

// Reads a profile: one value per line, one line per 20 ms tick; or lines of
// "SECONDS VALUE", each value held from its time until the next line's. '#'
// starts a comment. The profile plays in a loop.
bool loadProfile(const std::string &path, std::vector<double> &ticks, std::string &error);
