// End to end: "&Printer" on the PDF printers that scripts/printers.sh sets up.
//
// The page setup dialog is driven with xdotool; the PDF that cups-pdf writes
// is read back as text (pdftotext) and as a page image (pdftoppm).
#include <gtest/gtest.h>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

constexpr char DIALOG[] = "Setup Page";
constexpr char ERROR_TITLE[] = "Error!";
// cups-pdf names a job after its document: the caption, blanks made underscores.
constexpr char PDF_PREFIX[] = "K614_Configuration_tool";
constexpr int PAGE_DPI = 60;

// Where cups-pdf writes the jobs of this user (scripts/printers.sh says it):
// PDF in the home directory that the user database gives, whatever $HOME says.
std::string pdfDir()
{
    if (const char *dir = std::getenv("K614_PDF_DIR"))
        return dir;
    const passwd *user = getpwuid(getuid());
    return std::string(user ? user->pw_dir : "/root") + "/PDF";
}

std::set<std::string> reportPdfs()
{
    std::set<std::string> names;
    if (DIR *d = opendir(pdfDir().c_str())) {
        while (const dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind(PDF_PREFIX, 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".pdf")
                names.insert(name);
        }
        closedir(d);
    }
    return names;
}

long fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// A report PDF that was not there before, once it is whole (pdfinfo reads it
// and its size has settled); empty after the deadline.
std::string waitForNewPdf(const std::set<std::string> &before, int timeoutMs = 30000)
{
    long lastSize = -1;
    for (int waited = 0; waited <= timeoutMs; waited += 200) {
        for (const std::string &name : reportPdfs()) {
            if (before.count(name))
                continue;
            const std::string path = pdfDir() + "/" + name;
            int rc = 1;
            shell("pdfinfo '" + path + "' >/dev/null 2>&1", &rc);
            const long size = fileSize(path);
            if (rc == 0 && size > 0 && size == lastSize)
                return path;
            lastSize = size;
        }
        pause(200);
    }
    return {};
}

// The page's text, runs of blanks made one: pdftotext does not keep the
// blanks of a fixed-pitch line, so the texts are compared word by word.
std::string pdfText(const std::string &path)
{
    const std::string raw = shell("pdftotext -raw '" + path + "' - 2>/dev/null");
    return std::regex_replace(raw, std::regex("[ \t]+"), " ");
}

std::string squeezed(const std::string &s)
{
    return std::regex_replace(s, std::regex(" +"), " ");
}

struct PageImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// The page as pdftoppm draws it (turned as the PDF says), without smoothing,
// so the pens keep their pure colours.
PageImage renderPage(const std::string &path)
{
    PageImage img;
    const std::string ppm = shell("pdftoppm -singlefile -r " + std::to_string(PAGE_DPI) +
                                  " -aa no -aaVector no '" + path + "' 2>/dev/null");
    int maxv = 0, consumed = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &img.width, &img.height, &maxv, &consumed) != 3)
        return {};
    const std::size_t start = static_cast<std::size_t>(consumed) + 1;
    const std::size_t count = static_cast<std::size_t>(img.width) * img.height;
    if (ppm.size() < start + 3 * count)
        return {};
    for (std::size_t i = 0; i < count; ++i)
        img.pixels.push_back({static_cast<std::uint8_t>(ppm[start + 3 * i]),
                              static_cast<std::uint8_t>(ppm[start + 3 * i + 1]),
                              static_cast<std::uint8_t>(ppm[start + 3 * i + 2])});
    return img;
}

bool blue(Rgb p)
{
    return p.b > 150 && p.r < 100 && p.g < 100;
}
bool red(Rgb p)
{
    return p.r > 150 && p.g < 100 && p.b < 100;
}
bool ink(Rgb p)
{
    return p.r + p.g + p.b < 300;
}

// The report's logical page (600 x 860 or 860 x 600 units) on the image:
// pixels matching `is` in the logical rectangle [x0, x1) x [y0, y1).
struct LogicalPage {
    const PageImage &img;
    int pageWidth, pageHeight;
    template <typename Is> int count(Is is, int x0, int y0, int x1, int y1) const
    {
        const int px0 = x0 * img.width / pageWidth, px1 = x1 * img.width / pageWidth;
        const int py0 = y0 * img.height / pageHeight, py1 = y1 * img.height / pageHeight;
        int n = 0;
        for (int y = py0; y < py1 && y < img.height; ++y)
            for (int x = px0; x < px1 && x < img.width; ++x)
                n += is(img.at(x, y)) ? 1 : 0;
        return n;
    }
    template <typename Is> int countAll(Is is) const { return count(is, 0, 0, pageWidth, pageHeight); }
};

// What a report of the simulated device's factory set holds, blanks squeezed.
const char *const FACTORY_LISTING[] = {
    "Parameters",         "Limit 1",           "Limit 2",           "dPdt",
    "Setup",              "Iout",              "Zoom",              "Output",
    "Limit : Max.",       "Setpoint : 80%",    "Tr : 1.00s",        "Autoreset : Off",
    "Hysteresis : --",    "Limit : Min.",      "Tr : 2.00s",        "Limit : +dPdt",
    "Setpoint : 30%",     "dUdt : 10%",        "Ts : 5.00s",        "Iout : 0-20mA",
    "Polarity : Norm.",   "Filter : None",     "P1Max : 100%",      "P1Min : 0%",
    "Polarity : n.inv",   "Auto ShutDn: Off",  "Zero : Off",
};

// The default printer's queue refusing jobs (as `cupsreject` makes it) for as
// long as this lives; accepting again on every way out of a test.
class RejectingQueue {
public:
    RejectingQueue() { shell("cupsreject K614-PDF 2>&1"); }
    ~RejectingQueue() { shell("cupsaccept K614-PDF 2>&1"); }
    RejectingQueue(const RejectingQueue &) = delete;
    RejectingQueue &operator=(const RejectingQueue &) = delete;
};

class Print : public ::testing::Test {
protected:
    void SetUp() override
    {
        simCommand("resume");
        simCommand("upload-withhold off");
        simCommand("wave sine");
        mapComPorts({1});
    }

    // "Prin&t", "&Printer": the dialog's window, empty when it did not open.
    static std::string openDialog(Program &program)
    {
        program.menu("t", "p");
        return program.waitForBox(DIALOG, 10000);
    }

    // Prints through the dialog in the orientation given; returns the new PDF.
    static std::string print(Program &program, bool landscape)
    {
        const std::set<std::string> before = reportPdfs();
        const std::string dialog = openDialog(program);
        if (dialog.empty())
            return {};
        if (landscape)
            windowKeys(dialog, "alt+l"); // "&Landscape"
        windowKeys(dialog, "Return");
        return waitForNewPdf(before);
    }

    static void expectReportText(const std::string &text)
    {
        EXPECT_NE(text.find("Unit: MW\n"), std::string::npos) << text;
        EXPECT_TRUE(std::regex_search(text, std::regex("\nDate: [^\n]+, [^\n]+\n"))) << text;
        EXPECT_TRUE(std::regex_search(
            text, std::regex("Peak values: Max Peak \\[kW%\\]: -?\\d+, Min Peak \\[kW%\\]: -?\\d+, "
                             "dPdt Peak \\[kW%\\]: -?\\d+\n")))
            << text;
        for (const char *line : FACTORY_LISTING)
            EXPECT_NE(text.find(squeezed(line) + "\n"), std::string::npos) << line;
    }
};

TEST_F(Print, PortraitReportWithTheTrendAboveTheListing)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(2500); // unit text and a few seconds of trend
    const std::string pdf = print(program, false);
    ASSERT_FALSE(pdf.empty()) << "no PDF in " << pdfDir();
    expectReportText(pdfText(pdf));

    const PageImage img = renderPage(pdf);
    ASSERT_GT(img.height, img.width) << "portrait page";
    const LogicalPage page{img, 600, 860};
    // Plot origin (45, 430): the trace and the limit lines (80 % and 20 %,
    // 240 and 60 units up) inside the plot, nowhere else.
    const int trace = page.countAll(blue);
    EXPECT_GT(trace, 100);
    EXPECT_EQ(page.count(blue, 44, 128, 547, 433), trace);
    EXPECT_GT(page.count(red, 45, 188, 546, 193), 300);
    EXPECT_GT(page.count(red, 45, 368, 546, 373), 300);
    EXPECT_EQ(page.count(red, 0, 0, 600, 186) + page.count(red, 0, 195, 600, 366) + page.count(red, 0, 375, 600, 860),
              0);
    // Listing origin (150, 500): its ink below the plot, right of the left margin.
    EXPECT_GT(page.count(ink, 165, 500, 460, 800), 500);
    EXPECT_EQ(page.count(ink, 0, 460, 160, 860), 0);
    EXPECT_TRUE(program.findWindow(ERROR_TITLE, 200).empty());
    EXPECT_TRUE(program.closeWindow());
    std::remove(pdf.c_str());
}

TEST_F(Print, LandscapeReportWithTheListingBesideTheTrend)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    pause(2500);
    const std::string pdf = print(program, true);
    ASSERT_FALSE(pdf.empty()) << "no PDF in " << pdfDir();
    expectReportText(pdfText(pdf));

    const PageImage img = renderPage(pdf);
    ASSERT_GT(img.width, img.height) << "landscape page";
    const LogicalPage page{img, 860, 600};
    // Plot origin (310, 510), listing origin (20, 200) to its left.
    const int trace = page.countAll(blue);
    EXPECT_GT(trace, 100);
    EXPECT_EQ(page.count(blue, 309, 208, 812, 513), trace);
    EXPECT_GT(page.count(red, 310, 268, 811, 273), 300);
    EXPECT_GT(page.count(red, 310, 448, 811, 453), 300);
    EXPECT_GT(page.count(ink, 35, 200, 300, 500), 500);
    EXPECT_EQ(page.count(ink, 0, 540, 290, 600), 0);
    EXPECT_TRUE(program.closeWindow());
    std::remove(pdf.c_str());
}

TEST_F(Print, CancellingTheDialogPrintsAndShowsNothing)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    const std::set<std::string> before = reportPdfs();
    const std::string dialog = openDialog(program);
    ASSERT_FALSE(dialog.empty());
    windowKeys(dialog, "Escape");
    EXPECT_TRUE(waitWindowGone(dialog));
    // Nothing to wait for: a job would have reached the printer in this time.
    pause(3000);
    EXPECT_EQ(reportPdfs(), before);
    EXPECT_EQ(shell("lpstat -o 2>/dev/null"), "") << "a job is queued";
    EXPECT_TRUE(program.findWindow(ERROR_TITLE, 200).empty()) << "a message was shown";
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.closeWindow());
}

// The device streams on while the dialog is open and the report is drawn: the
// printed trace holds readings that arrived only meanwhile, and the
// measurements drawn between two spikes, one before the dialog and one after
// the job, agree with those the simulator sent within one tick.
TEST_F(Print, TheDeviceStreamGoesOnWithoutLossThroughAPrint)
{
    Program program(settingsImage(1, 0, 0)); // 10 s across the plot: one column per measurement
    ASSERT_TRUE(program.waitForWindow());
    pause(1500);
    simCommand("set-measurement " + std::to_string(STREAM_BASE_LEVEL));
    pause(500);
    const long droppedBefore = simStatus("dropped");
    const std::set<std::string> before = reportPdfs();

    const long first = sendStreamMarker();
    const std::string dialog = openDialog(program);
    ASSERT_FALSE(dialog.empty());
    simCommand("set-measurement 60");
    pause(1500);
    simCommand("set-measurement " + std::to_string(STREAM_BASE_LEVEL));
    windowKeys(dialog, "Return");
    // The report is drawn on the GUI thread before the job reaches the spooler.
    ASSERT_TRUE(waitFor([&] { return reportPdfs() != before || !shell("lpstat -o 2>/dev/null").empty(); }, 8000, 20));
    const long second = sendStreamMarker();
    const long sentBetween = second - first;
    ASSERT_LT(sentBetween, 450) << "the print took too long for both spikes to fit in the trend";

    ASSERT_TRUE(waitFor([&] { return streamMarkerColumns(program.capture()).size() >= 2; }, 3000));
    program.keys("Pause");
    pause(300);
    const std::vector<int> starts = streamMarkerColumns(program.capture());
    ASSERT_EQ(starts.size(), 2u);
    const int drawnBetween = starts[1] - starts[0];
    std::cout << "print: measurements sent between the spikes: " << sentBetween << ", trend columns: " << drawnBetween
              << "\n";
    EXPECT_LE(std::abs(drawnBetween - sentBetween), 1);
    EXPECT_EQ(simStatus("dropped"), droppedBefore) << "the device had to drop frames";

    const std::string pdf = waitForNewPdf(before);
    ASSERT_FALSE(pdf.empty());
    const PageImage img = renderPage(pdf);
    const LogicalPage page{img, 600, 860};
    // 60 kW% is 180 units above the baseline at 430; the rest of the trace is at 20 % or the spike.
    EXPECT_GT(page.count(blue, 45, 245, 546, 256), 40) << "no 60 % plateau in the printed trace";
    EXPECT_TRUE(program.closeWindow());
    std::remove(pdf.c_str());
}

// The print server refuses the job: nothing prints, and the user is told
// ("Error printing!" with a code, then the failed step and the system's reason
// on a second line, the error icon) instead of silence.
TEST_F(Print, AJobThePrintServerRefusesIsReported)
{
    Program program;
    ASSERT_TRUE(program.waitForWindow());
    const std::set<std::string> before = reportPdfs();
    const std::string dialog = openDialog(program);
    ASSERT_FALSE(dialog.empty());
    {
        const RejectingQueue rejecting;
        windowKeys(dialog, "Return");
        const std::string box = program.waitForBox(ERROR_TITLE, 15000);
        ASSERT_FALSE(box.empty()) << "a refused job showed no message";
        const BoxLook look = lookAtBox(box);
        EXPECT_TRUE(look.errorIcon);
        EXPECT_EQ(look.textLines, 2);
        windowKeys(box, "Return");
        EXPECT_TRUE(waitWindowGone(box));
    }
    EXPECT_EQ(reportPdfs(), before);
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.closeWindow());
}

} // namespace
