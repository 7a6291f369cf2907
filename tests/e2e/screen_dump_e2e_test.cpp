// End to end: "&Screen dump" of K614Mon.exe under wine and Xvfb: the file is a picture of the window,
// the header strip of a dead link, cancelling, and the device's stream going on through a dump.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

constexpr int ROLL_10S = 0; // one trend column per measurement

// ---- the BMP file, read with the format's own offsets ------------------------

std::uint32_t le(const std::string &f, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(f.at(at + static_cast<std::size_t>(i)));
    return v;
}

struct BmpHeaders {
    std::string type;
    std::uint32_t fileSize, pixelOffset, infoSize, sizeImage, clrUsed;
    std::int32_t width, height;
    std::uint16_t bitCount;
};

BmpHeaders readHeaders(const std::string &f)
{
    BmpHeaders h;
    h.type = f.substr(0, 2);
    h.fileSize = le(f, 2, 4);
    h.pixelOffset = le(f, 10, 4);
    h.infoSize = le(f, 14, 4);
    h.width = static_cast<std::int32_t>(le(f, 18, 4));
    h.height = static_cast<std::int32_t>(le(f, 22, 4));
    h.bitCount = static_cast<std::uint16_t>(le(f, 28, 2));
    h.sizeImage = le(f, 34, 4);
    h.clrUsed = le(f, 46, 4);
    return h;
}

// A dump is complete once the file is as long as its header says.
bool dumpComplete(const std::string &path)
{
    const std::string f = readFile(path);
    return f.size() >= 54 && f.substr(0, 2) == "BM" && le(f, 2, 4) == f.size();
}

// The file as an image viewer opens it: ImageMagick turns it into a PNG
// (kept beside it), whose pixels are read back. The fourth byte of a 32-bit
// pixel is no alpha in this format, but ImageMagick takes it for one as soon
// as any pixel has it set (the window icon's do under wine): "-alpha off".
ClientImage openAsImage(const std::string &bmp, const std::string &png)
{
    ClientImage img;
    int rc = 0;
    shell("convert '" + bmp + "' -alpha off '" + png + "' 2>&1", &rc);
    if (rc != 0)
        return img;
    const std::string ppm = shell("convert '" + png + "' -depth 8 ppm:- 2>/dev/null");
    int w = 0, h = 0, maxv = 0, consumed = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &maxv, &consumed) != 3)
        return img;
    const std::size_t start = static_cast<std::size_t>(consumed) + 1;
    if (ppm.size() < start + static_cast<std::size_t>(w) * h * 3)
        return img;
    img.width = w;
    img.height = h;
    for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i)
        img.pixels.push_back({static_cast<std::uint8_t>(ppm[start + 3 * i]),
                              static_cast<std::uint8_t>(ppm[start + 3 * i + 1]),
                              static_cast<std::uint8_t>(ppm[start + 3 * i + 2])});
    return img;
}

// ---- pictures of the window --------------------------------------------------

struct Point {
    int x, y;
};

// Where the client area starts in a picture of the whole window: the header
// frame's top-left corner is client (25, 15), black with panel grey inside.
Point clientOrigin(const ClientImage &whole)
{
    for (int y = 1; y + 1 < whole.height; ++y)
        for (int x = 1; x + 1 < whole.width; ++x)
            if (whole.at(x, y) == BLACK && whole.at(x + 1, y) == BLACK && whole.at(x, y + 1) == BLACK &&
                whole.at(x + 1, y + 1) == PANEL_GREY && !(whole.at(x - 1, y) == BLACK) &&
                !(whole.at(x, y - 1) == BLACK))
                return {x - 25, y - 15};
    return {-1, -1};
}

// Pixels of a client rectangle in a picture of the whole window.
std::vector<Rgb> clientRegion(const ClientImage &whole, int x0, int y0, int x1, int y1)
{
    const Point o = clientOrigin(whole);
    std::vector<Rgb> r;
    if (o.x < 0)
        return r;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            r.push_back(whole.at(x + o.x, y + o.y));
    return r;
}

std::vector<Rgb> headerStrip(const ClientImage &whole)
{
    return clientRegion(whole, 25, 15, 935, 50);
}

int differingPixels(const ClientImage &a, const ClientImage &b)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    int n = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        n += !(a.pixels[i] == b.pixels[i]);
    return n;
}

// The window stands still: two pictures half a second apart are the same.
bool windowSettles(const std::string &window)
{
    return waitFor(
        [&] {
            const ClientImage a = captureWindow(window);
            pause(500);
            return differingPixels(a, captureWindow(window)) == 0;
        },
        10000, 0);
}

// ---- the command -------------------------------------------------------------

// "&Screen dump" from the menu (Alt+T, S): the Save As dialog's window.
std::string openDumpDialog(Program &program)
{
    program.menu("t", "s");
    return program.findWindow("Save As", 5000);
}

// The dump with a name typed into the dialog and Return.
bool dumpAs(Program &program, const std::string &typed)
{
    const std::string dialog = openDumpDialog(program);
    if (dialog.empty())
        return false;
    windowType(dialog, typed);
    windowKeys(dialog, "Return");
    return waitWindowGone(dialog, 5000);
}

// The simulator's status field (measurements sent, frames dropped, ...).
std::vector<std::string> bmpFilesIn(const std::string &dir)
{
    std::vector<std::string> found;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && (name.substr(name.size() - 4) == ".bmp" || name.substr(name.size() - 4) == ".BMP"))
                found.push_back(name);
        }
        closedir(d);
    }
    return found;
}

// The program knows the unit text once it draws the limit lines.
bool deviceKnown(Program &program)
{
    return waitFor([&] { return program.capture().count(RED, 365, 95, 868, 296) > 20; }, 10000);
}

class ScreenDump : public ::testing::Test {
protected:
    void SetUp() override
    {
        simCommand("resume");
        simCommand("upload-withhold off");
        simCommand("upload-delay 0");
        simCommand("wave sine");
        mapComPorts({1});
    }
};

TEST_F(ScreenDump, TheFileIsAPictureOfTheWholeWindow)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    ASSERT_TRUE(deviceKnown(program));
    // A still picture to compare with: steady reading, trend frozen.
    simCommand("set-measurement 40");
    pause(1500);
    program.keys("Pause");
    ASSERT_TRUE(windowSettles(program.mainWindow()));

    // Typed without extension: the dialog adds ".bmp".
    ASSERT_TRUE(dumpAs(program, windowsPath(program.workdir() + "/screen")));
    const std::string bmp = program.workdir() + "/screen.bmp";
    ASSERT_TRUE(waitFor([&] { return dumpComplete(bmp); }, 5000)) << "no complete " << bmp;
    EXPECT_TRUE(program.findWindow("Screen dump", 300).empty()) << "a message came with a good dump";

    const std::string file = readFile(bmp);
    const BmpHeaders h = readHeaders(file);
    ASSERT_TRUE(windowSettles(program.mainWindow()));
    const ClientImage window = captureWindow(program.mainWindow());
    EXPECT_EQ(h.type, "BM");
    EXPECT_EQ(h.fileSize, file.size());
    EXPECT_EQ(h.infoSize, 40u);
    EXPECT_EQ(h.pixelOffset, 54 + 4 * h.clrUsed);
    EXPECT_EQ(h.width, window.width) << "frame, caption and menu included";
    EXPECT_EQ(h.height, window.height);
    EXPECT_EQ(h.sizeImage, (static_cast<std::uint32_t>(h.width) * h.bitCount + 31) / 32 * 4 * h.height);
    EXPECT_EQ(h.fileSize, h.pixelOffset + h.sizeImage);

    const std::string png = program.workdir() + "/screen.png";
    const ClientImage picture = openAsImage(bmp, png);
    ASSERT_EQ(picture.width, window.width);
    ASSERT_EQ(picture.height, window.height);
    ASSERT_GE(clientOrigin(picture).x, 0) << "no header frame in the picture";
    const int differing = differingPixels(picture, window);
    EXPECT_LE(differing, picture.width * picture.height / 1000) << "the file is not the window";
    EXPECT_TRUE(clientRegion(picture, 25, 15, 935, 325) == clientRegion(window, 25, 15, 935, 325))
        << "header, panel and trend differ";
    EXPECT_GT(picture.count(BLUE, 0, 0, picture.width, picture.height), 100) << "no trend trace in the picture";
    EXPECT_GT(picture.count(RED, 0, 0, picture.width, picture.height), 100) << "no limit lines in the picture";
    EXPECT_GT(picture.count(PANEL_GREY, 0, 0, picture.width, picture.height), picture.width * picture.height / 2);
    // Kept for a look after the run.
    shell("cp '" + png + "' screen_dump_e2e.png");
    std::cout << "picture of the dump: screen_dump_e2e.png (" << differing << " pixels differ from the window)\n";
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(ScreenDump, WithTheLinkDeadTheHeaderStripShowsDashes)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    ASSERT_TRUE(deviceKnown(program));
    const std::vector<Rgb> live = headerStrip(captureWindow(program.mainWindow()));
    ASSERT_FALSE(live.empty()) << "no header frame in the window";
    simCommand("silent");
    ASSERT_TRUE(waitFor([&] { return headerStrip(captureWindow(program.mainWindow())) != live; }, 8000))
        << "the link never died";
    const std::vector<Rgb> dead = headerStrip(captureWindow(program.mainWindow()));

    ASSERT_TRUE(dumpAs(program, windowsPath(program.workdir() + "/dead.bmp")));
    const std::string bmp = program.workdir() + "/dead.bmp";
    ASSERT_TRUE(waitFor([&] { return dumpComplete(bmp); }, 5000));
    const ClientImage picture = openAsImage(bmp, program.workdir() + "/dead.png");
    ASSERT_GE(clientOrigin(picture).x, 0) << "no header frame in the picture";
    const std::vector<Rgb> dumped = headerStrip(picture);
    EXPECT_TRUE(dumped == dead) << "the strip is not \"Unit: - - -\" as the window shows it";
    EXPECT_TRUE(dumped != live);
    simCommand("resume");
    EXPECT_TRUE(program.closeWindow());
}

TEST_F(ScreenDump, CancellingTheDialogWritesNothingAndSaysNothing)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    const std::string dialog = openDumpDialog(program);
    ASSERT_FALSE(dialog.empty());
    windowType(dialog, windowsPath(program.workdir() + "/never.bmp"));
    windowKeys(dialog, "Escape");
    ASSERT_TRUE(waitWindowGone(dialog, 5000));
    EXPECT_TRUE(program.findWindow("Screen dump", 1000).empty());
    EXPECT_EQ(bmpFilesIn(program.workdir()), std::vector<std::string>{});
    // The program is its old self: the trend moves on.
    const ClientImage before = program.capture();
    EXPECT_TRUE(waitFor([&] { return differingPixels(program.capture(), before) > 0; }, 3000));
    EXPECT_TRUE(program.closeWindow());
}

// ---- no measurement lost -----------------------------------------------------

// The measurements drawn between two spikes and those the simulator sent
// between them agree within the one tick by which either spike can be late.
TEST_F(ScreenDump, TheDeviceStreamGoesOnWithoutLossThroughADump)
{
    Program program(settingsImage(1, ROLL_10S, 0));
    ASSERT_TRUE(program.waitForWindow());
    ASSERT_TRUE(deviceKnown(program));
    simCommand("set-measurement " + std::to_string(STREAM_BASE_LEVEL));
    pause(500);
    const long droppedBefore = simStatus("dropped");

    const long first = sendStreamMarker();
    ASSERT_TRUE(dumpAs(program, windowsPath(program.workdir() + "/stream.bmp")));
    ASSERT_TRUE(waitFor([&] { return dumpComplete(program.workdir() + "/stream.bmp"); }, 5000));
    const long second = sendStreamMarker();
    const long sentBetween = second - first;
    ASSERT_LT(sentBetween, 450) << "the dump took too long for both spikes to fit in the trend";

    // Both spikes on screen, then the picture is frozen to be measured.
    ASSERT_TRUE(waitFor([&] { return streamMarkerColumns(program.capture()).size() >= 2; }, 3000));
    program.keys("Pause");
    pause(300);
    const std::vector<int> starts = streamMarkerColumns(program.capture());
    ASSERT_EQ(starts.size(), 2u);
    const int drawnBetween = starts[1] - starts[0];
    std::cout << "measurements sent between the spikes: " << sentBetween << ", trend columns: " << drawnBetween
              << "\n";
    EXPECT_LE(std::abs(drawnBetween - sentBetween), 1);
    EXPECT_EQ(simStatus("dropped"), droppedBefore) << "the device had to drop frames";
    EXPECT_TRUE(program.closeWindow());
}

} // namespace
