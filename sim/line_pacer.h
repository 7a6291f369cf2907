// The device's transmitter: a queue of frames written to the port no faster than 9600 baud allows.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

using SimClock = std::chrono::steady_clock;

// 9600 baud, 8N1: ten bit times per byte, 960 bytes per second.
inline constexpr std::chrono::nanoseconds BYTE_SLOT{1'041'667};
// A backlog beyond this many frames means the line cannot keep up: the
// oldest frames that have not started are dropped, as a device's transmit
// buffer overflows.
inline constexpr std::size_t TX_QUEUE_LIMIT = 256;

class LinePacer {
public:
    explicit LinePacer(bool paced) : paced_(paced) {}

    void enqueue(const std::uint8_t *bytes, std::size_t count, bool measurement, SimClock::time_point now);
    // Writes the bytes whose slots have come; never blocks (fd is non-blocking).
    // Returns false on a write error other than a full buffer.
    bool pump(int fd, SimClock::time_point now);
    // When pump should run next; max() when nothing waits.
    SimClock::time_point nextSlot() const;
    // The port refused bytes: wait for it to become writable.
    bool waitingForRoom() const { return blocked_; }
    void clear();
    // Drops every frame not yet begun; a frame partly on the line is finished,
    // as a device that stops sending stops between frames (a cut frame would
    // spoil the first one sent after it).
    void clearAfterFrameOnLine();

    std::size_t queuedBytes() const { return queuedBytes_; }
    std::uint64_t framesDropped() const { return dropped_; }
    std::uint64_t bytesWritten() const { return written_; }

    // Measurement frames fully written, with the times of the first and last.
    std::uint64_t measurementsSent() const { return measurements_; }
    double measuredRate() const; // per second, 0 until two were sent
    double measuredSeconds() const;
    void resetRate();

private:
    struct Frame {
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
        bool measurement = false;
    };
    bool paced_;
    std::deque<Frame> queue_;
    std::size_t queuedBytes_ = 0;
    SimClock::time_point slot_{};
    bool blocked_ = false;
    std::uint64_t dropped_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t measurements_ = 0;
    SimClock::time_point firstMeasurement_{};
    SimClock::time_point lastMeasurement_{};
};
