// k614ctl log: one CSV row per measurement, a status line on a terminal, silence and a lost line reported.
#include "cli/log_command.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/parameter_file.h"

static constexpr char TOOL[] = "k614ctl";
// No valid frame for this long is reported; the device streams 50 a second.
static constexpr std::int64_t SILENCE_MS = 2000;
// Status line refresh and flush of the rows: a file read while the log runs
// is never more than this behind.
static constexpr std::int64_t REFRESH_MS = 500;
// The longest a read waits, so that a stop request (Windows: set by another
// thread, which does not interrupt the read) is seen soon.
static constexpr std::int64_t STOP_POLL_MS = 200;
// The device paces its bytes to the line rate, so a read that returns as soon
// as there is something returns a byte or two: a pause after each read that
// brought bytes lets a frame gather first. Two reads per frame instead of
// twelve; a row's time is at most this late.
static constexpr int READ_GAP_MS = 5;
static constexpr std::int64_t NO_END = INT64_MAX;
static constexpr int STATUS_WIDTH = 72;

struct LogState {
    std::int64_t rows;
    std::int64_t rowsAtRefresh;
    std::int64_t refreshedAt;
    std::int64_t lastFrameAt;
    std::int32_t lastValue; // NOT_REPORTED before the first row
    bool silent;
    bool statusShown; // a status line stands unfinished on stderr
    bool rowByRow;        // each row flushed on its own (the --csv file)
    std::int64_t wholeBytes; // header and rows known to be in the file whole
};

// One line of the CSV output. Into a file each line goes out with its own
// flush, so that when one fails (a full disk) the lines before it are known
// to be there whole and the file can be cut back to them.
static bool log_put(LogState &state, const char *line, std::FILE *out)
{
    if (std::fputs(line, out) < 0 || (state.rowByRow && std::fflush(out) != 0))
        return false;
    state.wholeBytes += static_cast<std::int64_t>(std::strlen(line));
    return true;
}

// After a failed write the file may end in part of a row; a reader of the
// CSV must never see a torn row, so the file ends after the last whole one.
static void log_cutToWholeRows(const char *path, std::int64_t wholeBytes)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > static_cast<std::uintmax_t>(wholeBytes))
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(wholeBytes), error);
}

static void log_clearStatus(LogState &state, const CtlIo &io)
{
    if (!state.statusShown)
        return;
    std::fprintf(io.err, "\r%*s\r", STATUS_WIDTH, "");
    state.statusShown = false;
}

static void log_message(LogState &state, const CtlIo &io, const char *port, const char *text)
{
    log_clearStatus(state, io);
    std::fprintf(io.err, "%s: %s: %s\n", TOOL, port, text);
}

static void log_status(LogState &state, const CtlIo &io, std::int64_t now)
{
    const std::int64_t elapsed = now - state.refreshedAt;
    const double rate = elapsed > 0 ? (state.rows - state.rowsAtRefresh) * 1000.0 / static_cast<double>(elapsed) : 0;
    char last[12] = "-";
    if (state.lastValue != NOT_REPORTED)
        std::snprintf(last, sizeof last, "%d", static_cast<int>(state.lastValue));
    char text[STATUS_WIDTH + 1];
    std::snprintf(text, sizeof text, "rows %lld  %.1f/s  last %s  link %s", static_cast<long long>(state.rows), rate,
                  last, state.silent ? "silent" : "alive");
    std::fprintf(io.err, "\r%-*s", STATUS_WIDTH, text);
    std::fflush(io.err);
    state.statusShown = true;
}

static bool log_writeRows(LineRecord *record, LogState &state, std::int64_t utcMs, std::FILE *out)
{
    char timestamp[TIMESTAMP_SIZE];
    formatUtcTimestamp(utcMs, timestamp);
    char row[CSV_ROW_SIZE];
    for (int i = 0; i < record->rowCount; ++i) {
        formatCsvRow(timestamp, record->rows[i], row, sizeof row);
        if (!log_put(state, row, out))
            return false;
        state.lastValue = record->rows[i].measurement;
        ++state.rows;
    }
    record->rowCount = 0;
    return std::ferror(out) == 0;
}

static std::int64_t log_min(std::int64_t a, std::int64_t b)
{
    return a < b ? a : b;
}

int runLog(const CtlArgs &args, const CtlOps &ops, const CtlIo &io)
{
    ScopedLine line(ops, args.port);
    if (line.result() != SerialOpenResult::ok)
        return openPortError(line.result(), args.port, io);
    ScopedFile csv(args.csv, "wb");
    if (args.csv && !csv.get()) {
        std::fprintf(io.err, "%s: %s: cannot create (%s)\n", TOOL, args.csv, std::strerror(errno));
        return EXIT_FILE_ERROR;
    }
    std::FILE *out = args.csv ? csv.get() : io.out;
    const char *outName = args.csv ? args.csv : "standard output";
    ops.watchStopRequests(ops.context);
    const bool showStatus = ops.errIsTerminal(ops.context);

    LineRecord record;
    resetLineRecord(&record);
    FrameAssembly assembly = {};
    const std::int64_t start = ops.monotonicMs(ops.context);
    const std::int64_t end = args.durationMs > 0 ? start + args.durationMs : NO_END;
    LogState state = {0, 0, start, start, NOT_REPORTED, false, false, args.csv != nullptr, 0};

    bool lost = false;
    bool writeFailed = !log_put(state, CSV_HEADER, out);
    std::uint8_t buffer[LINE_READ_SIZE];
    while (!writeFailed && !ops.stopRequested(ops.context)) {
        std::int64_t now = ops.monotonicMs(ops.context);
        if (now >= end)
            break;
        const std::int64_t wait = log_min(log_min(end - now, STOP_POLL_MS), state.refreshedAt + REFRESH_MS - now);
        const int got = ops.readLine(ops.context, buffer, LINE_READ_SIZE, wait > 0 ? static_cast<int>(wait) : 0);
        if (got == SERIAL_READ_FAILED) {
            lost = true;
            break;
        }
        now = ops.monotonicMs(ops.context);
        if (got > 0) {
            const unsigned codesBefore = record.codeCount;
            recordBytes(&record, &assembly, buffer, got);
            if (!log_writeRows(&record, state, ops.utcMs(ops.context), out)) {
                writeFailed = true;
                break;
            }
            if (record.codeCount != codesBefore) {
                state.lastFrameAt = now;
                if (state.silent)
                    log_message(state, io, args.port, "data from the device again");
                state.silent = false;
            }
            ops.pauseMs(ops.context, READ_GAP_MS);
        }
        if (!state.silent && now - state.lastFrameAt >= SILENCE_MS) {
            state.silent = true;
            log_message(state, io, args.port, "no data from the device for 2 s");
        }
        if (now - state.refreshedAt >= REFRESH_MS) {
            if (std::fflush(out) != 0) {
                writeFailed = true;
                break;
            }
            if (showStatus)
                log_status(state, io, now);
            state.rowsAtRefresh = state.rows;
            state.refreshedAt = now;
        }
    }

    log_clearStatus(state, io);
    const bool flushed = std::fflush(out) == 0 && std::ferror(out) == 0 && (!args.csv || csv.close());
    if (writeFailed || !flushed) {
        if (!args.csv) {
            std::fprintf(io.err, "%s: cannot write to %s\n", TOOL, outName);
            return EXIT_FILE_ERROR;
        }
        csv.close();
        log_cutToWholeRows(args.csv, state.wholeBytes);
        std::fprintf(io.err, "%s: cannot write to %s; it ends after its last whole row (%lld rows)\n", TOOL,
                     outName, static_cast<long long>(state.rows));
        return EXIT_FILE_ERROR;
    }
    if (lost) {
        std::fprintf(io.err, "%s: %s: the line to the device was lost after %lld rows\n", TOOL, args.port,
                     static_cast<long long>(state.rows));
        return EXIT_LINE_LOST;
    }
    return EXIT_DONE;
}
