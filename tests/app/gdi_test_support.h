// Drawing checks for the Win32 tests: a 32 bpp memory bitmap, pixel reads, and text compared with a reference.
#pragma once

#include <windows.h>

#include <cstdint>

struct TestBitmap {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    std::uint32_t *pixels; // top-down rows, 0x00RRGGBB
    int width;
    int height;
};

// The size of the main window's client area.
inline constexpr int CLIENT_WIDTH = 960;
inline constexpr int CLIENT_HEIGHT = 380;
inline constexpr COLORREF BLACK = 0x00000000;
inline constexpr COLORREF RED = 0x000000FF;
inline constexpr COLORREF BLUE = 0x00FF0000;
inline constexpr COLORREF GREEN = 0x0000FF00;
inline constexpr COLORREF WHITE = 0x00FFFFFF;

TestBitmap createTestBitmap(COLORREF fill);
void destroyTestBitmap(TestBitmap &b);
void fillBitmap(TestBitmap &b, COLORREF colour);
COLORREF pixelAt(const TestBitmap &b, int x, int y);
int countColour(const TestBitmap &b, const RECT &area, COLORREF colour);
int countOtherThan(const TestBitmap &b, const RECT &area, COLORREF colour);

// One text as the program draws it: opaque on the panel colour.
struct DrawnText {
    HFONT font;
    UINT align;
    int x, y;
    const char *text;
};

// The text's cell for its alignment.
RECT textCell(const DrawnText &drawn);
// True when area (default: the text's cell) looks exactly as the text drawn
// alone on the panel colour, and the text has ink in it.
bool showsText(const TestBitmap &b, const DrawnText &drawn, const RECT *area = nullptr);

// The drawing state each operation must leave as it found it.
struct DcState {
    HGDIOBJ pen, font, brush;
    UINT align;
    COLORREF background;
    int backgroundMode;
};
DcState dcState(HDC dc);
bool operator==(const DcState &a, const DcState &b);
