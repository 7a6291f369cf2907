// Parameters, Save Parameters and Load Parameters: the device check, the sheet results and every file outcome.
#include "app/parameter_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "base/result_codes.h"
#include "base/shell_messages.h"
#include "params/parameter_save.h"
#include "tests/native/fake_file_replace.h"
#include "tests/native/range_file_cases.h"

namespace {

// Scripted answers and a log of every call in order.
struct FakeParameterShell {
    bool deviceAnswers = true;
    bool userSaysYes = false;
    int sheetResult = 1;
    long fileResult = 0;
    ParameterSet file = {}; // what a load reads
    std::vector<std::string> log;
};

FakeParameterShell fake;

const ParameterOps &fakeOps()
{
    static const ParameterOps ops = {
        [](unsigned ms) {
            fake.log.push_back("reply? " + std::to_string(ms));
            return fake.deviceAnswers;
        },
        [](const char *text) {
            fake.log.push_back(std::string("ask ") + text);
            return fake.userSaysYes;
        },
        [] {
            fake.log.push_back("sheet");
            return fake.sheetResult;
        },
        [] { return 1407L; },
        [](ParameterSet *loaded) {
            fake.log.push_back("load");
            if (fake.fileResult == 0)
                *loaded = fake.file;
            return fake.fileResult;
        },
        [] {
            fake.log.push_back("save");
            return fake.fileResult;
        },
        [](const char *text) { fake.log.push_back(std::string("Error! ") + text); },
        [](const char *text, long code) {
            fake.log.push_back(std::string("Error! ") + text + ": " + std::to_string(code));
        },
        [](const char *text) { fake.log.push_back(std::string("caption ") + text); },
    };
    return ops;
}

class ParameterCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        fake = FakeParameterShell{};
    }
    using Log = std::vector<std::string>;
};

TEST_F(ParameterCommands, ParametersChecksTheDeviceThenOpensTheSheet)
{
    parametersCommand(fakeOps());
    EXPECT_EQ(fake.log, (Log{"reply? 2000", "sheet"}));
    EXPECT_EQ(uiState.transferConfirmPending, 1);

    fake = FakeParameterShell{};
    uiState.transferConfirmPending = 0;
    fake.sheetResult = 0; // Cancel: no box, nothing queued
    parametersCommand(fakeOps());
    EXPECT_EQ(fake.log, (Log{"reply? 2000", "sheet"}));
    EXPECT_EQ(uiState.transferConfirmPending, 0);
    EXPECT_TRUE(codeQueueEmpty());

    fake = FakeParameterShell{};
    fake.sheetResult = -1;
    parametersCommand(fakeOps());
    EXPECT_EQ(fake.log, (Log{"reply? 2000", "sheet", "Error! Unable to create Property sheets: 1407"}));
    EXPECT_EQ(uiState.transferConfirmPending, 0);
}

TEST_F(ParameterCommands, SilentDeviceAsksFirstAndNoEndsTheCommand)
{
    fake.deviceAnswers = false;
    parametersCommand(fakeOps());
    EXPECT_EQ(fake.log, (Log{"reply? 2000", std::string("ask ") + MSG_NOT_CONNECTED_CONTINUE}));
    EXPECT_EQ(uiState.transferConfirmPending, 0);

    fake.log.clear();
    fake.userSaysYes = true;
    parametersCommand(fakeOps());
    EXPECT_EQ(fake.log, (Log{"reply? 2000", std::string("ask ") + MSG_NOT_CONNECTED_CONTINUE, "sheet"}));
    EXPECT_EQ(uiState.transferConfirmPending, 1);
}

TEST_F(ParameterCommands, SaveShowsExactlyOneBoxForAnyFailure)
{
    const struct {
        long result;
        Log log;
    } cases[] = {
        {0, {"save"}}, // saved, or cancelled
        {ERR_SHORT_IO, {"save", "caption Parameters could not be saved"}},
        {5, {"save", "Error! Parameters could not be saved"}},
        {0xFFFF, {"save", "Error! Parameters could not be saved"}}, // a dialog error
    };
    for (const auto &c : cases) {
        fake.log.clear();
        fake.fileResult = c.result;
        saveParametersCommand(fakeOps());
        EXPECT_EQ(fake.log, c.log) << c.result;
    }
}

TEST_F(ParameterCommands, LoadSendsTheWholeSetOrSaysWhyNot)
{
    fake.file.limit1Setpoint = 80;
    queueCode(3100, 50); // left from an earlier transfer: the loaded set replaces it
    loadParametersCommand(fakeOps());
    EXPECT_EQ(codeQueueCount(), PARAMETER_COUNT);
    EXPECT_EQ(codeQueue.codes[codeQueue.read], 3000);
    EXPECT_EQ(requestedParameters.limit1Setpoint, 80);
    EXPECT_EQ(uiState.transferConfirmPending, 1);

    const struct {
        long result;
        Log log;
    } failures[] = {
        {ERR_NOT_PARAMETER_FILE, {"load", std::string("Error! ") + MSG_NOT_PARAMETER_FILE}},
        {ERR_LOAD_CANCELLED, {"load"}},
        {32, {"load", "Error! Parameters could not be loaded: 32"}},
    };
    for (const auto &f : failures) {
        resetAppState();
        fake.log.clear();
        fake.fileResult = f.result;
        loadParametersCommand(fakeOps());
        EXPECT_EQ(fake.log, f.log) << f.result;
        EXPECT_TRUE(codeQueueEmpty()) << f.result;
        EXPECT_EQ(uiState.transferConfirmPending, 0) << f.result;
    }
}

TEST_F(ParameterCommands, LoadRefusesAWholeFileWhoseValueLeavesItsFieldsCodes)
{
    for (const RangeFileCase &c : RANGE_FILE_CASES) {
        resetAppState();
        fake = FakeParameterShell{};
        deviceParameters.limit1Setpoint = 42; // a refused file leaves it
        std::memcpy(&fake.file, rangeFileImage(c).data(), PARAMETER_FILE_SIZE);
        loadParametersCommand(fakeOps());
        std::vector<DeviceCode> wire; // as the device would decode it
        while (sendQueuedCode() != QueuedSend::Empty) {
            for (DeviceCode code : sentCodes())
                wire.push_back(code);
        }
        if (c.refusedField) {
            ASSERT_EQ(fake.log.size(), 2u) << c.what;
            EXPECT_EQ(fake.log[1].rfind("Error! Parameters could not be loaded:\n" + rangeRefusalText(c) + " 0..", 0),
                      0u)
                << fake.log[1];
            EXPECT_TRUE(wire.empty()) << c.what;
            EXPECT_EQ(deviceParameters.limit1Setpoint, 42) << c.what;
            EXPECT_EQ(uiState.transferConfirmPending, 0) << c.what;
            continue;
        }
        EXPECT_EQ(fake.log, (Log{"load"})) << c.what;
        ASSERT_EQ(wire.size(), static_cast<std::size_t>(CODE_MAP_COUNT)) << c.what;
        for (int i = 0; i < CODE_MAP_COUNT; ++i) { // each code inside its own field's range
            EXPECT_GE(wire[i], SEND_ORDER[i]) << c.what;
            EXPECT_LE(wire[i], codeMapEntryForBase(SEND_ORDER[i]).last) << c.what << " " << wire[i];
        }
        EXPECT_NE(std::find(wire.begin(), wire.end(), c.sentCode), wire.end()) << c.what;
        EXPECT_EQ(uiState.transferConfirmPending, 1) << c.what;
    }
}

// The save's steps: a temporary file, the block, the replacement of the old
// file; a failed write throws the temporary file away.
TEST(ParameterSave, EachFailedStepGivesItsResultAndNothingReplacesTheOldFile)
{
    struct Row {
        const char *failing;
        long result;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        {"", 0, {"begin a.614", "write 88", "commit"}},
        {"begin", 28, {"begin a.614"}},
        {"write", ERR_SHORT_IO, {"begin a.614", "write 88", "discard"}},
        {"commit", 28, {"begin a.614", "write 88", "commit"}},
    };
    ParameterSet set = {};
    set.limit1Mode = 2;
    set.limit1Setpoint = 80;
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string("failing: ") + row.failing);
        FakeFileReplace file;
        file.failing = row.failing;
        EXPECT_EQ(saveParameterBlock(file.ops(), "a.614", set), row.result);
        EXPECT_EQ(file.log, row.calls);
        if (row.calls.size() > 1) {
            EXPECT_EQ(file.written.substr(0, 4), std::string("\x02\x00\x50\x00", 4));
        }
    }
}

} // namespace
