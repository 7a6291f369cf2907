// The "&Screen dump" command: header strip refresh, capture of the window's screen rectangle, the BMP writer.
#include "app/screen_dump_win32.h"

#include "app/main_window_win32.h"
#include "app/panel_text.h"
#include "base/gdi_resources_win32.h"
#include "base/panel_layout.h"
#include "report/bmp_writer_win32.h"
#include "report/scoped_win32.h"

// The paint's Unit line has no trailing blanks, so a shorter unit text can
// leave the tail of a longer one on screen; the dump draws the strip afresh
// (fill and outline in the context's default pen, then the line with blanks)
// so that the file never shows such leftovers.
static void refreshHeaderStrip()
{
    ScopedWindowDc dc(mainWindow);
    if (!dc)
        return;
    char line[HEADER_STRIP_LINE_SIZE];
    readHeaderStripLine(line);
    {
        ScopedSelection brush(dc.get(), gdiResources.panelBrush);
        Rectangle(dc.get(), HEADER_FRAME.left, HEADER_FRAME.top, HEADER_FRAME.right, HEADER_FRAME.bottom);
    }
    ScopedTextAlign align(dc.get(), TA_LEFT | TA_BOTTOM);
    ScopedSelection font(dc.get(), gdiResources.valueFont);
    ScopedBkColour background(dc.get(), PANEL_COLOUR);
    TextOutA(dc.get(), UNIT_LINE_AT.x, UNIT_LINE_AT.y, line, lstrlenA(line));
    // Drawing may wait in the thread's batch; the capture must find it done.
    GdiFlush();
}

// The capture reads the screen, and under wine the screen can lag behind the
// window. Wine draws each window into a surface of its own and copies what
// was drawn out to the X screen when the program waits for messages (while it
// draws without waiting, only now and then; GdiFlush does not force it). So
// the strip just drawn may not be out yet, and the part of the window that
// the menu's popup covered still shows the popup until wine has handled the
// expose event, which may come after this command. Copying the window onto
// itself changes no pixel but counts as drawing all of it, and a look into
// the queue that finds nothing counts as a wait: the whole window as the
// program drew it is then on the screen. On Windows, which puts back what a
// popup covered and draws to the screen at once, both change nothing (the
// range looked at is one that nothing is posted to). Other programs' windows
// in front stay in the picture, as they should.
static constexpr UINT NO_MESSAGE = WM_APP + 0x614;

static void showWindowOnScreen()
{
    RECT frame = {};
    GetWindowRect(mainWindow, &frame);
    {
        ScopedWindowDc whole(mainWindow, ScopedWindowDc::Area::WholeWindow);
        BitBlt(whole.get(), 0, 0, frame.right - frame.left, frame.bottom - frame.top, whole.get(), 0, 0, SRCCOPY);
    }
    MSG none;
    PeekMessageA(&none, mainWindow, NO_MESSAGE, NO_MESSAGE, PM_NOREMOVE);
}

void screenDumpCommand()
{
    refreshHeaderStrip();
    showWindowOnScreen();

    RECT window = {};
    GetWindowRect(mainWindow, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    // A context or bitmap that cannot be made leaves a bitmap handle that
    // buildBitmapInfo cannot read: it reports that, and nothing is written.
    ScopedDc display(CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
    ScopedDc memory(CreateCompatibleDC(display.get()));
    ScopedGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(display.get(), width, height));
    {
        ScopedSelection held(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, width, height, display.get(), window.left, window.top, SRCCOPY);
    }
    // GetDIBits wants the bitmap out of every context, so it leaves the
    // memory context before the writer fetches its pixels.
    ScopedLocalMemory info(buildBitmapInfo(mainWindow, bitmap.get()));
    if (info)
        writeBitmapFile(mainWindow, static_cast<BITMAPINFO *>(info.get()), bitmap.get(), memory.get());
}
