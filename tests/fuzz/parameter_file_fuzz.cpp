// libFuzzer target: any byte block loaded as a .614 file, then the snapshot, verify and queueing of the whole set.
//
// The load runs through loadParametersCommand with a loader that reads as
// readParameterBlock does: fewer than 88 bytes are refused, otherwise the
// first 88 bytes are the file's block. A block with a value outside its
// field's codes is refused whole; any other replaces deviceParameters. One
// byte after those 88 (when there is one) picks how many codes already wait;
// the next, when odd, reduces every value into its field's range first, so
// that both outcomes are reached often.
#include <cstdint>
#include <cstring>

#include "app/parameter_commands.h"
#include "app/ui_state.h"
#include "base/result_codes.h"
#include "base/shell_messages.h"
#include "fuzz_input.h"
#include "link/frame_codec.h"
#include "tests/native/test_state.h"

namespace {

ParameterSet fileBlock;
std::size_t fileSize;
int errorsShown;
char lastError[CODE_MESSAGE_SIZE];

long loadFuzzedFile(ParameterSet *loaded)
{
    if (fileSize < PARAMETER_FILE_SIZE)
        return ERR_NOT_PARAMETER_FILE;
    *loaded = fileBlock;
    return 0;
}

void showError(const char *text)
{
    check(std::strlen(text) < sizeof lastError);
    std::strcpy(lastError, text);
    ++errorsShown;
}

// A load never asks the device, opens the sheet or reports a code.
bool unexpectedReplyCheck(unsigned) { check(false); return false; }
bool unexpectedAsk(const char *) { check(false); return false; }
int unexpectedSheet() { check(false); return 0; }
long unexpectedCall() { check(false); return 0; }
void unexpectedText(const char *) { check(false); }
void unexpectedCode(const char *, long) { check(false); }

ParameterOps loadOps()
{
    ParameterOps ops{};
    ops.replyCheck = unexpectedReplyCheck;
    ops.askContinue = unexpectedAsk;
    ops.showSheet = unexpectedSheet;
    ops.lastError = unexpectedCall;
    ops.loadFile = loadFuzzedFile;
    ops.saveFile = unexpectedCall;
    ops.showError = showError;
    ops.showErrorCode = unexpectedCode;
    ops.showCaptionError = unexpectedText;
    return ops;
}

// The codes waiting in the queue, oldest first.
int queuedCodes(DeviceCode out[CODE_QUEUE_SIZE])
{
    int n = 0;
    for (int i = codeQueue.read; i != codeQueue.write; i = (i + 1) % CODE_QUEUE_SIZE)
        out[n++] = codeQueue.codes[i];
    return n;
}

// Sends every waiting code through the byte ring and decodes the frames as the
// device would; returns their number.
int drainToWire(DeviceCode out[CODE_QUEUE_SIZE])
{
    int n = 0;
    for (;;) {
        const QueuedSend sent = sendQueuedCode();
        std::uint8_t wire[TX_RING_SIZE];
        const int bytes = txRingTake(wire);
        check(bytes % static_cast<int>(FRAME_SIZE) == 0);
        for (int i = 0; i < bytes; i += static_cast<int>(FRAME_SIZE)) {
            check(wire[i + 5] == FRAME_END);
            std::uint8_t collected[8] = {wire[i], wire[i + 1], wire[i + 2], wire[i + 3], wire[i + 4], 0};
            check(checksumValid(collected));
            check(n < CODE_QUEUE_SIZE);
            out[n++] = decodeFrame(collected);
        }
        if (sent == QueuedSend::Empty)
            return n;
    }
}

DeviceCode fieldCode(const ParameterField &f, const ParameterSet &p)
{
    return static_cast<DeviceCode>((f.base + p.*f.member) & 0xFFFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    resetCoreState();
    resetUiState();
    // Earlier values that a refused file must leave alone and a loaded one must replace.
    std::memset(&deviceParameters, 0x5A, sizeof deviceParameters);
    std::memset(&requestedParameters, 0xC3, sizeof requestedParameters);
    const ParameterSet deviceBefore = deviceParameters;
    const ParameterSet requestedBefore = requestedParameters;
    const int waiting = size > PARAMETER_FILE_SIZE ? data[PARAMETER_FILE_SIZE] % CODE_QUEUE_SIZE : 0;
    for (int i = 0; i < waiting; ++i)
        check(queueCode(CMD_SPACE_KEY, 0));

    fileSize = size;
    std::memset(&fileBlock, 0, sizeof fileBlock);
    if (size > 0)
        std::memcpy(&fileBlock, data, size < PARAMETER_FILE_SIZE ? size : PARAMETER_FILE_SIZE);
    if (size > PARAMETER_FILE_SIZE + 1 && (data[PARAMETER_FILE_SIZE + 1] & 1)) {
        for (const ParameterField &f : PARAMETER_FIELDS)
            fileBlock.*f.member = static_cast<std::uint16_t>(fileBlock.*f.member % (fieldValueLimit(f) + 1));
    }
    const ParameterField *outside = firstFieldOutOfRange(fileBlock);
    errorsShown = 0;
    loadParametersCommand(loadOps());

    DeviceCode codes[CODE_QUEUE_SIZE];
    if (size < PARAMETER_FILE_SIZE || outside) {
        // Refused whole: one message, nothing stored, nothing sent.
        check(errorsShown == 1);
        if (size < PARAMETER_FILE_SIZE) {
            check(std::strcmp(lastError, MSG_NOT_PARAMETER_FILE) == 0);
        } else {
            char range[FIELD_RANGE_TEXT_SIZE];
            formatFieldOutOfRange(*outside, fileBlock, range, sizeof range);
            check(std::strncmp(lastError, MSG_NOT_LOADED, std::strlen(MSG_NOT_LOADED)) == 0);
            check(std::strstr(lastError, range) != nullptr);
            check(std::strncmp(range, outside->name, std::strlen(outside->name)) == 0);
        }
        check(std::memcmp(&deviceParameters, &deviceBefore, sizeof deviceParameters) == 0);
        check(std::memcmp(&requestedParameters, &requestedBefore, sizeof requestedParameters) == 0);
        check(codeQueueCount() == waiting);
        check(uiState.transferConfirmPending == 0);
        return 0;
    }

    // The whole block is stored, byte for byte; the snapshot takes the 23
    // numeric fields and nothing else.
    check(errorsShown == 0);
    check(std::memcmp(&deviceParameters, &fileBlock, PARAMETER_FILE_SIZE) == 0);
    for (const ParameterField &f : PARAMETER_FIELDS)
        check(requestedParameters.*f.member == deviceParameters.*f.member);
    check(std::memcmp(requestedParameters.unitText, requestedBefore.unitText, UNIT_TEXT_SIZE) == 0);
    check(std::memcmp(requestedParameters.reserved, requestedBefore.reserved, sizeof requestedParameters.reserved) ==
          0);
    check(verifyParameters());
    check(uiState.transferConfirmPending == 1);

    // The unit text as the GUI sees it: at most 32 characters, always terminated.
    char unit[UNIT_TEXT_SIZE + 1];
    std::memset(unit, 0x7F, sizeof unit);
    copyUnitText(unit);
    check(std::strlen(unit) == strnlen(deviceParameters.unitText, UNIT_TEXT_SIZE));
    check(unitTextKnown() == (deviceParameters.unitText[0] != 0));

    // Verify notices a change in any one field.
    const ParameterField &changed = PARAMETER_FIELDS[data[0] % PARAMETER_COUNT];
    requestedParameters.*changed.member ^= 1;
    check(!verifyParameters());
    requestedParameters.*changed.member ^= 1;
    check(verifyParameters());

    // The waiting codes gave way to the whole set, in send order, each code
    // one that the device stores in that same field.
    check(queuedCodes(codes) == PARAMETER_COUNT);
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        check(codes[i] == fieldCode(PARAMETER_FIELDS[i], deviceParameters));
        check(parameterFieldForCode(codes[i]) == &PARAMETER_FIELDS[i]);
    }

    // With 23 waiting, a second set does not fit and nothing of it is queued.
    check(!queueParameterSet());
    check(codeQueueCount() == PARAMETER_COUNT);

    // On the wire, frame by frame, the same codes.
    check(drainToWire(codes) == PARAMETER_COUNT);
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        check(codes[i] == fieldCode(PARAMETER_FIELDS[i], deviceParameters));
    check(codeQueueEmpty());

    // queueParameterSet alone: all or nothing against the codes already waiting.
    for (int i = 0; i < waiting; ++i)
        check(queueCode(CMD_SPACE_KEY, 0));
    const bool fits = CODE_QUEUE_SIZE - 1 - waiting >= PARAMETER_COUNT;
    check(queueParameterSet() == fits);
    check(codeQueueCount() == waiting + (fits ? PARAMETER_COUNT : 0));
    discardQueuedCodes();
    check(codeQueueEmpty());
    return 0;
}
