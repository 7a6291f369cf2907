// The device's transmitter: a queue of frames written to the port no faster than 9600 baud allows.
#include "sim/line_pacer.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

void LinePacer::enqueue(const std::uint8_t *bytes, std::size_t count, bool measurement, SimClock::time_point now)
{
    if (count == 0)
        return;
    // An idle line starts the next byte now, not in a slot of the past.
    if (queue_.empty() && slot_ < now)
        slot_ = now;
    queue_.push_back(Frame{std::vector<std::uint8_t>(bytes, bytes + count), 0, measurement});
    queuedBytes_ += count;
    while (queue_.size() > TX_QUEUE_LIMIT) {
        // Keep a frame that is half on the line: dropping it would cut it.
        auto victim = queue_.begin();
        if (victim->sent > 0)
            ++victim;
        queuedBytes_ -= victim->bytes.size() - victim->sent;
        queue_.erase(victim);
        ++dropped_;
    }
}

bool LinePacer::pump(int fd, SimClock::time_point now)
{
    blocked_ = false;
    while (!queue_.empty()) {
        std::size_t allowed = queuedBytes_;
        if (paced_) {
            if (now < slot_)
                return true;
            // After a stall (port full, process descheduled) catch up at most
            // one tick's worth at once instead of bursting the whole backlog.
            if (now - slot_ > std::chrono::milliseconds(20))
                slot_ = now - std::chrono::milliseconds(20);
            allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>((now - slot_) / BYTE_SLOT) + 1);
        }
        std::uint8_t buf[512];
        std::size_t n = 0;
        for (const Frame &f : queue_) {
            for (std::size_t i = f.sent; i < f.bytes.size() && n < allowed && n < sizeof buf; ++i)
                buf[n++] = f.bytes[i];
            if (n >= allowed || n >= sizeof buf)
                break;
        }
        const ssize_t w = ::write(fd, buf, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                blocked_ = true;
                return true;
            }
            return false;
        }
        written_ += static_cast<std::uint64_t>(w);
        queuedBytes_ -= static_cast<std::size_t>(w);
        if (paced_)
            slot_ += BYTE_SLOT * w;
        std::size_t left = static_cast<std::size_t>(w);
        while (left > 0) {
            Frame &f = queue_.front();
            const std::size_t take = std::min(left, f.bytes.size() - f.sent);
            f.sent += take;
            left -= take;
            if (f.sent == f.bytes.size()) {
                if (f.measurement) {
                    if (measurements_ == 0)
                        firstMeasurement_ = now;
                    lastMeasurement_ = now;
                    ++measurements_;
                }
                queue_.pop_front();
            }
        }
        if (static_cast<std::size_t>(w) < n) {
            blocked_ = true;
            return true;
        }
    }
    return true;
}

SimClock::time_point LinePacer::nextSlot() const
{
    if (queue_.empty())
        return SimClock::time_point::max();
    return paced_ ? slot_ : SimClock::time_point::min();
}

void LinePacer::clear()
{
    queue_.clear();
    queuedBytes_ = 0;
    blocked_ = false;
}

void LinePacer::clearAfterFrameOnLine()
{
    if (queue_.empty() || queue_.front().sent == 0) {
        clear();
        return;
    }
    queue_.erase(queue_.begin() + 1, queue_.end());
    queuedBytes_ = queue_.front().bytes.size() - queue_.front().sent;
}

double LinePacer::measuredSeconds() const
{
    if (measurements_ < 2)
        return 0;
    return std::chrono::duration<double>(lastMeasurement_ - firstMeasurement_).count();
}

double LinePacer::measuredRate() const
{
    const double s = measuredSeconds();
    return s > 0 ? static_cast<double>(measurements_ - 1) / s : 0;
}

void LinePacer::resetRate()
{
    measurements_ = 0;
}
