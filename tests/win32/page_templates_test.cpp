// The four parameter page templates as the dialog manager builds them: every control's place, kind, style, text and tab
// order, and every label whole in the font it is drawn with.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

// This test's own copy of the page layouts, in dialog units.
enum class Kind { Combo, Edit, RightLabel, LeftLabel, Group };

struct Item {
    Kind kind;
    int id; // -1 for labels and group boxes
    const char *text;
    int x, y, width, height; // a combo box's height includes its drop-down list
};

struct PageLayout {
    int templateId;
    const char *name;
    int width, height;
    std::vector<Item> items; // combo boxes and edits in tab order
};

constexpr int NO_ID = -1;
constexpr int FONT_POINTS = 10;
constexpr int SCROLLING_ITEM_COUNT = 40; // more than any of the drop-down lists shows
constexpr char FONT_FACE[] = "MS Sans Serif";
constexpr int ABOUT_TEMPLATE_ID = 101;

// The rows of a Limit page: label, field, unit label.
std::vector<Item> limitPageItems()
{
    return {
        {Kind::RightLabel, NO_ID, "Limit", 25, 9, 23, 8},
        {Kind::Combo, 1010, "", 60, 8, 41, 51},
        {Kind::RightLabel, NO_ID, "Setpoint", 17, 33, 31, 8},
        {Kind::Edit, 1011, "", 60, 31, 40, 12},
        {Kind::LeftLabel, NO_ID, "%", 104, 33, 8, 8},
        {Kind::RightLabel, NO_ID, "Tr", 19, 57, 29, 8},
        {Kind::Edit, 1013, "", 60, 55, 40, 12},
        {Kind::LeftLabel, NO_ID, "s", 104, 57, 8, 8},
        {Kind::RightLabel, NO_ID, "Auto Reset", 14, 80, 34, 8},
        {Kind::Combo, 1014, "", 60, 79, 41, 51},
        {Kind::RightLabel, NO_ID, "Hysteresis", 14, 104, 34, 8},
        {Kind::Edit, 1012, "", 60, 103, 40, 12},
        {Kind::LeftLabel, NO_ID, "%", 104, 105, 8, 8},
    };
}

const std::vector<PageLayout> &pageLayouts()
{
    static const std::vector<PageLayout> layouts = {
        {200, "Limit 1", 142, 134, limitPageItems()},
        {203, "Limit 2", 142, 134, limitPageItems()},
        {204,
         "dPdt",
         142,
         134,
         {
             {Kind::RightLabel, NO_ID, "Limit", 25, 9, 23, 8},
             {Kind::Combo, 1010, "", 60, 8, 41, 51},
             {Kind::RightLabel, NO_ID, "Setpoint", 17, 33, 31, 8},
             {Kind::Edit, 1011, "", 60, 31, 40, 12},
             {Kind::LeftLabel, NO_ID, "%", 104, 33, 8, 8},
             {Kind::RightLabel, NO_ID, "dV/dt", 19, 57, 29, 8},
             {Kind::Edit, 1048, "", 60, 55, 40, 12},
             {Kind::LeftLabel, NO_ID, "%", 104, 57, 8, 8},
         }},
        {202,
         "Setup",
         189,
         287,
         {
             {Kind::Group, NO_ID, "Timers", 7, 3, 120, 41},
             {Kind::Group, NO_ID, "Analogue output", 7, 48, 120, 53},
             {Kind::Group, NO_ID, "Zoom", 7, 104, 120, 42},
             {Kind::Group, NO_ID, "Outputs", 7, 149, 120, 32},
             {Kind::Group, NO_ID, "Control functions", 7, 184, 120, 45},
             {Kind::RightLabel, NO_ID, "Timer Range", 7, 16, 41, 8},
             {Kind::Combo, 1026, "", 60, 15, 41, 32},
             {Kind::LeftLabel, NO_ID, "s", 102, 17, 8, 8},
             {Kind::RightLabel, NO_ID, "Ts", 7, 31, 41, 8},
             {Kind::Edit, 1034, "", 60, 29, 40, 12},
             {Kind::LeftLabel, NO_ID, "s", 102, 31, 8, 8},
             {Kind::RightLabel, NO_ID, "Iout", 19, 59, 29, 8},
             {Kind::Combo, 1027, "", 60, 57, 41, 53},
             {Kind::RightLabel, NO_ID, "Polarity", 17, 73, 31, 8},
             {Kind::Combo, 1028, "", 60, 71, 41, 32},
             {Kind::RightLabel, NO_ID, "P1Max", 22, 117, 26, 8},
             {Kind::Edit, 1030, "", 60, 114, 40, 12},
             {Kind::LeftLabel, NO_ID, "%", 102, 116, 8, 8},
             {Kind::RightLabel, NO_ID, "P1Min", 14, 131, 34, 8},
             {Kind::Edit, 1031, "", 60, 129, 40, 12},
             {Kind::LeftLabel, NO_ID, "%", 102, 131, 8, 8},
             {Kind::RightLabel, NO_ID, "Polarity", 16, 163, 32, 8},
             {Kind::Combo, 1033, "", 60, 162, 41, 50},
             {Kind::RightLabel, NO_ID, "Auto Shut Down", 9, 198, 47, 8},
             {Kind::Combo, 1035, "", 60, 197, 41, 50},
             {Kind::RightLabel, NO_ID, "Filter", 25, 87, 23, 8},
             {Kind::Combo, 1029, "", 60, 85, 41, 46},
             {Kind::LeftLabel, NO_ID, "Zero", 41, 213, 15, 8},
             {Kind::Combo, 1036, "", 60, 212, 41, 50},
         }},
    };
    return layouts;
}

bool isField(Kind kind)
{
    return kind == Kind::Combo || kind == Kind::Edit;
}

// What the dialog manager made of one child window.
struct Built {
    HWND window;
    Kind kind;
    bool known; // a kind the layouts use at all
    int id;
    std::string text;
    RECT place; // left, top, width, height in pixels of the page's client area
    LONG style;
    LONG exStyle;
};

std::string windowText(HWND window)
{
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// What wine takes off a drop-down combo box's created height to make the
// height of its CB_GETDROPPEDCONTROLRECT: measured on a scratch combo box,
// since it is fixed when the box is created, in the system font, before the
// page's font is set (the box's own height then follows that font).
int droppedRectShortfall(HWND page)
{
    constexpr int SCRATCH_HEIGHT = 100;
    HWND combo = CreateWindowExA(0, "ComboBox", "", WS_CHILD | CBS_DROPDOWN, 0, 0, 50, SCRATCH_HEIGHT, page,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    RECT dropped;
    SendMessageA(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    DestroyWindow(combo);
    return SCRATCH_HEIGHT - (dropped.bottom - dropped.top);
}

Built describe(HWND page, HWND child)
{
    Built b{};
    b.window = child;
    b.id = static_cast<short>(GetDlgCtrlID(child)); // -1 comes back as 0xFFFF
    b.text = windowText(child);
    b.style = GetWindowLongA(child, GWL_STYLE);
    b.exStyle = GetWindowLongA(child, GWL_EXSTYLE);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT *>(&r), 2);
    b.place = {r.left, r.top, r.right - r.left, r.bottom - r.top};

    char cls[32] = "";
    GetClassNameA(child, cls, sizeof cls);
    const std::string name = cls;
    b.known = true;
    if (name == "ComboBox") {
        b.kind = Kind::Combo;
        // The template's height includes the drop-down list.
        RECT dropped;
        SendMessageA(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        b.place.bottom = dropped.bottom - dropped.top + droppedRectShortfall(page);
    } else if (name == "Edit") {
        b.kind = Kind::Edit;
    } else if (name == "Static") {
        b.kind = (b.style & SS_TYPEMASK) == SS_RIGHT ? Kind::RightLabel : Kind::LeftLabel;
        b.known = (b.style & SS_TYPEMASK) == SS_RIGHT || (b.style & SS_TYPEMASK) == SS_LEFT;
    } else if (name == "Button" && (b.style & BS_TYPEMASK) == BS_GROUPBOX) {
        b.kind = Kind::Group;
    } else {
        b.known = false;
    }
    return b;
}

// Left, top, width and height mapped one by one, as the dialog manager does.
RECT pixels(HWND page, int x, int y, int width, int height)
{
    RECT r = {x, y, width, height};
    MapDialogRect(page, &r);
    return r;
}

RECT pixels(HWND page, const Item &item)
{
    return pixels(page, item.x, item.y, item.width, item.height);
}

bool samePlace(const RECT &a, const RECT &b)
{
    return EqualRect(&a, &b) != FALSE;
}

std::string describePlace(const RECT &r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right) + "x" +
           std::to_string(r.bottom);
}

INT_PTR CALLBACK plainPageProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A hidden top-level window to hold the pages: they are child windows, as in the sheet.
class PageTemplates : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        host = CreateWindowExA(0, "STATIC", "pages", WS_POPUP, 0, 0, 640, 640, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(host, nullptr) << "no window could be created: does the session have a display?";
    }
    void TearDown() override
    {
        if (host != nullptr)
            DestroyWindow(host);
    }
    HWND host = nullptr;
};

TEST_F(PageTemplates, EveryControlAsTheLayoutTablesGiveIt)
{
    for (const PageLayout &layout : pageLayouts()) {
        SCOPED_TRACE(layout.name);
        HWND page = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(layout.templateId), host,
                                       plainPageProc, 0);
        ASSERT_NE(page, nullptr) << "template " << layout.templateId << ", error " << GetLastError();

        // A page is a child of the sheet, hidden and disabled until shown.
        const LONG pageStyle = GetWindowLongA(page, GWL_STYLE);
        EXPECT_TRUE(pageStyle & WS_CHILD);
        EXPECT_TRUE(pageStyle & WS_DISABLED);

        RECT client;
        GetClientRect(page, &client);
        EXPECT_TRUE(samePlace(client, pixels(page, 0, 0, layout.width, layout.height)))
            << "page client " << describePlace(client);

        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, FONT_FACE);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -MulDiv(FONT_POINTS, GetDeviceCaps(screen, LOGPIXELSY), 72));
        ReleaseDC(nullptr, screen);

        std::vector<Built> built;
        for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            built.push_back(describe(page, child));
        EXPECT_EQ(built.size(), layout.items.size());

        std::vector<bool> matched(built.size(), false);
        for (const Item &item : layout.items) {
            SCOPED_TRACE(std::string("item \"") + item.text + "\" id " + std::to_string(item.id));
            const RECT expected = pixels(page, item);
            // Fields by id; labels and group boxes by their place and text.
            int found = -1;
            for (std::size_t i = 0; i < built.size() && found < 0; ++i) {
                const Built &b = built[i];
                if (matched[i] || !b.known || b.kind != item.kind || b.id != item.id)
                    continue;
                if (isField(item.kind) || (samePlace(b.place, expected) && b.text == item.text))
                    found = static_cast<int>(i);
            }
            if (found < 0) {
                ADD_FAILURE() << "no such control at " << describePlace(expected);
                continue;
            }
            matched[found] = true;
            const Built &b = built[found];
            EXPECT_TRUE(samePlace(b.place, expected))
                << "at " << describePlace(b.place) << ", expected " << describePlace(expected);
            EXPECT_TRUE(b.style & WS_VISIBLE);

            switch (item.kind) {
            case Kind::Combo: {
                EXPECT_EQ(b.style & 3, CBS_DROPDOWN); // the low two bits hold the combo's type
                EXPECT_TRUE(b.style & WS_TABSTOP);
                // The combo box hands its scroll bar to its list, which
                // shows it once there are more items than fit.
                for (int i = 0; i < SCROLLING_ITEM_COUNT; ++i)
                    SendMessageA(b.window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("item"));
                COMBOBOXINFO info{};
                info.cbSize = sizeof info;
                ASSERT_TRUE(GetComboBoxInfo(b.window, &info));
                EXPECT_TRUE(GetWindowLongA(info.hwndList, GWL_STYLE) & WS_VSCROLL);
                break;
            }
            case Kind::Edit:
                EXPECT_TRUE(b.style & ES_RIGHT);
                EXPECT_TRUE(b.style & ES_AUTOHSCROLL);
                EXPECT_TRUE(b.style & WS_TABSTOP);
                // The edit trades WS_BORDER for a client edge when it is created.
                EXPECT_TRUE((b.style & WS_BORDER) || (b.exStyle & WS_EX_CLIENTEDGE));
                break;
            default:
                EXPECT_FALSE(b.style & WS_TABSTOP);
                break;
            }
        }

        // The tab order is the order of the fields in the table.
        std::vector<int> expectedOrder;
        for (const Item &item : layout.items) {
            if (isField(item.kind))
                expectedOrder.push_back(item.id);
        }
        std::vector<int> tabOrder;
        for (const Built &b : built) {
            if (b.style & WS_TABSTOP)
                tabOrder.push_back(b.id);
        }
        EXPECT_EQ(tabOrder, expectedOrder);

        DestroyWindow(page);
    }
}

// A static text wider than its control is wrapped at a blank onto a line the
// control has no room for, or clipped: "Auto Reset" shows as "Auto". What it
// needs is measured in the control's own font against its client width.
TEST_F(PageTemplates, EveryLabelFitsItsControlInItsOwnFont)
{
    std::vector<int> templates;
    for (const PageLayout &layout : pageLayouts())
        templates.push_back(layout.templateId);
    templates.push_back(ABOUT_TEMPLATE_ID);
    for (int templateId : templates) {
        SCOPED_TRACE("template " + std::to_string(templateId));
        HWND dialog =
            CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), host, plainPageProc, 0);
        ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
        RECT units = {0, 0, 4, 8};
        MapDialogRect(dialog, &units);
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            char cls[32] = "";
            GetClassNameA(child, cls, sizeof cls);
            const LONG type = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
            if (lstrcmpiA(cls, "Static") != 0 || (type != SS_LEFT && type != SS_RIGHT))
                continue;
            const std::string text = windowText(child);
            HDC dc = GetDC(child);
            HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)));
            SIZE extent{};
            GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            char face[LF_FACESIZE] = "";
            GetTextFaceA(dc, sizeof face, face);
            SelectObject(dc, old);
            ReleaseDC(child, dc);
            RECT client;
            GetClientRect(child, &client);
            EXPECT_LE(extent.cx, client.right) << "\"" << text << "\" in " << face << ", dialog base units "
                                               << units.right << "x" << units.bottom;
        }
        DestroyWindow(dialog);
    }
}

} // namespace
