// The rules of the four parameter pages without the dialog calls: what each control shows and
// when it is enabled, what an entry stores, and which codes Apply queues.
//
// The pages edit requestedParameters and compare it with deviceParameters at
// Apply; every code goes out through queueCode. The dialog procedures (or a
// test) supply the control calls through PageOps.
#pragma once

#include <cstddef>

enum class ParameterPage { Limit1, Limit2, Dpdt, Setup };
inline constexpr int PARAMETER_PAGE_COUNT = 4;

// A page's title on its tab, and its dialog template id.
const char *parameterPageTitle(ParameterPage page);
int parameterPageTemplate(ParameterPage page);

// EN_KILLFOCUS: the one edit notification the pages act on.
inline constexpr int EDIT_LOST_FOCUS = 0x0200;

// The control calls of one page window; `page` is handed back to every call.
struct PageOps {
    void *page;
    void (*addItem)(void *page, int control, int index, const char *text); // CB_INSERTSTRING
    void (*select)(void *page, int control, int index);                    // CB_SETCURSEL (past the items: none)
    int (*selection)(void *page, int control);                             // CB_GETCURSEL, -1 for none
    void (*enable)(void *page, int control, bool enabled);
    void (*showNumber)(void *page, int control, unsigned value);           // SetDlgItemInt, unsigned
    // GetDlgItemInt, unsigned: the whole value as typed; text that is not a number reads 0.
    unsigned long (*readNumber)(void *page, int control);
    void (*showText)(void *page, int control, const char *text);
    // GetDlgItemTextA into a buffer of `size` bytes; returns the number of characters.
    int (*readText)(void *page, int control, char *buffer, int size);
    void (*postUnchanged)(void *page);                                     // PSM_UNCHANGED to the sheet
};

// WM_INITDIALOG: the combo boxes get their items at indexes 0, 1, 2, ...
void initPage(ParameterPage page, const PageOps &ops);
// PSN_SETACTIVE: every control from requestedParameters, the enabling rules, PSM_UNCHANGED.
void activatePage(ParameterPage page, const PageOps &ops);
// PSN_KILLACTIVE: PSM_UNCHANGED; the page never refuses to be left.
void leavePage(const PageOps &ops);
// PSN_APPLY: reads the edit fields again, stores the valid ones and queues
// base + value for every field that differs from deviceParameters, with the
// Setup page's follow-up codes.
void applyPage(ParameterPage page, const PageOps &ops);
// WM_COMMAND from one of the page's controls: EN_KILLFOCUS of an edit field,
// any notification of a combo box. Anything else is ignored.
void pageCommand(ParameterPage page, const PageOps &ops, int control, int notification);

// Time fields (Tr, Ts) in the unit that requestedParameters.timerRange selects:
// hundredths of a second for 0, tenths otherwise.
inline constexpr int TIME_TEXT_READ_SIZE = 6; // the field is read with this buffer: 5 characters
inline constexpr int TIME_TEXT_SIZE = 16;     // room for any formatted 16-bit value
inline constexpr int TIME_VALUE_MAX = 9999;
// Converts at most `length` characters of a time text; the caller accepts the
// result only when it lies in 0..TIME_VALUE_MAX ("-5" gives a negative result).
int parseTimeText(const char *text, int length);
// "%d.%02d" (hundredths) or "%d.%d" (tenths) into out, always terminated.
void formatTimeText(unsigned value, char *out, std::size_t size);
