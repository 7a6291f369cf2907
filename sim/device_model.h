// The K614's behaviour without any I/O: peaks, limit alarms, dV/dt, upload answers and parameter codes.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "link/device_code.h"
#include "params/parameter_layout.h"

// Fixed codes this device uses within the ranges the program treats as alarms.
inline constexpr DeviceCode ALARM_LIMIT1_CODE = 65014;
inline constexpr DeviceCode ALARM_LIMIT2_CODE = 65039;

inline constexpr int TICKS_PER_SECOND = 50;            // one measurement every 20 ms
inline constexpr int PEAK_REPORT_TICKS = 25;           // all three peaks every 500 ms
inline constexpr int DPDT_WINDOW_TICKS = TICKS_PER_SECOND; // dP/dt over the last second
inline constexpr int DPDT_PEAK_LIMIT = 399;
inline constexpr int MEASUREMENT_LIMIT = 199;
inline constexpr int SPACE_PULSE_STEP = 30;            // kW% added by the space-key test pulse
inline constexpr int SPACE_PULSE_TICKS = TICKS_PER_SECOND;

// The set a device leaves the factory with.
ParameterSet defaultParameterSet();

// Everything the device sends after CMD_REQUEST_UPLOAD: limit1Mode first (the
// program takes it as the answer), the other 22 in send order, then the unit
// text character by character and its terminator. A value outside its field's
// received range is sent as the range's last value, so that every code lands in
// its own field.
std::vector<DeviceCode> uploadAnswer(const ParameterSet &set);

class DeviceModel {
public:
    explicit DeviceModel(const ParameterSet &initial);

    // One 20 ms measurement period. raw is the measuring input (the waveform);
    // returns the measurement code sent for it and queues the events it causes.
    DeviceCode tick(int raw);

    // A code received from the program. Returns true when the parameter set changed.
    bool receive(DeviceCode code);
    // The same for a code that did not come over the line (the control
    // server's set-param): applied, but not counted as received.
    bool apply(DeviceCode code);

    // Next code waiting besides the measurement: alarms and dV/dt first, then
    // changed peaks, then the upload answer. False when nothing waits.
    bool nextCode(DeviceCode &code);
    bool hasPending() const;
    // Drops everything waiting (the device was silenced or unplugged).
    void dropPending();

    // Control over the upload answer.
    void setUploadDelayTicks(int ticks) { uploadDelayTicks_ = ticks < 0 ? 0 : ticks; }
    void setUploadWithheld(bool on) { uploadWithheld_ = on; }
    // Upload answers whose first code has been handed out by nextCode.
    std::uint64_t answersStarted() const { return answersStarted_; }
    // Peaks reported (when they change and every 500 ms) or kept quiet; a
    // reset's new value still goes out.
    void setPeakReports(bool on) { peakReports_ = on; }
    // Received codes of the field with this base are not applied.
    bool ignoreField(DeviceCode base);
    void ignoreNone() { ignored_.clear(); }

    // Events injected from outside.
    void sendNow(DeviceCode code) { urgent_.push_back(code); }
    void raiseAlarm(int limit) { urgent_.push_back(limit == 2 ? ALARM_LIMIT2_CODE : ALARM_LIMIT1_CODE); }

    // Lines for the event log ("upload-answer 26", "param limit1Setpoint 80", ...),
    // collected since the last call.
    std::vector<std::string> takeNotes();

    const ParameterSet &parameters() const { return params_; }
    void setUnitText(const std::string &text);
    std::string unitText() const;
    int measurement() const { return measurement_; }
    int maxPeak() const { return maxPeak_; }
    int minPeak() const { return minPeak_; }
    int dpdtPeak() const { return dpdtPeak_; }
    bool alarmActive(int limit) const { return limit == 2 ? alarm2_ : alarm1_; }
    std::uint64_t ticks() const { return tickCount_; }
    std::uint64_t received() const { return received_; }

private:
    void updatePeaks();
    void updateLimit(int limit, std::uint16_t mode, std::uint16_t setpoint, std::uint16_t hysteresis,
                     bool &active);
    void resetPeak(int which);

    ParameterSet params_;
    int measurement_ = -1;
    int maxPeak_ = -1;
    int minPeak_ = -1;
    int dpdtPeak_ = -1;
    bool peakDirty_[3] = {}; // min, max, dPdt
    bool alarm1_ = false;
    bool alarm2_ = false;
    int pulseTicksLeft_ = 0;
    std::deque<int> window_; // last measurements for dP/dt
    std::uint64_t tickCount_ = 0;
    std::uint64_t received_ = 0;

    std::deque<DeviceCode> urgent_;
    std::deque<DeviceCode> upload_;
    long long uploadDueTick_ = -1; // tick at which a requested answer starts
    int uploadDelayTicks_ = 0;
    bool uploadWithheld_ = false;
    bool answerStarting_ = false; // the next upload code is an answer's first
    std::uint64_t answersStarted_ = 0;
    bool peakReports_ = true;
    std::set<DeviceCode> ignored_;
    std::vector<std::string> notes_;
};
