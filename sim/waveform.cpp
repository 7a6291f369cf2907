// The measuring input of the simulated device: steady, sine, ramp, steps or a recorded profile.
#include "sim/waveform.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

constexpr double TICK_SECONDS = 0.02;

} // namespace

bool loadProfile(const std::string &path, std::vector<double> &ticks, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read profile " + path;
        return false;
    }
    std::vector<double> plain;
    std::vector<std::pair<double, double>> timed;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        double a, b;
        if (!(fields >> a))
            continue; // blank or comment
        if (fields >> b)
            timed.emplace_back(a, b);
        else
            plain.push_back(a);
        std::string rest;
        if (fields >> rest) {
            error = path + ":" + std::to_string(lineNo) + ": expected VALUE or SECONDS VALUE";
            return false;
        }
    }
    if (!plain.empty() && !timed.empty()) {
        error = path + ": mixes plain values and SECONDS VALUE lines";
        return false;
    }
    if (plain.empty() && timed.empty()) {
        error = path + ": no values";
        return false;
    }
    if (!plain.empty()) {
        ticks = plain;
        return true;
    }
    // Timed: hold each value until the next line's time; the last one for one tick.
    ticks.clear();
    for (std::size_t i = 0; i < timed.size(); ++i) {
        if (i > 0 && timed[i].first < timed[i - 1].first) {
            error = path + ": times must not decrease";
            return false;
        }
        const double end = i + 1 < timed.size() ? timed[i + 1].first : timed[i].first + TICK_SECONDS;
        const long from = std::lround(timed[i].first / TICK_SECONDS);
        const long to = std::lround(end / TICK_SECONDS);
        for (long t = std::max<long>(from, static_cast<long>(ticks.size())); t < to; ++t)
            ticks.push_back(timed[i].second);
    }
    if (ticks.empty())
        ticks.push_back(timed.back().second);
    return true;
}

bool Waveform::configure(const std::string &shape, const WaveSettings &settings, std::string &error)
{
    if (settings.period <= 0) {
        error = "period must be positive";
        return false;
    }
    Kind kind;
    std::vector<double> profile;
    if (shape == "steady") {
        kind = Kind::Steady;
    } else if (shape == "sine") {
        kind = Kind::Sine;
    } else if (shape == "ramp") {
        kind = Kind::Ramp;
    } else if (shape == "steps") {
        kind = Kind::Steps;
    } else if (shape.rfind("profile:", 0) == 0) {
        kind = Kind::Profile;
        if (!loadProfile(shape.substr(8), profile, error))
            return false;
    } else {
        error = "unknown waveform '" + shape + "' (steady, sine, ramp, steps, profile:FILE)";
        return false;
    }
    kind_ = kind;
    settings_ = settings;
    profile_ = std::move(profile);
    shape_ = shape;
    return true;
}

void Waveform::setSteady(double level)
{
    kind_ = Kind::Steady;
    settings_.level = level;
    shape_ = "steady";
}

double Waveform::valueAt(unsigned long long tick) const
{
    const double t = static_cast<double>(tick) * TICK_SECONDS;
    const double phase = std::fmod(t, settings_.period) / settings_.period; // 0..1
    const double level = settings_.level;
    const double amp = settings_.amplitude;
    switch (kind_) {
    case Kind::Steady:
        return level;
    case Kind::Sine:
        return level + amp * std::sin(2 * M_PI * phase);
    case Kind::Ramp: // saw tooth from level - amplitude up to level + amplitude
        return level - amp + 2 * amp * phase;
    case Kind::Steps: // square wave: high for the first half period
        return phase < 0.5 ? level + amp : level - amp;
    case Kind::Profile:
        return profile_[tick % profile_.size()];
    }
    return level;
}
