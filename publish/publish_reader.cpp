// k614ctl publish's reader: the line read as `log` reads it; measurements, events, peaks, the parameter set
// and the link's status handed to the network side through a PublishRecord under the sink's lock.
#include <cstring>

#include "cli/ctl_io.h"
#include "cli/line_record.h"
#include "publish/publish_core.h"
#include "link/frame_codec.h"

static constexpr char TOOL[] = "k614ctl";
// As `log`: a silence this long is reported; reads wait at most STOP_POLL_MS.
// No pause after a read: the line itself wakes the reader once per frame.
static constexpr std::int64_t SILENCE_MS = 2000;
static constexpr std::int64_t STOP_POLL_MS = 200;
// A lost line is reopened this often.
static constexpr std::int64_t REOPEN_MS = 1000;
// The upload request is repeated while no whole answer has come.
static constexpr std::int64_t UPLOAD_RETRY_MS = ANSWER_WAIT_MS;
// Dropped items are reported at most this often.
static constexpr std::int64_t DROP_REPORT_MS = 10000;

// The sink's lock for one block.
class SinkLock {
public:
    explicit SinkLock(const PublishSinkOps &sink) : sink_(sink) { sink_.lock(sink_.context); }
    ~SinkLock() { sink_.unlock(sink_.context); }
    SinkLock(const SinkLock &) = delete;
    SinkLock &operator=(const SinkLock &) = delete;

private:
    const PublishSinkOps &sink_;
};

struct ReaderState {
    bool lineOpen;
    std::int64_t lastFrameAt;  // or the open, before the first frame
    std::int64_t reopenAt;     // next attempt while the line is lost
    std::int64_t requestedAt;  // the last upload request
    std::int64_t droppedAt;    // the last report of dropped items
    std::uint64_t droppedShown;
    std::int64_t measurements; // read since the start, for --every
    LinkStatus status;
};

static void reader_setStatus(ReaderState &state, LinkStatus status, PublishRecord *shared, const PublishSinkOps &sink)
{
    if (state.status == status)
        return;
    state.status = status;
    {
        SinkLock guard(sink);
        shared->status = status;
        shared->statusChanged = true;
    }
    sink.wake(sink.context);
}

// What one read brought: rows to the queue, peaks and parameters when they changed. True when
// there is something new for the broker.
static bool reader_take(LineRecord *record, ReaderState &state, std::int64_t utcMs, int every, PublishRecord *shared,
                        const PublishSinkOps &sink)
{
    SinkLock guard(sink);
    const std::uint64_t lastBefore = shared->queue.lastSeq;
    for (int i = 0; i < record->rowCount; ++i) {
        const LogRow &row = record->rows[i];
        // The events came before the measurement that closed their row.
        for (int e = 0; e < row.eventCount; ++e)
            pushQueued(&shared->queue, utcMs, row.events[e] == STATUS_DVDT ? QueuedKind::dvdt : QueuedKind::alarm,
                       row.events[e]);
        if (state.measurements++ % every == 0)
            pushQueued(&shared->queue, utcMs, QueuedKind::measurement, row.measurement);
    }
    record->rowCount = 0;
    if (record->maxPeak != shared->maxPeak || record->minPeak != shared->minPeak ||
        record->dpdtPeak != shared->dpdtPeak) {
        shared->maxPeak = record->maxPeak;
        shared->minPeak = record->minPeak;
        shared->dpdtPeak = record->dpdtPeak;
        shared->peaksAt = utcMs;
        shared->peaksKnown = shared->peaksChanged = true;
    }
    if (answerComplete(record->answer) &&
        (!shared->parametersKnown || std::memcmp(&shared->parameters, &record->answer.set, sizeof shared->parameters))) {
        shared->parameters = record->answer.set;
        shared->parametersKnown = shared->parametersChanged = true;
    }
    return shared->queue.lastSeq != lastBefore || shared->peaksChanged || shared->parametersChanged;
}

static void reader_requestUpload(const CtlOps &ops, LineRecord *record, ReaderState &state, std::int64_t now)
{
    beginAnswer(record);
    std::uint8_t frame[FRAME_SIZE];
    encodeFrame(CMD_REQUEST_UPLOAD, frame);
    ops.writeLine(ops.context, frame, static_cast<int>(FRAME_SIZE));
    state.requestedAt = now;
}

static void reader_reportDrops(ReaderState &state, std::int64_t now, const CtlIo &io, PublishRecord *shared,
                               const PublishSinkOps &sink)
{
    std::uint64_t dropped;
    {
        SinkLock guard(sink);
        dropped = shared->queue.dropped;
    }
    if (dropped == state.droppedShown || now - state.droppedAt < DROP_REPORT_MS)
        return;
    std::fprintf(io.err, "%s: the broker is out of reach and the queue is full: %llu oldest dropped so far\n", TOOL,
                 static_cast<unsigned long long>(dropped));
    state.droppedShown = dropped;
    state.droppedAt = now;
}

void runPublishReader(const PublishOptions &options, const CtlOps &ops, const CtlIo &io, PublishRecord *shared,
                      const PublishSinkOps &sink)
{
    LineRecord record;
    resetLineRecord(&record);
    FrameAssembly assembly = {};
    const std::int64_t start = ops.monotonicMs(ops.context);
    const std::int64_t end = options.durationMs > 0 ? start + options.durationMs : INT64_MAX;
    ReaderState state = {true, start, 0, 0, start - DROP_REPORT_MS, 0, 0, LinkStatus::offline};
    reader_requestUpload(ops, &record, state, start);
    std::uint8_t buffer[LINE_READ_SIZE];
    while (!ops.stopRequested(ops.context) && !sink.refused(sink.context)) {
        if (sink.turn)
            sink.turn(sink.context);
        std::int64_t now = ops.monotonicMs(ops.context);
        if (now >= end)
            break;
        reader_reportDrops(state, now, io, shared, sink);
        if (!state.lineOpen) {
            if (now >= state.reopenAt) {
                state.reopenAt = now + REOPEN_MS;
                if (ops.openLine(ops.context, options.port) == SerialOpenResult::ok) {
                    state.lineOpen = true;
                    state.lastFrameAt = now;
                    // The peaks stand until the device reports new ones; the answer starts over.
                    record.rowCount = 0;
                    record.eventCount = 0;
                    assembly = FrameAssembly{};
                    std::fprintf(io.err, "%s: %s: the line is open again\n", TOOL, options.port);
                    reader_requestUpload(ops, &record, state, now);
                }
            }
            if (!state.lineOpen) {
                ops.pauseMs(ops.context, static_cast<int>(STOP_POLL_MS));
                continue;
            }
        }
        const std::int64_t wait = end - now < STOP_POLL_MS ? end - now : STOP_POLL_MS;
        const int got = ops.readLine(ops.context, buffer, LINE_READ_SIZE, static_cast<int>(wait));
        now = ops.monotonicMs(ops.context);
        if (got == SERIAL_READ_FAILED) {
            ops.closeLine(ops.context);
            state.lineOpen = false;
            state.reopenAt = now + REOPEN_MS;
            reader_setStatus(state, LinkStatus::offline, shared, sink);
            std::fprintf(io.err, "%s: %s: the line to the device was lost; reopening it every second\n", TOOL,
                         options.port);
            continue;
        }
        if (got > 0) {
            const unsigned codesBefore = record.codeCount;
            recordBytes(&record, &assembly, buffer, got);
            const bool frames = record.codeCount != codesBefore;
            if (frames) {
                state.lastFrameAt = now;
                reader_setStatus(state, LinkStatus::online, shared, sink);
            }
            if (reader_take(&record, state, ops.utcMs(ops.context), options.every, shared, sink))
                sink.wake(sink.context);
        }
        if (now - state.lastFrameAt >= SILENCE_MS && state.status != LinkStatus::silent) {
            reader_setStatus(state, LinkStatus::silent, shared, sink);
        }
        if (!answerComplete(record.answer) && state.status == LinkStatus::online &&
            now - state.requestedAt >= UPLOAD_RETRY_MS)
            reader_requestUpload(ops, &record, state, now);
    }
    if (state.lineOpen)
        ops.closeLine(ops.context);
}
