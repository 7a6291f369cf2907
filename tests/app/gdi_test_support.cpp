// Memory bitmap, pixel access and reference text rendering for the drawing tests.
#include "gdi_test_support.h"

#include "base/panel_layout.h"

TestBitmap createTestBitmap(COLORREF fill)
{
    TestBitmap b = {};
    b.width = CLIENT_WIDTH;
    b.height = CLIENT_HEIGHT;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = b.width;
    info.bmiHeader.biHeight = -b.height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    b.dc = CreateCompatibleDC(nullptr);
    b.bitmap = CreateDIBSection(b.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    b.pixels = static_cast<std::uint32_t *>(bits);
    b.oldBitmap = SelectObject(b.dc, b.bitmap);
    fillBitmap(b, fill);
    return b;
}

void destroyTestBitmap(TestBitmap &b)
{
    SelectObject(b.dc, b.oldBitmap);
    DeleteObject(b.bitmap);
    DeleteDC(b.dc);
    b = TestBitmap{};
}

static std::uint32_t toPixel(COLORREF c)
{
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

void fillBitmap(TestBitmap &b, COLORREF colour)
{
    GdiFlush();
    const std::uint32_t p = toPixel(colour);
    for (int i = 0; i < b.width * b.height; ++i)
        b.pixels[i] = p;
}

COLORREF pixelAt(const TestBitmap &b, int x, int y)
{
    GdiFlush();
    const std::uint32_t p = b.pixels[y * b.width + x] & 0x00FFFFFF;
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

int countColour(const TestBitmap &b, const RECT &area, COLORREF colour)
{
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            n += pixelAt(b, x, y) == colour ? 1 : 0;
    return n;
}

int countOtherThan(const TestBitmap &b, const RECT &area, COLORREF colour)
{
    return (area.right - area.left) * (area.bottom - area.top) - countColour(b, area, colour);
}

RECT textCell(const DrawnText &drawn)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, drawn.font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, drawn.text, lstrlenA(drawn.text), &size);
    SelectObject(dc, old);
    DeleteDC(dc);
    RECT r;
    // TA_CENTER shares its bit with TA_RIGHT, TA_BASELINE with TA_BOTTOM.
    if ((drawn.align & TA_CENTER) == TA_CENTER)
        r.left = drawn.x - size.cx / 2;
    else if ((drawn.align & TA_CENTER) == TA_RIGHT)
        r.left = drawn.x - size.cx;
    else
        r.left = drawn.x;
    r.right = r.left + size.cx;
    r.top = (drawn.align & TA_BASELINE) == TA_BOTTOM ? drawn.y - size.cy : drawn.y;
    r.bottom = r.top + size.cy;
    return r;
}

bool showsText(const TestBitmap &b, const DrawnText &drawn, const RECT *area)
{
    RECT r = area ? *area : textCell(drawn);
    if (!area) {
        // Centring may round either way: leave the edge columns out.
        r.left += 1;
        r.right -= 1;
    }
    TestBitmap reference = createTestBitmap(PANEL_COLOUR);
    HGDIOBJ oldFont = SelectObject(reference.dc, drawn.font);
    SetTextAlign(reference.dc, drawn.align);
    SetBkColor(reference.dc, PANEL_COLOUR);
    TextOutA(reference.dc, drawn.x, drawn.y, drawn.text, lstrlenA(drawn.text));
    SelectObject(reference.dc, oldFont);
    bool same = countOtherThan(reference, r, PANEL_COLOUR) > 0;
    for (int y = r.top; y < r.bottom && same; ++y)
        for (int x = r.left; x < r.right && same; ++x)
            same = pixelAt(b, x, y) == pixelAt(reference, x, y);
    destroyTestBitmap(reference);
    return same;
}

DcState dcState(HDC dc)
{
    return {GetCurrentObject(dc, OBJ_PEN), GetCurrentObject(dc, OBJ_FONT), GetCurrentObject(dc, OBJ_BRUSH),
            GetTextAlign(dc), GetBkColor(dc), GetBkMode(dc)};
}

bool operator==(const DcState &a, const DcState &b)
{
    return a.pen == b.pen && a.font == b.font && a.brush == b.brush && a.align == b.align &&
           a.background == b.background && a.backgroundMode == b.backgroundMode;
}

