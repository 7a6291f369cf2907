// k614ctl as a user runs it: the real binary as a child process against the real simulator on a pty.
//
// The parameter files here are built from the .614 layout written out below,
// not from the program's struct, so that the two do not agree by construction.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/native/range_file_cases.h"

namespace {

using namespace cli_test;

// ---- the .614 file: 22 little-endian 16-bit fields, 32 bytes of unit text, "zero", 10 reserved bytes ----

constexpr std::size_t IMAGE_SIZE = 88;
constexpr std::size_t UNIT_AT = 44;
constexpr std::size_t ZERO_AT = 76;
// Byte offsets by name, in the file's order.
enum Offset : std::size_t {
    LIMIT1_MODE = 0, LIMIT1_SETPOINT = 2, LIMIT1_TR = 4, LIMIT1_AUTORESET = 6, LIMIT1_HYSTERESIS = 8,
    LIMIT2_MODE = 10, LIMIT2_SETPOINT = 12, LIMIT2_TR = 14, LIMIT2_AUTORESET = 16, LIMIT2_HYSTERESIS = 18,
    DPDT_MODE = 20, DPDT_SETPOINT = 22, DVDT = 24, TIMER_RANGE = 26, TS = 28, OUTPUT_POLARITY = 30, IOUT = 32,
    IOUT_POLARITY = 34, FILTER = 36, P1_MAX = 38, P1_MIN = 40, AUTO_SHUTDOWN = 42,
};

using Image = std::vector<unsigned char>;

void put16(Image &image, std::size_t at, unsigned value)
{
    image[at] = static_cast<unsigned char>(value & 0xFF);
    image[at + 1] = static_cast<unsigned char>(value >> 8);
}

// A set unlike the simulator's defaults in every field that has room for it.
Image imageA(const char *unit)
{
    Image image(IMAGE_SIZE, 0);
    const std::pair<std::size_t, unsigned> values[] = {
        {LIMIT1_MODE, 2}, {LIMIT1_SETPOINT, 75}, {LIMIT1_TR, 120}, {LIMIT1_AUTORESET, 1}, {LIMIT1_HYSTERESIS, 4},
        {LIMIT2_MODE, 1}, {LIMIT2_SETPOINT, 15}, {LIMIT2_TR, 250}, {LIMIT2_AUTORESET, 0}, {LIMIT2_HYSTERESIS, 6},
        {DPDT_MODE, 2}, {DPDT_SETPOINT, 40}, {DVDT, 12}, {TIMER_RANGE, 1}, {TS, 30}, {OUTPUT_POLARITY, 1}, {IOUT, 1},
        {IOUT_POLARITY, 1}, {FILTER, 3}, {P1_MAX, 90}, {P1_MIN, 10}, {AUTO_SHUTDOWN, 1},
    };
    for (const auto &[at, value] : values)
        put16(image, at, value);
    put16(image, ZERO_AT, 2);
    std::memcpy(image.data() + UNIT_AT, unit, std::strlen(unit));
    return image;
}

Image imageB(const char *unit)
{
    Image image = imageA(unit);
    put16(image, LIMIT1_SETPOINT, 55);
    put16(image, LIMIT2_TR, 333);
    put16(image, FILTER, 1);
    put16(image, ZERO_AT, 1);
    put16(image, TS, 1234);
    return image;
}

bool saveImage(const std::string &path, const Image &image)
{
    return saveText(path, std::string(image.begin(), image.end()));
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class CliDevice : public ProcessTest {
protected:
    // The simulator on its link with the set `image`.
    void startSimulator(const Image &image, const std::vector<std::string> &extra = {})
    {
        ASSERT_TRUE(saveImage(params, image));
        startSim(extra);
    }

    pid_t startCtl(std::vector<std::string> args)
    {
        args.insert(args.begin(), K614CTL_PATH);
        return spawnProcess(args, path("ctl.out"), path("ctl.err"));
    }

    // Runs k614ctl to its end: exit code, its output in out/err.
    int ctl(std::vector<std::string> args, int timeoutMs = 20000)
    {
        const pid_t pid = startCtl(std::move(args));
        EXPECT_GT(pid, 0);
        const int rc = waitExit(pid, timeoutMs);
        out = fileText(path("ctl.out"));
        err = fileText(path("ctl.err"));
        return rc;
    }

    std::string out, err;
};

TEST_F(CliDevice, ReadGivesTheDevicesSetByteForByteAndWriteThenReadGivesTheFileBack)
{
    startSimulator(imageA("kW"));
    const std::string got = path("got.614");
    ASSERT_EQ(ctl({"read", link, "-o", got}), 0) << err;
    EXPECT_EQ(fileText(got), fileText(params));

    ASSERT_EQ(ctl({"read", link, "--json"}), 0) << err;
    EXPECT_NE(out.find("\"limit1Setpoint\": 75, "), std::string::npos) << out;
    EXPECT_NE(out.find("\"unitText\": \"kW\"}"), std::string::npos) << out;

    const std::string wanted = path("wanted.614");
    ASSERT_TRUE(saveImage(wanted, imageB("kW")));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ctl({"write", link, wanted}), 0) << out << err;
    std::printf("write and verify of 23 parameters: %.3f s\n", secondsSince(start));
    ASSERT_EQ(ctl({"read", link, "-o", got}), 0) << err;
    EXPECT_EQ(fileText(got), fileText(wanted));
}

// -o names the file the user means: through a link, or k614ctl's own output.
TEST_F(CliDevice, ReadSavesThroughALinkAndToStandardOutput)
{
    startSimulator(imageA("kW"));
    const std::string real = path("real.614"), named = path("named.614");
    ASSERT_TRUE(saveText(real, "the old content"));
    ASSERT_EQ(symlink(real.c_str(), named.c_str()), 0);
    ASSERT_EQ(ctl({"read", link, "-o", named}), 0) << err;
    EXPECT_EQ(fileText(real), fileText(params));
    struct stat st;
    EXPECT_TRUE(lstat(named.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";

    // The output file that spawning truncates is the one written, not a new
    // one renamed over it.
    struct stat before, after;
    ASSERT_EQ(stat(path("ctl.out").c_str(), &before), 0);
    ASSERT_EQ(ctl({"read", link, "-o", "/dev/stdout"}), 0) << err;
    EXPECT_EQ(out, fileText(params));
    ASSERT_EQ(stat(path("ctl.out").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the output file was replaced";
}

TEST_F(CliDevice, WriteNamesTheFieldADeviceIgnoredAndGivesUpOnASilentOne)
{
    startSimulator(imageA("kW"));
    ASSERT_EQ(simCommand("ignore 3100"), "ok"); // limit1Setpoint
    const std::string wanted = path("wanted.614");
    ASSERT_TRUE(saveImage(wanted, imageB("kW")));
    EXPECT_EQ(ctl({"write", link, wanted}), 1) << err;
    EXPECT_EQ(out, "limit1Setpoint: wanted 55, reported 75\n");

    ASSERT_EQ(simCommand("ignore none"), "ok");
    ASSERT_EQ(simCommand("silent"), "ok");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ctl({"write", link, wanted}), 3) << out << err;
    std::printf("write to a silent device gave up after %.3f s\n", secondsSince(start));
    EXPECT_NE(err.find("device did not answer"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// The codes the simulator has received so far, from its log.
std::vector<unsigned> receivedCodes(const std::string &log)
{
    std::vector<unsigned> codes;
    for (const std::string &line : linesOf(log)) {
        const std::size_t at = line.find(" RX ");
        if (at != std::string::npos)
            codes.push_back(static_cast<unsigned>(std::stoul(line.substr(at + 4))));
    }
    return codes;
}

TEST_F(CliDevice, WriteRefusesAFileWhoseValueLeavesItsFieldsCodesBeforeSendingAnything)
{
    const std::string log = path("sim.log");
    startSimulator(imageA("kW"), {"--log", log});
    for (const RangeFileCase &c : RANGE_FILE_CASES) {
        const std::string file = path("range.614");
        const std::string image = rangeFileImage(c);
        ASSERT_TRUE(saveImage(file, Image(image.begin(), image.end())));
        const std::size_t before = receivedCodes(fileText(log)).size();
        const int rc = ctl({"write", link, file});
        const std::vector<unsigned> codes = receivedCodes(fileText(log));
        if (c.refusedField) {
            EXPECT_EQ(rc, 5) << c.what;
            EXPECT_NE(err.find(rangeRefusalText(c)), std::string::npos) << err;
            EXPECT_EQ(codes.size(), before) << c.what << ": nothing reaches the device";
            continue;
        }
        EXPECT_EQ(rc, 0) << c.what << out << err;
        ASSERT_EQ(codes.size(), before + CODE_MAP_COUNT + 1) << c.what;
        for (int i = 0; i < CODE_MAP_COUNT; ++i) {
            EXPECT_GE(codes[before + i], SEND_ORDER[i]) << c.what;
            EXPECT_LE(codes[before + i], codeMapEntryForBase(SEND_ORDER[i]).last) << c.what;
        }
        EXPECT_NE(std::find(codes.begin() + static_cast<long>(before), codes.end(), c.sentCode), codes.end());
    }
}

TEST_F(CliDevice, PortErrorsAreOneLine)
{
    EXPECT_EQ(ctl({"read", path("no-such-line")}), 4);
    EXPECT_EQ(err, "k614ctl: " + path("no-such-line") + ": no such port\n");
    ASSERT_TRUE(saveImage(params, imageA("kW")));
    EXPECT_EQ(ctl({"log", params}), 4) << "a regular file is not a port";
    EXPECT_NE(err.find("not a serial port"), std::string::npos) << err;
    EXPECT_EQ(ctl({"read"}), 2);
    EXPECT_EQ(ctl({"read", "--help"}), 0);
    EXPECT_NE(out.find("Exit codes"), std::string::npos);
}

constexpr int LEVEL = 77;

// The rows of a CSV log: every line whole, six fields; measurement column as numbers.
struct LogRows {
    int count = 0;
    bool whole = true;
    std::vector<std::string> lines;
};

LogRows logRows(const std::string &text)
{
    LogRows rows;
    rows.whole = !text.empty() && text.back() == '\n';
    rows.lines = linesOf(text);
    rows.count = static_cast<int>(rows.lines.size()) - 1;
    return rows;
}

std::vector<std::string> fieldsOf(const std::string &line)
{
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

TEST_F(CliDevice, LogOfTenSecondsHasFiftyRowsASecondWithTheDevicesValues)
{
    startSimulator(imageA("kW"), {"--wave", "steady", "--level", std::to_string(LEVEL)});
    const std::string csv = path("log.csv");
    const pid_t pid = startCtl({"log", link, "--csv", csv, "--duration", "10"});
    ASSERT_GT(pid, 0);
    // An alarm and a dV/dt event while it runs, once rows are coming.
    ASSERT_TRUE(waitFor([&] { return logRows(fileText(csv)).count > 50; }, 5000));
    ASSERT_EQ(simCommand("alarm 2"), "ok");
    ASSERT_EQ(simCommand("dvdt"), "ok");
    ASSERT_EQ(waitExit(pid, 20000), 0) << fileText(path("ctl.err"));

    const LogRows rows = logRows(fileText(csv));
    std::printf("rows in 10 s: %d\n", rows.count);
    ASSERT_TRUE(rows.whole);
    EXPECT_EQ(rows.lines[0], "time,measurement,maxPeak,minPeak,dpdtPeak,events");
    EXPECT_NEAR(rows.count, 500, 5);
    int alarms = 0, dvdts = 0;
    for (int i = 1; i <= rows.count; ++i) {
        const std::vector<std::string> f = fieldsOf(rows.lines[i]);
        ASSERT_EQ(f.size(), 6u) << rows.lines[i];
        ASSERT_EQ(f[0].size(), 24u) << rows.lines[i];
        EXPECT_EQ(f[0].back(), 'Z');
        EXPECT_EQ(f[1], std::to_string(LEVEL)) << rows.lines[i];
        alarms += f[5].find("alarm 65039") != std::string::npos;
        dvdts += f[5].find("dvdt 65052") != std::string::npos;
    }
    const std::vector<std::string> last = fieldsOf(rows.lines.back());
    EXPECT_EQ(last[2], std::to_string(LEVEL)) << "max peak";
    EXPECT_EQ(last[3], std::to_string(LEVEL)) << "min peak";
    EXPECT_EQ(alarms, 1);
    EXPECT_EQ(dvdts, 1);
}

TEST_F(CliDevice, UnplugDuringLogIsReportedAndTheFileIsWholeUpToIt)
{
    startSimulator(imageA("kW"), {"--wave", "steady", "--level", std::to_string(LEVEL)});
    const std::string csv = path("log.csv");
    const pid_t pid = startCtl({"log", link, "--csv", csv});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitFor([&] { return logRows(fileText(csv)).count > 50; }, 5000));
    ASSERT_EQ(simCommand("unplug"), "ok");
    EXPECT_EQ(waitExit(pid, 10000), 6);
    const std::string errText = fileText(path("ctl.err"));
    EXPECT_NE(errText.find("the line to the device was lost after"), std::string::npos) << errText;

    const LogRows rows = logRows(fileText(csv));
    ASSERT_TRUE(rows.whole);
    EXPECT_GT(rows.count, 50);
    for (int i = 1; i <= rows.count; ++i)
        EXPECT_EQ(fieldsOf(rows.lines[i]).size(), 6u) << rows.lines[i];
    EXPECT_NE(errText.find("after " + std::to_string(rows.count) + " rows"), std::string::npos) << errText;
}

TEST_F(CliDevice, LogOnAFullDiskEndsAtItsLastWholeRow)
{
    // A filesystem of one page: the log fills it within seconds.
    const std::string disk = path("disk");
    ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "): needs root";
    struct Unmount {
        std::string at;
        ~Unmount() { umount(at.c_str()); }
    } unmount{disk};
    startSimulator(imageA("kW"), {"--wave", "steady", "--level", std::to_string(LEVEL)});
    const std::string csv = disk + "/log.csv";
    EXPECT_EQ(ctl({"log", link, "--csv", csv}, 30000), 5) << err;
    EXPECT_NE(err.find("cannot write to " + csv + "; it ends after its last whole row"), std::string::npos) << err;

    const LogRows rows = logRows(fileText(csv));
    ASSERT_TRUE(rows.whole) << "torn: " << rows.lines.back();
    EXPECT_GT(rows.count, 50);
    for (int i = 1; i <= rows.count; ++i)
        EXPECT_EQ(fieldsOf(rows.lines[i]).size(), 6u) << rows.lines[i];
    char kept[32];
    std::snprintf(kept, sizeof kept, "(%d rows)", rows.count);
    EXPECT_NE(err.find(kept), std::string::npos) << err;
}

} // namespace
