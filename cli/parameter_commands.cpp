// k614ctl's parameter commands: read, write with verify, show and diff.
#include "cli/parameter_commands.h"

#include <cstring>

#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/line_record.h"
#include "cli/parameter_file.h"
#include "link/frame_codec.h"

static constexpr char TOOL[] = "k614ctl";

enum class LineWait { done, timedOut, lineLost };

static bool device_sendCode(const CtlOps &ops, DeviceCode code)
{
    std::uint8_t frame[FRAME_SIZE];
    encodeFrame(code, frame);
    return ops.writeLine(ops.context, frame, static_cast<int>(FRAME_SIZE));
}

// Reads and records what the device sends until the monotonic clock reaches
// `until`, or earlier once `done` holds for the record.
static LineWait device_readUntil(const CtlOps &ops, LineRecord *record, FrameAssembly *assembly, std::int64_t until,
                                 bool (*done)(const LineRecord &))
{
    std::uint8_t buffer[LINE_READ_SIZE];
    for (;;) {
        if (done && done(*record))
            return LineWait::done;
        const std::int64_t left = until - ops.monotonicMs(ops.context);
        if (left <= 0)
            return done ? LineWait::timedOut : LineWait::done;
        const int got = ops.readLine(ops.context, buffer, LINE_READ_SIZE, static_cast<int>(left));
        if (got == SERIAL_READ_FAILED)
            return LineWait::lineLost;
        recordBytes(record, assembly, buffer, got);
        // Nobody reads the rows here; the measurements go on all the same.
        record->rowCount = 0;
    }
}

static bool device_answerComplete(const LineRecord &record)
{
    return answerComplete(record.answer);
}

// The upload request and the whole answer to it.
static LineWait device_upload(const CtlOps &ops, LineRecord *record, FrameAssembly *assembly)
{
    beginAnswer(record);
    if (!device_sendCode(ops, CMD_REQUEST_UPLOAD))
        return LineWait::lineLost;
    return device_readUntil(ops, record, assembly, ops.monotonicMs(ops.context) + ANSWER_WAIT_MS,
                            device_answerComplete);
}

static int device_waitError(LineWait wait, const LineRecord &record, const char *port, const CtlIo &io)
{
    if (wait == LineWait::lineLost) {
        std::fprintf(io.err, "%s: %s: the line to the device was lost\n", TOOL, port);
        return EXIT_LINE_LOST;
    }
    if (record.answer.started)
        std::fprintf(io.err, "%s: %s: the device's answer stopped before its end (%d s)\n", TOOL, port,
                     ANSWER_WAIT_MS / 1000);
    else
        std::fprintf(io.err, "%s: %s: device did not answer (%d s)\n", TOOL, port, ANSWER_WAIT_MS / 1000);
    return EXIT_NO_ANSWER;
}

static int file_error(const char *reason, const CtlIo &io)
{
    std::fprintf(io.err, "%s: %s\n", TOOL, reason);
    return EXIT_FILE_ERROR;
}

static int output_result(bool written, const CtlIo &io)
{
    if (written && std::fflush(io.out) == 0)
        return EXIT_DONE;
    std::fprintf(io.err, "%s: cannot write the output\n", TOOL);
    return EXIT_FILE_ERROR;
}

int runRead(const CtlArgs &args, const CtlOps &ops, const CtlIo &io)
{
    ScopedLine line(ops, args.port);
    if (line.result() != SerialOpenResult::ok)
        return openPortError(line.result(), args.port, io);
    LineRecord record;
    resetLineRecord(&record);
    FrameAssembly assembly = {};
    const LineWait wait = device_upload(ops, &record, &assembly);
    if (wait != LineWait::done)
        return device_waitError(wait, record, args.port, io);

    const ParameterSet &set = record.answer.set;
    if (args.output) {
        char reason[FILE_MESSAGE_SIZE];
        if (!saveParameterFile(ops.outputFile, args.output, set, reason, sizeof reason))
            return file_error(reason, io);
        return EXIT_DONE;
    }
    return output_result(args.json ? writeJson(io.out, set) : writeListing(io.out, set), io);
}

static DeviceCode write_code(const ParameterField &f, const ParameterSet &set)
{
    // base + value: write_valuesFit has made sure it is one of the field's own codes.
    return static_cast<DeviceCode>(f.base + set.*f.member);
}

// A value past its field's codes would go out as another field's code or as a
// device command (65050 and up): such a file is refused whole, before the
// port is opened, naming the first field outside.
static bool write_valuesFit(const char *path, const ParameterSet &set, const CtlIo &io)
{
    const ParameterField *outside = firstFieldOutOfRange(set);
    if (!outside)
        return true;
    char range[FIELD_RANGE_TEXT_SIZE];
    formatFieldOutOfRange(*outside, set, range, sizeof range);
    std::fprintf(io.err, "%s: %s: %s; nothing sent\n", TOOL, path, range);
    return false;
}

int runWrite(const CtlArgs &args, const CtlOps &ops, const CtlIo &io)
{
    ParameterSet wanted;
    char reason[FILE_MESSAGE_SIZE];
    if (!loadParameterFile(args.file, &wanted, reason, sizeof reason))
        return file_error(reason, io);
    if (!write_valuesFit(args.file, wanted, io))
        return EXIT_FILE_ERROR;
    if (args.dryRun) {
        for (const ParameterField &f : PARAMETER_FIELDS)
            std::fprintf(io.out, "%s %u\n", f.name, static_cast<unsigned>(write_code(f, wanted)));
        return output_result(true, io);
    }

    ScopedLine line(ops, args.port);
    if (line.result() != SerialOpenResult::ok)
        return openPortError(line.result(), args.port, io);
    LineRecord record;
    resetLineRecord(&record);
    FrameAssembly assembly = {};
    // One code per tick on a schedule from the first: a late tick does not
    // push the ones after it back. Between ticks the line is read, so that
    // the device's stream never piles up.
    const std::int64_t start = ops.monotonicMs(ops.context);
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        const LineWait wait = device_readUntil(ops, &record, &assembly, start + i * CODE_SPACING_MS, nullptr);
        if (wait == LineWait::lineLost || !device_sendCode(ops, write_code(PARAMETER_FIELDS[i], wanted)))
            return device_waitError(LineWait::lineLost, record, args.port, io);
    }
    // The upload request takes the next tick.
    const LineWait spaced =
        device_readUntil(ops, &record, &assembly, start + PARAMETER_COUNT * CODE_SPACING_MS, nullptr);
    if (spaced == LineWait::lineLost)
        return device_waitError(spaced, record, args.port, io);
    const LineWait wait = device_upload(ops, &record, &assembly);
    if (wait != LineWait::done)
        return device_waitError(wait, record, args.port, io);
    if (writeVerifyDifferences(io.out, wanted, record.answer.set) > 0) {
        std::fflush(io.out);
        return EXIT_DIFFER;
    }
    std::fprintf(io.out, "%d parameters sent and verified\n", PARAMETER_COUNT);
    return output_result(true, io);
}

int runShow(const CtlArgs &args, const CtlIo &io)
{
    ParameterSet set;
    char reason[FILE_MESSAGE_SIZE];
    if (!loadParameterFile(args.file, &set, reason, sizeof reason))
        return file_error(reason, io);
    return output_result(args.json ? writeJson(io.out, set) : writeListing(io.out, set), io);
}

int runDiff(const CtlArgs &args, const CtlIo &io)
{
    ParameterSet a, b;
    char reason[FILE_MESSAGE_SIZE];
    if (!loadParameterFile(args.file, &a, reason, sizeof reason) ||
        !loadParameterFile(args.fileB, &b, reason, sizeof reason))
        return file_error(reason, io);
    const int differences = writeSetDifferences(io.out, a, b);
    const int written = output_result(true, io);
    if (written != EXIT_DONE)
        return written;
    return differences > 0 ? EXIT_DIFFER : EXIT_DONE;
}
