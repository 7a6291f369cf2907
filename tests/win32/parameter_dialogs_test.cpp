// The parameter sheet and the .614 file dialogs, driven from inside their own modal loops.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <prsht.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "link/transmit.h"
#include "params/parameter_file_win32.h"
#include "params/parameter_set.h"
#include "params/parameter_sheet_win32.h"
#include "scratch_dir.h"

namespace {

// This test's own copy of the ids and codes it uses.
constexpr char SHEET_CAPTION[] = "K614 Parameters";
constexpr char SAVE_TITLE[] = "Save As"; // wine's titles for dialogs given none
constexpr char OPEN_TITLE[] = "Open";
constexpr int APPLY_BUTTON = 0x3021;
constexpr int LIMIT_MODE = 1010;
constexpr int SETPOINT = 1011;
constexpr int TR = 1013;
constexpr int TIMER_RANGE = 1026;
constexpr int TS = 1034;
constexpr int SETUP_PAGE_INDEX = 3;
constexpr UINT POLL_MS = 20;

// ---- Driving a modal dialog from a thread timer, which its message loop dispatches ----

struct ModalScript {
    const char *title;
    std::function<void(HWND)> drive;  // checks and input; may stop early on a failed assertion
    std::function<void(HWND)> finish; // always runs after drive: closes the dialog
};
ModalScript *activeScript;

BOOL CALLBACK findTitled(HWND window, LPARAM found)
{
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    if (std::strcmp(text, activeScript->title) != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

void CALLBACK pollForDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findTitled, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr)
        return;
    KillTimer(nullptr, timer);
    activeScript->drive(dialog);
    activeScript->finish(dialog);
}

// Runs the modal call; once its window (this thread's, with the title) is up,
// drives it and closes it.
template <typename Call> auto runModal(ModalScript script, Call call)
{
    activeScript = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, POLL_MS, pollForDialog);
    const auto result = call();
    KillTimer(nullptr, timer); // when the dialog never came up
    activeScript = nullptr;
    return result;
}

// A message box that a dialog shows over itself: found among this thread's
// windows by its owner, answered "No" (or "OK" when it asks nothing), and then
// the dialog under it is cancelled.
struct PromptScript {
    HWND owner;
    bool asked; // a Yes/No question came up
};
PromptScript *activePrompt;

BOOL CALLBACK findPrompt(HWND window, LPARAM found)
{
    if (GetWindow(window, GW_OWNER) != activePrompt->owner || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

void CALLBACK pollForPrompt(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND prompt = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findPrompt, reinterpret_cast<LPARAM>(&prompt));
    if (prompt == nullptr)
        return;
    KillTimer(nullptr, timer);
    activePrompt->asked = GetDlgItem(prompt, IDNO) != nullptr;
    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(activePrompt->asked ? IDNO : IDOK, BN_CLICKED), 0);
    // Taken by the dialog's own loop once the message box has ended.
    PostMessageA(activePrompt->owner, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

std::string controlText(HWND dialog, int control)
{
    char text[64] = "";
    GetDlgItemTextA(dialog, control, text, sizeof text);
    return text;
}

std::vector<DeviceCode> queuedCodes()
{
    std::vector<DeviceCode> codes;
    for (int i = codeQueue.read; i != codeQueue.write; i = (i + 1) % CODE_QUEUE_SIZE)
        codes.push_back(codeQueue.codes[i]);
    return codes;
}

// ---- The sheet ----

class ParameterSheet : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        resetTransmitPath();
        std::memset(&deviceParameters, 0, sizeof deviceParameters);
        deviceParameters.limit1Mode = 2;
        deviceParameters.limit1Setpoint = 50;
        deviceParameters.limit1Tr = 250; // 2.50 s in hundredths
        deviceParameters.limit1AutoReset = 1;
        deviceParameters.limit1Hysteresis = 5;
        deviceParameters.limit2Tr = 4000;
        deviceParameters.ts = 1234;
        deviceParameters.p1Max = 100;
        // Whatever the last sheet left: the sheet starts from the device's values.
        std::memset(&requestedParameters, 0x5A, sizeof requestedParameters);
    }

    static void press(HWND sheet, int button) { PropSheet_PressButton(sheet, button); }
};

TEST_F(ParameterSheet, OkAppliesTheShownPagesAndReturnsOne)
{
    const ParameterSet deviceBefore = deviceParameters;
    const int result = runModal(
        {SHEET_CAPTION,
         [](HWND sheet) {
             HWND tabs = PropSheet_GetTabControl(sheet);
             ASSERT_EQ(TabCtrl_GetItemCount(tabs), 4);
             const char *const titles[] = {"Limit 1", "Limit 2", "dPdt", "Setup"};
             for (int i = 0; i < 4; ++i) {
                 char title[32] = "";
                 TCITEMA item{};
                 item.mask = TCIF_TEXT;
                 item.pszText = title;
                 item.cchTextMax = sizeof title;
                 SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
                 EXPECT_STREQ(title, titles[i]);
             }
             HWND apply = GetDlgItem(sheet, APPLY_BUTTON);
             EXPECT_TRUE(apply == nullptr || !IsWindowVisible(apply));

             // Limit 1 is shown first, filled from the device's values.
             HWND limit1 = PropSheet_GetCurrentPageHwnd(sheet);
             ASSERT_NE(GetDlgItem(limit1, TR), nullptr);
             EXPECT_EQ(SendDlgItemMessageA(limit1, LIMIT_MODE, CB_GETCURSEL, 0, 0), 2);
             EXPECT_EQ(controlText(limit1, TR), "2.50");
             EXPECT_EQ(controlText(limit1, SETPOINT), "50");

             // An entry is taken when its field loses the focus.
             SetFocus(GetDlgItem(limit1, SETPOINT));
             SetDlgItemTextA(limit1, SETPOINT, "60");
             SetFocus(GetDlgItem(limit1, LIMIT_MODE));
             EXPECT_EQ(requestedParameters.limit1Setpoint, 60);

             // Setup: Timer Range to "1000" rescales and rewrites Ts at once.
             PropSheet_SetCurSel(sheet, nullptr, SETUP_PAGE_INDEX);
             HWND setup = PropSheet_GetCurrentPageHwnd(sheet);
             ASSERT_NE(GetDlgItem(setup, TS), nullptr);
             EXPECT_EQ(controlText(setup, TS), "12.34");
             HWND range = GetDlgItem(setup, TIMER_RANGE);
             SendMessageA(range, CB_SETCURSEL, 1, 0);
             SendMessageA(setup, WM_COMMAND, MAKEWPARAM(TIMER_RANGE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(range));
             EXPECT_EQ(controlText(setup, TS), "12.3");
         },
         [](HWND sheet) { press(sheet, PSBTN_OK); }},
        [] { return showParameterSheet(nullptr); });

    EXPECT_EQ(result, 1);
    // Limit 1: the setpoint, and its Tr text "2.50" read again in the new
    // unit (25, as the rescaled value), which differs from the device's 250.
    // Setup: the new range with both Tr values rescaled, and Ts. Limit 2 and
    // dPdt were never shown.
    const std::vector<DeviceCode> expected = {3100 + 60, 20000 + 25, 3030 + 1, 20000 + 25, 30000 + 400, 10000 + 123};
    EXPECT_EQ(queuedCodes(), expected);
    EXPECT_EQ(std::memcmp(&deviceParameters, &deviceBefore, sizeof deviceParameters), 0);
}

TEST_F(ParameterSheet, CancelQueuesNothingAndReturnsZero)
{
    const int result = runModal({SHEET_CAPTION,
                                 [](HWND sheet) {
                                     HWND limit1 = PropSheet_GetCurrentPageHwnd(sheet);
                                     SetDlgItemTextA(limit1, SETPOINT, "70");
                                     PropSheet_SetCurSel(sheet, nullptr, SETUP_PAGE_INDEX);
                                 },
                                 [](HWND sheet) { press(sheet, PSBTN_CANCEL); }},
                                [] { return showParameterSheet(nullptr); });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(codeQueueEmpty());
}

// ---- The file dialogs ----

class ParameterFileDialogs : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&deviceParameters, 0, sizeof deviceParameters); }

    // Types the name into the dialog's file name field and confirms it.
    static std::function<void(HWND)> choose(const std::string &name)
    {
        return [name](HWND dialog) {
            HWND field = GetDlgItem(dialog, cmb13);
            if (field == nullptr)
                field = GetDlgItem(dialog, edt1);
            SetWindowTextA(field, name.c_str());
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        };
    }
    static void cancel(HWND dialog) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }
    static void nothing(HWND) {}

    static std::string blockImage()
    {
        return std::string(reinterpret_cast<const char *>(&deviceParameters), PARAMETER_FILE_SIZE);
    }

    ScratchDir dir;
};

TEST_F(ParameterFileDialogs, SaveWritesTheBlockUnderTheChosenNameWithTheDefaultExtension)
{
    deviceParameters.limit1Mode = 2;
    deviceParameters.limit1Setpoint = 80;
    const long result = runModal({SAVE_TITLE,
                                  [](HWND dialog) {
                                      EXPECT_EQ(controlText(dialog, cmb1), "K614 File (*.614)");
                                  },
                                  choose(dir.path("saved"))},
                                 [] { return saveParameterFile(nullptr); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readWholeFile(dir.path("saved.614")), blockImage());

    EXPECT_EQ(runModal({SAVE_TITLE, nothing, cancel}, [] { return saveParameterFile(nullptr); }), 0);
}

// The save dialog asks before it replaces a file; the open dialog asks before
// it offers a missing name for creation. Answered "No", nothing is written.
TEST_F(ParameterFileDialogs, SaveAsksBeforeReplacingAndOpenBeforeCreating)
{
    const std::string old = "an older file";
    writeWholeFile(dir.path("kept.614"), old);
    const std::string missing = dir.path("missing.614");
    const struct {
        const char *title;
        std::string name;
        long (*command)(HWND);
        long cancelled;
    } rows[] = {{SAVE_TITLE, dir.path("kept.614"), saveParameterFile, 0},
                {OPEN_TITLE, missing, [](HWND owner) { return loadParameterFile(owner, &deviceParameters); },
                 ERR_LOAD_CANCELLED}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.title);
        PromptScript prompt{nullptr, false};
        UINT_PTR promptTimer = 0;
        const long result = runModal({r.title,
                                      [&](HWND dialog) {
                                          prompt.owner = dialog;
                                          activePrompt = &prompt;
                                          promptTimer = SetTimer(nullptr, 0, POLL_MS, pollForPrompt);
                                      },
                                      choose(r.name)},
                                     [&] { return r.command(nullptr); });
        KillTimer(nullptr, promptTimer); // when no message box came up
        activePrompt = nullptr;
        EXPECT_TRUE(prompt.asked);
        EXPECT_EQ(result, r.cancelled);
    }
    EXPECT_EQ(readWholeFile(dir.path("kept.614")), old);
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ParameterFileDialogs, LoadTakesAWholeBlockRefusesAShortFileAndReportsCancel)
{
    std::string image(PARAMETER_FILE_SIZE, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 5 + 1);
    writeWholeFile(dir.path("set.614"), image);
    writeWholeFile(dir.path("short.614"), std::string(40, '\x11'));

    const long loaded = runModal({OPEN_TITLE,
                                  [](HWND dialog) {
                                      EXPECT_EQ(controlText(dialog, cmb1), "K614 File (*.614)");
                                      HWND readOnly = GetDlgItem(dialog, chx1);
                                      EXPECT_TRUE(readOnly == nullptr || !IsWindowVisible(readOnly));
                                  },
                                  choose(dir.path("set.614"))},
                                 [] { return loadParameterFile(nullptr, &deviceParameters); });
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(blockImage(), image);

    EXPECT_EQ(runModal({OPEN_TITLE, nothing, choose(dir.path("short.614"))},
                       [] { return loadParameterFile(nullptr, &deviceParameters); }),
              ERR_NOT_PARAMETER_FILE);
    EXPECT_EQ(blockImage(), image);

    EXPECT_EQ(runModal({OPEN_TITLE, nothing, cancel}, [] { return loadParameterFile(nullptr, &deviceParameters); }),
              ERR_LOAD_CANCELLED);
    EXPECT_EQ(blockImage(), image);
}

} // namespace
