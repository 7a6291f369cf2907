// The About box as the dialog manager builds it from the program's resources: caption, texts, icon and OK.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// This test's own copy of the template's id and texts.
constexpr int ABOUT_TEMPLATE_ID = 101;
constexpr char ABOUT_CAPTION[] = "About";
constexpr char PROGRAM_NAME[] = "K614Mon";
constexpr char VERSION_TEXT[] = "Version: 2.1";

std::string windowText(HWND window)
{
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool isStatic(HWND window)
{
    char cls[32] = "";
    GetClassNameA(window, cls, sizeof cls);
    return lstrcmpiA(cls, "Static") == 0;
}

INT_PTR CALLBACK plainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(AboutBox, NamesTheProgramAndItsVersion)
{
    HWND box = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(ABOUT_TEMPLATE_ID), nullptr,
                                  plainDialogProc, 0);
    ASSERT_NE(box, nullptr) << "error " << GetLastError() << ": does the session have a display?";
    EXPECT_EQ(windowText(box), ABOUT_CAPTION);

    std::vector<std::string> labels;
    int icons = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!isStatic(child))
            continue;
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            ++icons;
            EXPECT_NE(SendMessageA(child, STM_GETICON, 0, 0), 0) << "the icon was loaded";
        } else {
            labels.push_back(windowText(child));
        }
    }
    EXPECT_EQ(labels, (std::vector<std::string>{PROGRAM_NAME, VERSION_TEXT}));
    EXPECT_EQ(icons, 1);

    HWND ok = GetDlgItem(box, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(windowText(ok), "OK");
    DestroyWindow(box);
}

} // namespace
