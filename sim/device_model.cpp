// The K614's behaviour without any I/O: peaks, limit alarms, dV/dt, upload answers and parameter codes.
#include "sim/device_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

ParameterSet defaultParameterSet()
{
    ParameterSet p;
    std::memset(&p, 0, sizeof p);
    p.limit1Mode = 2; // Max.
    p.limit1Setpoint = 80;
    p.limit1Tr = 100;
    p.limit1Hysteresis = 5;
    p.limit2Mode = 1; // Min.
    p.limit2Setpoint = 20;
    p.limit2Tr = 200;
    p.limit2Hysteresis = 5;
    p.dpdtMode = 1; // +dPdt
    p.dpdtSetpoint = 30;
    p.dvdt = 10;
    p.timerRange = 0;
    p.ts = 500;
    p.p1Max = 100;
    p.p1Min = 0;
    std::memcpy(p.unitText, "MW", 3);
    return p;
}

std::vector<DeviceCode> uploadAnswer(const ParameterSet &set)
{
    std::vector<DeviceCode> codes;
    codes.reserve(PARAMETER_COUNT + UNIT_TEXT_SIZE + 1);
    auto put = [&](const ParameterField &f) {
        const unsigned highest = static_cast<unsigned>(f.lastCode - f.base);
        const unsigned value = std::min<unsigned>(set.*f.member, highest);
        codes.push_back(static_cast<DeviceCode>(f.base + value));
    };
    // The program takes the limit1Mode code as the answer, so it leads.
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (f.member == &ParameterSet::limit1Mode)
            put(f);
    }
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (f.member != &ParameterSet::limit1Mode)
            put(f);
    }
    for (std::size_t i = 0; i < UNIT_TEXT_SIZE && set.unitText[i] != 0; ++i)
        codes.push_back(static_cast<DeviceCode>(UNIT_CHAR_BASE + static_cast<unsigned char>(set.unitText[i])));
    codes.push_back(UNIT_TEXT_END);
    return codes;
}

DeviceModel::DeviceModel(const ParameterSet &initial) : params_(initial)
{
    // The text must end inside its field and may not hold the terminator's character.
    setUnitText(unitText());
}

void DeviceModel::setUnitText(const std::string &text)
{
    std::memset(params_.unitText, 0, UNIT_TEXT_SIZE);
    std::size_t n = 0;
    for (char c : text) {
        if (n + 1 >= UNIT_TEXT_SIZE)
            break;
        if (c == '\r' || c == '\0')
            continue;
        params_.unitText[n++] = c;
    }
}

std::string DeviceModel::unitText() const
{
    return std::string(params_.unitText, strnlen(params_.unitText, UNIT_TEXT_SIZE));
}

DeviceCode DeviceModel::tick(int raw)
{
    ++tickCount_;
    int value = raw;
    if (pulseTicksLeft_ > 0) {
        value += SPACE_PULSE_STEP;
        --pulseTicksLeft_;
    }
    value = std::clamp(value, 0, MEASUREMENT_LIMIT);

    const int previous = measurement_;
    measurement_ = value;
    if (params_.dvdt != 0 && previous >= 0 && std::abs(value - previous) > params_.dvdt) {
        urgent_.push_back(STATUS_DVDT);
        notes_.push_back("dvdt " + std::to_string(previous) + " " + std::to_string(value));
    }

    window_.push_back(value);
    while (window_.size() > static_cast<std::size_t>(DPDT_WINDOW_TICKS + 1))
        window_.pop_front();
    updatePeaks();
    updateLimit(1, params_.limit1Mode, params_.limit1Setpoint, params_.limit1Hysteresis, alarm1_);
    updateLimit(2, params_.limit2Mode, params_.limit2Setpoint, params_.limit2Hysteresis, alarm2_);

    if (tickCount_ % PEAK_REPORT_TICKS == 0)
        peakDirty_[0] = peakDirty_[1] = peakDirty_[2] = true;

    if (uploadDueTick_ >= 0 && static_cast<long long>(tickCount_) >= uploadDueTick_) {
        uploadDueTick_ = -1;
        const std::vector<DeviceCode> answer = uploadAnswer(params_);
        upload_.insert(upload_.end(), answer.begin(), answer.end());
        answerStarting_ = true;
        notes_.push_back("upload-answer " + std::to_string(answer.size()));
    }
    return static_cast<DeviceCode>(value);
}

void DeviceModel::updatePeaks()
{
    if (maxPeak_ < 0 || measurement_ > maxPeak_) {
        maxPeak_ = measurement_;
        peakDirty_[1] = true;
    }
    if (minPeak_ < 0 || measurement_ < minPeak_) {
        minPeak_ = measurement_;
        peakDirty_[0] = true;
    }
    // dP/dt in kW% per second over the last second; "+dPdt" counts rises
    // only, "+/- dPdt" falls as well.
    int rate = window_.back() - window_.front();
    if (params_.dpdtMode == 2)
        rate = std::abs(rate);
    rate = std::clamp(rate, 0, DPDT_PEAK_LIMIT);
    if (dpdtPeak_ < 0 || rate > dpdtPeak_) {
        dpdtPeak_ = rate;
        peakDirty_[2] = true;
    }
}

void DeviceModel::updateLimit(int limit, std::uint16_t mode, std::uint16_t setpoint, std::uint16_t hysteresis,
                              bool &active)
{
    const int m = measurement_;
    const int sp = setpoint;
    const int hy = hysteresis;
    bool now = active;
    if (mode == 1) { // Min.: trips below the setpoint, clears above setpoint + hysteresis
        if (!active && m < sp)
            now = true;
        else if (active && m >= sp + hy)
            now = false;
    } else if (mode == 2) { // Max.: trips above the setpoint, clears below setpoint - hysteresis
        if (!active && m > sp)
            now = true;
        else if (active && m <= sp - hy)
            now = false;
    } else {
        now = false;
    }
    if (now == active)
        return;
    active = now;
    if (now) {
        raiseAlarm(limit);
        notes_.push_back("alarm " + std::to_string(limit) + " start " + std::to_string(m));
    } else {
        notes_.push_back("alarm " + std::to_string(limit) + " end " + std::to_string(m));
    }
}

void DeviceModel::resetPeak(int which)
{
    static const char *const names[3] = {"min", "max", "dpdt"};
    static const DeviceCode bases[3] = {MIN_PEAK_BASE, MAX_PEAK_BASE, DPDT_PEAK_BASE};
    int &peak = which == 0 ? minPeak_ : which == 1 ? maxPeak_ : dpdtPeak_;
    peak = which == 2 ? 0 : measurement_;
    // Restart the dP/dt window so that the old slope is not counted again.
    if (which == 2 && !window_.empty()) {
        const int last = window_.back();
        window_.assign(1, last);
    }
    notes_.push_back(std::string("reset ") + names[which] + " " + std::to_string(peak));
    if (peak < 0)
        return;
    // The new value goes out at once rather than with the next periodic report.
    peakDirty_[which] = false;
    urgent_.push_back(static_cast<DeviceCode>(bases[which] + peak));
}

bool DeviceModel::receive(DeviceCode code)
{
    ++received_;
    return apply(code);
}

bool DeviceModel::apply(DeviceCode code)
{
    if (const ParameterField *f = parameterFieldForCode(code)) {
        const std::uint16_t value = static_cast<std::uint16_t>(code - f->base);
        if (ignored_.count(f->base) != 0) {
            notes_.push_back(std::string("ignored ") + f->name + " " + std::to_string(value));
            return false;
        }
        notes_.push_back(std::string("param ") + f->name + " " + std::to_string(value));
        if (params_.*f->member == value)
            return false;
        params_.*f->member = value;
        return true;
    }
    switch (code) {
    case CMD_REQUEST_UPLOAD:
        if (uploadWithheld_) {
            notes_.push_back("upload-withheld");
        } else if (uploadDueTick_ >= 0 || !upload_.empty()) {
            notes_.push_back("upload-busy");
        } else {
            uploadDueTick_ = static_cast<long long>(tickCount_) + uploadDelayTicks_;
            notes_.push_back("upload-request");
        }
        break;
    case CMD_SPACE_KEY:
        pulseTicksLeft_ = SPACE_PULSE_TICKS;
        notes_.push_back("space-pulse");
        break;
    case CMD_RESET_MIN_PEAK:
        resetPeak(0);
        break;
    case CMD_RESET_MAX_PEAK:
        resetPeak(1);
        break;
    case CMD_RESET_DPDT_PEAK:
        resetPeak(2);
        break;
    default:
        notes_.push_back("unknown " + std::to_string(code));
        break;
    }
    return false;
}

bool DeviceModel::nextCode(DeviceCode &code)
{
    if (!urgent_.empty()) {
        code = urgent_.front();
        urgent_.pop_front();
        return true;
    }
    static const DeviceCode bases[3] = {MIN_PEAK_BASE, MAX_PEAK_BASE, DPDT_PEAK_BASE};
    const int peaks[3] = {minPeak_, maxPeak_, dpdtPeak_};
    for (int i = 0; i < 3; ++i) {
        if (peakDirty_[i]) {
            peakDirty_[i] = false;
            if (peaks[i] < 0 || !peakReports_)
                continue;
            code = static_cast<DeviceCode>(bases[i] + peaks[i]);
            return true;
        }
    }
    if (!upload_.empty()) {
        code = upload_.front();
        upload_.pop_front();
        if (answerStarting_) {
            answerStarting_ = false;
            ++answersStarted_;
        }
        return true;
    }
    return false;
}

bool DeviceModel::hasPending() const
{
    if (!urgent_.empty() || !upload_.empty())
        return true;
    const int peaks[3] = {minPeak_, maxPeak_, dpdtPeak_};
    for (int i = 0; i < 3; ++i) {
        if (peakDirty_[i] && peaks[i] >= 0 && peakReports_)
            return true;
    }
    return false;
}

void DeviceModel::dropPending()
{
    urgent_.clear();
    upload_.clear();
    answerStarting_ = false;
    uploadDueTick_ = -1;
    peakDirty_[0] = peakDirty_[1] = peakDirty_[2] = false;
}

bool DeviceModel::ignoreField(DeviceCode base)
{
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (f.base == base) {
            ignored_.insert(base);
            return true;
        }
    }
    return false;
}

std::vector<std::string> DeviceModel::takeNotes()
{
    std::vector<std::string> out;
    out.swap(notes_);
    return out;
}
