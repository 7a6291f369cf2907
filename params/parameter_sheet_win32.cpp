// The parameter property sheet (Win32): the sheet header, the page procedures and the dialog calls behind PageOps.
#include "params/parameter_sheet_win32.h"

#include <commctrl.h>
#include <prsht.h>

#include "params/parameter_pages.h"
#include "params/parameter_set.h"

static constexpr char SHEET_CAPTION[] = "K614 Parameters";

// The sheet window, recorded by each page as it is created (all pages share
// it). PSM_UNCHANGED goes there.
static HWND sheetWindow;

// ---- PageOps over the page's dialog controls ----

static HWND pageWindow(void *page)
{
    return static_cast<HWND>(page);
}

static void pageAddItem(void *page, int control, int index, const char *text)
{
    SendDlgItemMessageA(pageWindow(page), control, CB_INSERTSTRING, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text));
}

static void pageSelect(void *page, int control, int index)
{
    SendDlgItemMessageA(pageWindow(page), control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

static int pageSelection(void *page, int control)
{
    return static_cast<int>(SendDlgItemMessageA(pageWindow(page), control, CB_GETCURSEL, 0, 0));
}

static void pageEnable(void *page, int control, bool enabled)
{
    EnableWindow(GetDlgItem(pageWindow(page), control), enabled ? TRUE : FALSE);
}

static void pageShowNumber(void *page, int control, unsigned value)
{
    SetDlgItemInt(pageWindow(page), control, value, FALSE);
}

// No success flag: text that is not a number reads as 0, and a number past
// 16 bits comes back whole (65541 stays 65541), for the page rules to bound.
static unsigned long pageReadNumber(void *page, int control)
{
    return GetDlgItemInt(pageWindow(page), control, nullptr, FALSE);
}

static void pageShowText(void *page, int control, const char *text)
{
    SetDlgItemTextA(pageWindow(page), control, text);
}

static int pageReadText(void *page, int control, char *buffer, int size)
{
    return static_cast<int>(GetDlgItemTextA(pageWindow(page), control, buffer, size));
}

static void pagePostUnchanged(void *page)
{
    PostMessageA(sheetWindow, PSM_UNCHANGED, reinterpret_cast<WPARAM>(pageWindow(page)), 0);
}

static PageOps pageOps(HWND page)
{
    return PageOps{page,           pageAddItem,    pageSelect,   pageSelection,    pageEnable,
                   pageShowNumber, pageReadNumber, pageShowText, pageReadText, pagePostUnchanged};
}

// ---- The page protocol, shared by the four pages ----

static void setNotifyResult(HWND page, LONG_PTR result)
{
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
}

static INT_PTR pageNotify(ParameterPage which, HWND page, const NMHDR &header)
{
    const PageOps ops = pageOps(page);
    switch (header.code) {
    case PSN_SETACTIVE:
        // The notification result stays 0: the page accepts activation.
        activatePage(which, ops);
        return TRUE;
    case PSN_KILLACTIVE:
        leavePage(ops);
        setNotifyResult(page, FALSE); // the page may always be left
        return TRUE;
    case PSN_APPLY:
        applyPage(which, ops);
        setNotifyResult(page, PSNRET_NOERROR);
        return TRUE;
    case PSN_RESET:
        setNotifyResult(page, 0);
        return TRUE;
    default:
        return TRUE;
    }
}

static INT_PTR pageMessage(ParameterPage which, HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        sheetWindow = GetParent(page);
        initPage(which, pageOps(page));
        return TRUE;
    case WM_NOTIFY:
        return pageNotify(which, page, *reinterpret_cast<const NMHDR *>(lParam));
    case WM_COMMAND:
        // Edits also report EN_KILLFOCUS while the sheet is being destroyed,
        // after Apply; the page window and requestedParameters are still
        // there then, so the entry is simply taken once more.
        pageCommand(which, pageOps(page), LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK limit1PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pageMessage(ParameterPage::Limit1, page, message, wParam, lParam);
}

INT_PTR CALLBACK limit2PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pageMessage(ParameterPage::Limit2, page, message, wParam, lParam);
}

INT_PTR CALLBACK dpdtPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pageMessage(ParameterPage::Dpdt, page, message, wParam, lParam);
}

INT_PTR CALLBACK setupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pageMessage(ParameterPage::Setup, page, message, wParam, lParam);
}

// ---- The sheet ----

int showParameterSheet(HWND parent)
{
    snapshotParameters();

    // In sheet order, as ParameterPage counts.
    static constexpr DLGPROC PAGE_PROCS[PARAMETER_PAGE_COUNT] = {limit1PageProc, limit2PageProc, dpdtPageProc,
                                                                 setupPageProc};
    // The templates are the program's own resources.
    const HINSTANCE module = GetModuleHandleA(nullptr);

    PROPSHEETPAGEA pages[PARAMETER_PAGE_COUNT] = {};
    for (int i = 0; i < PARAMETER_PAGE_COUNT; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_USETITLE;
        pages[i].hInstance = module;
        pages[i].pszTemplate = MAKEINTRESOURCEA(parameterPageTemplate(static_cast<ParameterPage>(i)));
        pages[i].pszTitle = parameterPageTitle(static_cast<ParameterPage>(i));
        pages[i].pfnDlgProc = PAGE_PROCS[i];
    }

    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = parent;
    header.hInstance = module;
    header.pszCaption = SHEET_CAPTION;
    header.nPages = PARAMETER_PAGE_COUNT;
    header.nStartPage = 0;
    header.ppsp = pages;
    return static_cast<int>(PropertySheetA(&header));
}
