// k614ctl's decisions without a device: the code record, the texts, the offline commands, and the device
// commands against a scripted fake of CtlOps on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli/ctl_dispatch.h"
#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/line_record.h"
#include "cli/parameter_file.h"
#include "link/frame_codec.h"
#include "tests/cli/cli_support.h"
#include "tests/native/fake_file_replace.h"

namespace {

using namespace cli_test;

ParameterSet sampleSet()
{
    ParameterSet p = {};
    p.limit1Mode = 2;
    p.limit1Setpoint = 80;
    p.limit1Tr = 150;
    p.limit2Mode = 1;
    p.limit2Setpoint = 20;
    p.dpdtMode = 1;
    p.dpdtSetpoint = 30;
    p.dvdt = 10;
    p.ts = 500;
    p.p1Max = 100;
    p.filter = 2;
    p.zero = 1;
    std::memcpy(p.unitText, "MW", 3);
    return p;
}

void feed(LineRecord *record, FrameAssembly *assembly, const std::string &bytes)
{
    recordBytes(record, assembly, reinterpret_cast<const std::uint8_t *>(bytes.data()), static_cast<int>(bytes.size()));
}

TEST(CliLineRecord, UploadAnswerAmongMeasurementsGivesTheSetAndRowsCarryPeaksAndEvents)
{
    LineRecord record;
    resetLineRecord(&record);
    FrameAssembly assembly = {};
    const ParameterSet wanted = sampleSet();
    std::string stream = framesOf({77, 410});          // a measurement before any peak, then max peak 10
    stream += framesOf({UNIT_CHAR_BASE + 'x', 3333});   // left over from nothing: no answer has started
    for (unsigned code : answerCodes(wanted)) {
        stream += framesOf({code, 50});                 // a measurement after every code of the answer
    }
    stream += framesOf({ALARM_LOW_FIRST, STATUS_DVDT, 215, 51});
    // Split at an odd place: frames span reads.
    feed(&record, &assembly, stream.substr(0, 7));
    EXPECT_FALSE(answerComplete(record.answer));
    feed(&record, &assembly, stream.substr(7));

    ASSERT_TRUE(answerComplete(record.answer));
    EXPECT_EQ(std::memcmp(&record.answer.set, &wanted, sizeof wanted), 0);
    const int answerLength = static_cast<int>(answerCodes(wanted).size());
    ASSERT_EQ(record.rowCount, 2 + answerLength);
    EXPECT_EQ(record.rows[0].measurement, 77);
    EXPECT_EQ(record.rows[0].maxPeak, NOT_REPORTED);
    EXPECT_EQ(record.rows[1].maxPeak, 10);
    EXPECT_EQ(record.rows[1].minPeak, NOT_REPORTED);
    EXPECT_EQ(record.rows[1].eventCount, 0);
    const LogRow &last = record.rows[record.rowCount - 1];
    EXPECT_EQ(last.measurement, 51);
    EXPECT_EQ(last.minPeak, 15);
    ASSERT_EQ(last.eventCount, 2);
    EXPECT_EQ(last.events[0], ALARM_LOW_FIRST);
    EXPECT_EQ(last.events[1], STATUS_DVDT);

    char row[CSV_ROW_SIZE];
    formatCsvRow("T", record.rows[0], row, sizeof row);
    EXPECT_STREQ(row, "T,77,,,,\n");
    formatCsvRow("T", last, row, sizeof row);
    EXPECT_STREQ(row, "T,51,10,15,,alarm 65014;dvdt 65052\n");

    // A new answer starts over; a unit text longer than fits keeps 31 characters.
    beginAnswer(&record);
    std::string longer = framesOf({3000});
    for (int i = 0; i < 40; ++i)
        longer += framesOf({UNIT_CHAR_BASE + 'a'});
    feed(&record, &assembly, longer + framesOf({UNIT_TEXT_END}));
    EXPECT_EQ(std::strlen(record.answer.set.unitText), UNIT_TEXT_SIZE - 1);
    EXPECT_FALSE(answerComplete(record.answer)) << "22 fields missing";
}

TEST(CliFormat, UtcTimestampsAndJsonEscapes)
{
    char t[TIMESTAMP_SIZE];
    formatUtcTimestamp(0, t);
    EXPECT_STREQ(t, "1970-01-01T00:00:00.000Z");
    formatUtcTimestamp(951782400000LL + 86399999, t); // leap day 2000, its last millisecond
    EXPECT_STREQ(t, "2000-02-29T23:59:59.999Z");

    char json[JSON_UNIT_SIZE];
    jsonString("k\"W\x01\\\xb5", json, sizeof json);
    EXPECT_STREQ(json, "\"k\\\"W\\u0001\\\\\\u00b5\"");
    jsonString("a\x7f~", json, sizeof json); // DEL is escaped like the characters above it
    EXPECT_STREQ(json, "\"a\\u007f~\"");
    // The longest unit text, every character escaped to six, still fits.
    char worst[UNIT_STRING_SIZE];
    std::memset(worst, 0x01, UNIT_TEXT_SIZE);
    worst[UNIT_TEXT_SIZE] = 0;
    jsonString(worst, json, sizeof json);
    EXPECT_EQ(std::strlen(json), UNIT_TEXT_SIZE * 6 + 2);
}

// ---- the commands through the dispatch, with files in a temp dir ----

class CliCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir), nullptr);
        out = std::tmpfile();
        err = std::tmpfile();
    }
    void TearDown() override
    {
        std::fclose(out);
        std::fclose(err);
        (void)std::system((std::string("rm -rf ") + dir).c_str());
    }
    std::string path(const char *name) { return std::string(dir) + "/" + name; }
    std::string save(const char *name, const void *bytes, std::size_t size)
    {
        const std::string p = path(name);
        FILE *f = std::fopen(p.c_str(), "wb");
        std::fwrite(bytes, 1, size, f);
        std::fclose(f);
        return p;
    }
    static std::string text(FILE *f) { return streamText(f); }
    int run(std::initializer_list<const char *> words)
    {
        // The offline commands must not touch the line: a fake with nothing scripted.
        FakeLine line;
        const int rc = runFake(&line, words, out, err);
        EXPECT_TRUE(line.sent.empty());
        return rc;
    }
    char dir[64] = "/tmp/k614cli.XXXXXX";
    FILE *out = nullptr;
    FILE *err = nullptr;
};

TEST_F(CliCommands, ShowListsTheReportTextsAndJson)
{
    const ParameterSet p = sampleSet();
    const std::string file = save("a.614", &p, sizeof p);
    ASSERT_EQ(run({"k614ctl", "show", file.c_str()}), EXIT_DONE);
    const std::string listing = text(out);
    EXPECT_EQ(listing.rfind("Parameters\nUnit:  MW\n\nLimit 1\n  Limit      : Max.\n  Setpoint   : 80%\n"
                            "  Tr         : 1.50s\n", 0),
              0u)
        << listing;
    EXPECT_NE(listing.find("\nSetup\n  Ts         : 5.00s\n\nIout\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\nOutput\n"), std::string::npos);

    std::rewind(out);
    ASSERT_EQ(run({"k614ctl", "show", "--json", file.c_str()}), EXIT_DONE);
    const std::string json = text(out);
    EXPECT_EQ(json.rfind("{\"limit1Mode\": 2, \"limit2Mode\": 1, ", 0), 0u) << json;
    EXPECT_NE(json.find("\"limit2Tr\": 0, \"unitText\": \"MW\"}\n"), std::string::npos) << json;
}

TEST_F(CliCommands, DiffNamesEachDifferenceAndExitsLikeDiff)
{
    const ParameterSet a = sampleSet();
    ParameterSet b = a;
    b.limit1Setpoint = 72;
    b.zero = 2;
    std::memcpy(b.unitText, "k\"W", 4);
    b.reserved[3] = 9; // not compared
    const std::string fa = save("a.614", &a, sizeof a), fb = save("b.614", &b, sizeof b);
    EXPECT_EQ(run({"k614ctl", "diff", fa.c_str(), fa.c_str()}), EXIT_DONE);
    EXPECT_EQ(text(out), "");
    EXPECT_EQ(run({"k614ctl", "diff", fa.c_str(), fb.c_str()}), EXIT_DIFFER);
    EXPECT_EQ(text(out), "zero: 1 -> 2\nlimit1Setpoint: 80 -> 72\nunitText: \"MW\" -> \"k\\\"W\"\n");
}

TEST_F(CliCommands, ShowAndDiffMarkValuesOutsideTheirCodesAndTheUnitTextCannotReachTheTerminal)
{
    ParameterSet p = sampleSet();
    std::memcpy(p.unitText, "\x1b]0;x\x07k\\W\x9b", 11); // a title change, a backslash, C1 CSI
    const std::string good = save("good.614", &p, sizeof p);
    p.zero = 15;
    p.limit2Tr = 35000;
    const std::string bad = save("bad.614", &p, sizeof p);

    ASSERT_EQ(run({"k614ctl", "show", bad.c_str()}), EXIT_DONE);
    const std::string listing = text(out);
    EXPECT_EQ(listing.rfind("Parameters\nUnit:  \\x1b]0;x\\x07k\\\\W\\x9b\n", 0), 0u) << listing;
    const std::string marked = "\nOutside the device's codes (write refuses this file)\n"
                               "  zero 15 is outside 0..14\n  limit2Tr 35000 is outside 0..34999\n";
    EXPECT_EQ(listing.substr(listing.size() - marked.size()), marked) << listing;

    std::fclose(out);
    out = std::tmpfile();
    ASSERT_EQ(run({"k614ctl", "show", "--json", bad.c_str()}), EXIT_DONE);
    EXPECT_NE(text(out).find("\"outOfRange\": [\"zero\", \"limit2Tr\"]}\n"), std::string::npos) << text(out);

    std::fclose(out);
    out = std::tmpfile();
    EXPECT_EQ(run({"k614ctl", "diff", good.c_str(), bad.c_str()}), EXIT_DIFFER);
    EXPECT_EQ(text(out), "zero: 1 -> 15 (outside 0..14)\nlimit2Tr: 0 -> 35000 (outside 0..34999)\n");
}

TEST_F(CliCommands, DryRunPrintsTheCodesInSendOrder)
{
    const ParameterSet p = sampleSet();
    const std::string file = save("a.614", &p, sizeof p);
    ASSERT_EQ(run({"k614ctl", "write", "/dev/k614-no-such-port", file.c_str(), "--dry-run"}), EXIT_DONE);
    const std::string codes = text(out);
    EXPECT_EQ(codes.rfind("limit1Mode 3002\nlimit2Mode 3011\ndpdtMode 3021\ntimerRange 3030\n", 0), 0u) << codes;
    EXPECT_NE(codes.find("\nfilter 3082\nzero 3086\nlimit1Setpoint 3180\n"), std::string::npos) << codes;
    EXPECT_NE(codes.find("\nlimit1Tr 20150\nlimit2Tr 30000\n"), std::string::npos) << codes;
    EXPECT_EQ(std::count(codes.begin(), codes.end(), '\n'), PARAMETER_COUNT);
}

TEST_F(CliCommands, FilesThatAreNotParameterFilesAreRefusedWithOneLine)
{
    const ParameterSet p = sampleSet();
    const std::string shortFile = save("short.614", &p, PARAMETER_FILE_SIZE - 1);
    const std::string good = save("good.614", &p, sizeof p);
    const std::string missing = path("missing.614");
    const std::string fifo = path("fifo.614"); // no writer: opening it to read would wait for ever
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ParameterSet outside = p;
    outside.ts = 10000;
    const std::string bad = save("bad.614", &outside, sizeof outside);
    struct Case {
        std::initializer_list<const char *> words;
        const char *says;
    };
    const Case cases[] = {
        {{"k614ctl", "show", shortFile.c_str()}, "not a parameter file (87 bytes, 88 needed)"},
        {{"k614ctl", "diff", good.c_str(), shortFile.c_str()}, "not a parameter file"},
        {{"k614ctl", "write", "/dev/null", shortFile.c_str(), "--dry-run"}, "not a parameter file"},
        {{"k614ctl", "show", missing.c_str()}, "cannot open"},
        {{"k614ctl", "show", dir}, "is a directory"},
        {{"k614ctl", "show", fifo.c_str()}, "is a FIFO"},
        {{"k614ctl", "write", "PORT", fifo.c_str()}, "is a FIFO"},
        {{"k614ctl", "write", "/dev/null", bad.c_str(), "--dry-run"}, "ts 10000 is outside 0..9999; nothing sent"},
    };
    for (const Case &c : cases) {
        std::fclose(err);
        err = std::tmpfile();
        EXPECT_EQ(run(c.words), EXIT_FILE_ERROR) << c.says;
        const std::string message = text(err);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    }
    EXPECT_EQ(text(out), "") << "nothing listed, nothing sent";
}

TEST_F(CliCommands, WritePacesItsCodesAndGivesUpOnASilentDevice)
{
    ParameterSet p = sampleSet();
    const std::string file = save("a.614", &p, sizeof p);
    FakeLine line;
    EXPECT_EQ(runFake(&line, {"k614ctl", "write", "PORT", file.c_str()}, out, err), EXIT_NO_ANSWER);
    ASSERT_EQ(line.sent.size(), static_cast<std::size_t>(PARAMETER_COUNT + 1));
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        EXPECT_EQ(line.sent[i].first, i * CODE_SPACING_MS);
        EXPECT_EQ(line.sent[i].second, PARAMETER_FIELDS[i].base + p.*PARAMETER_FIELDS[i].member);
    }
    EXPECT_EQ(line.sent.back().first, PARAMETER_COUNT * CODE_SPACING_MS);
    EXPECT_EQ(line.sent.back().second, CMD_REQUEST_UPLOAD);
    EXPECT_EQ(line.now, line.sent.back().first + ANSWER_WAIT_MS);
    EXPECT_EQ(text(err), "k614ctl: PORT: device did not answer (3 s)\n");
}

TEST_F(CliCommands, LogReportsSilenceGoesOnAndEndsOnALostLine)
{
    FakeLine line;
    const std::string csv = path("log.csv");
    for (int i = 0; i < 10; ++i)
        line.script.push_back({i * 20, framesOf({static_cast<unsigned>(40 + i)}), false});
    line.script.push_back({200, framesOf({430, ALARM_HIGH_FIRST}), false});
    for (int i = 0; i < 5; ++i) // after 2.5 s of silence
        line.script.push_back({2700 + i * 20, framesOf({static_cast<unsigned>(60 + i)}), false});
    line.script.push_back({2900, "", true});
    EXPECT_EQ(runFake(&line, {"k614ctl", "log", "PORT", "--csv", csv.c_str()}, out, err), EXIT_LINE_LOST);

    FILE *f = std::fopen(csv.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    const std::string rows = text(f);
    std::fclose(f);
    EXPECT_EQ(rows.rfind("time,measurement,maxPeak,minPeak,dpdtPeak,events\n"
                         "2023-11-14T22:13:20.000Z,40,,,,\n2023-11-14T22:13:20.020Z,41,,,,\n",
                         0),
              0u)
        << rows;
    EXPECT_NE(rows.find("2023-11-14T22:13:22.700Z,60,30,,,alarm 65039\n2023-11-14T22:13:22.720Z,61,30,,,\n"),
              std::string::npos)
        << rows;
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + 15);
    EXPECT_EQ(text(err), "k614ctl: PORT: no data from the device for 2 s\n"
                         "k614ctl: PORT: data from the device again\n"
                         "k614ctl: PORT: the line to the device was lost after 15 rows\n");
}

// `read -o`: which step of the replacing file failed names the line; the old file is never emptied first.
TEST(CliSave, EachFailedStepIsOneLineWithTheSystemsReason)
{
    struct Row {
        const char *failing;
        const char *says;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        {"", "", {"begin out.614", "write 88", "commit"}},
        {"begin", "out.614: cannot create (No space left on device)", {"begin out.614"}},
        {"write", "out.614: cannot write (No space left on device)", {"begin out.614", "write 88", "discard"}},
        {"commit", "out.614: cannot save (No space left on device)", {"begin out.614", "write 88", "commit"}},
    };
    const ParameterSet set = sampleSet();
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string("failing: ") + row.failing);
        FakeFileReplace file;
        file.failing = row.failing;
        char reason[FILE_MESSAGE_SIZE] = "";
        EXPECT_EQ(saveParameterFile(file.ops(), "out.614", set, reason, sizeof reason), *row.failing == '\0');
        EXPECT_STREQ(reason, row.says);
        EXPECT_EQ(file.log, row.calls);
    }
}

// The same on a real full disk: a tmpfs of four pages, mounted here (as root) and filled.
TEST(CliSave, OnAFullDiskTheOldFileStaysAsItWasAndNothingIsLeftBehind)
{
    char dir[] = "/tmp/k614full.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    if (mount("k614full", dir, "tmpfs", 0, "size=16k") != 0) {
        rmdir(dir);
        GTEST_SKIP() << "cannot mount a small tmpfs (needs root): " << std::strerror(errno);
    }
    const std::string d = dir;
    const std::string listing = "filler\nold.614\n";
    const auto shellOut = [](const std::string &command) {
        std::string out;
        if (FILE *p = popen(command.c_str(), "r")) {
            for (int c; (c = std::fgetc(p)) != EOF;)
                out += static_cast<char>(c);
            pclose(p);
        }
        return out;
    };
    shellOut("printf 'the last good file' >" + d + "/old.614; dd if=/dev/zero of=" + d + "/filler bs=4k 2>/dev/null");
    for (const char *name : {"old.614", "new.614"}) {
        SCOPED_TRACE(name);
        ReplacingFile file;
        char reason[FILE_MESSAGE_SIZE] = "";
        EXPECT_FALSE(saveParameterFile(replacingFileOps(&file), (d + "/" + name).c_str(), sampleSet(), reason,
                                       sizeof reason));
        EXPECT_NE(std::string(reason).find("No space left on device"), std::string::npos) << reason;
        EXPECT_EQ(shellOut("ls -A " + d), listing) << "a temporary file, or the new name, was left behind";
        EXPECT_EQ(shellOut("cat " + d + "/old.614"), "the last good file");
    }
    umount2(dir, MNT_DETACH);
    rmdir(dir);
}

// ---- at the edges: argument lists, a unit text without its terminator, peak code boundaries, noise ----

TEST(CliArgs, EachArgumentListGivesItsOutcome)
{
    const struct {
        std::vector<const char *> words; // after "k614ctl"
        ParseOutcome outcome;
        const char *says; // in the usage error, or nullptr
    } cases[] = {
        {{"log", "P", "--duration", "1.5"}, ParseOutcome::run, nullptr},
        {{"log", "P", "--duration=0.001"}, ParseOutcome::run, nullptr},
        {{"log", "P", "--duration", "0"}, ParseOutcome::usageError, "--duration needs seconds greater than 0"},
        {{"log", "P", "--duration", "1e3"}, ParseOutcome::usageError, "--duration"},
        {{"log", "P", "--duration", "0.5"}, ParseOutcome::run, nullptr},
        {{"log", "P", "--duration", "1.2345"}, ParseOutcome::usageError, "at most 3 decimals"},
        {{"log", "P", "--duration", "5."}, ParseOutcome::usageError, "'5.'"},
        {{"log", "P", "--duration", "34560000.000"}, ParseOutcome::run, nullptr},
        {{"log", "P", "--duration", "34560000.001"}, ParseOutcome::usageError, "--duration"},
        {{"read", ""}, ParseOutcome::usageError, "PORT is empty"},
        {{"write", "", "F"}, ParseOutcome::usageError, "PORT is empty"},
        {{"log", ""}, ParseOutcome::usageError, "PORT is empty"},
        {{"publish", "", "--broker", "h"}, ParseOutcome::usageError, "PORT is empty"},
        {{"log", "P", "--csv="}, ParseOutcome::usageError, "--csv"},
        {{"read", "P", "extra"}, ParseOutcome::usageError, "extra"},
        {{"diff", "a", "b", "c"}, ParseOutcome::usageError, "not expected"},
        {{"read", "P", "-o", "F", "--json"}, ParseOutcome::usageError, "excludes"},
        {{"write", "P"}, ParseOutcome::usageError, "FILE.614 is required"},
        {{"show", "--json", "--", "-dash.614"}, ParseOutcome::run, nullptr},
        {{"frob"}, ParseOutcome::usageError, "unknown command 'frob'"},
        {{}, ParseOutcome::usageError, "no command given"},
        {{"--version"}, ParseOutcome::version, nullptr},
        {{"publish", "P"}, ParseOutcome::usageError, "--broker is required"},
        {{"publish", "--broker", "h"}, ParseOutcome::usageError, "PORT is required"},
        {{"publish", "--broker", "h", "--topic", "t", "--remove-discovery"}, ParseOutcome::run, nullptr},
        {{"publish", "--config", "relay.conf"}, ParseOutcome::run, nullptr},
        {{"publish", "P", "--broker", "h", "--qos", "2"}, ParseOutcome::usageError, "--qos"},
        {{"publish", "P", "--broker", "h", "--every", "0"}, ParseOutcome::usageError, "--every"},
        {{"publish", "P", "--broker", "h", "--password", "x"}, ParseOutcome::usageError, "--password"},
    };
    for (const auto &c : cases) {
        FILE *err = std::tmpfile();
        CtlArgs args;
        EXPECT_EQ(parseWords(c.words, &args, err), c.outcome) << (c.words.empty() ? "(none)" : c.words[0]);
        const std::string message = streamText(err);
        std::fclose(err);
        const bool said = c.says && message.find(c.says) != std::string::npos &&
                          message.find("\nTry 'k614ctl") != std::string::npos;
        EXPECT_TRUE(c.says ? said : message.empty()) << message;
    }
    CtlArgs args;
    ASSERT_EQ(parseWords({"publish", "P", "--broker", "h", "--qos", "1", "--duration", "1.5"}, &args, stderr),
              ParseOutcome::run);
    EXPECT_EQ(args.publish.qos, 1);
    EXPECT_EQ(args.durationMs, 1500);
}

TEST_F(CliCommands, AUnitTextFillingAll32BytesIsShownWholeAndNothingAfterIt)
{
    ParameterSet full = {};
    std::memset(full.unitText, 'k', UNIT_TEXT_SIZE);
    full.zero = 0x4141; // the bytes right after the text, "AA": never part of it
    ParameterSet shorter = full;
    shorter.unitText[UNIT_TEXT_SIZE - 1] = 0;
    const std::string a = save("a.614", &full, sizeof full), b = save("b.614", &shorter, sizeof shorter);
    const std::string k32(UNIT_TEXT_SIZE, 'k');
    ASSERT_EQ(run({"k614ctl", "diff", a.c_str(), b.c_str()}), EXIT_DIFFER);
    EXPECT_EQ(text(out), "unitText: \"" + k32 + "\" -> \"" + k32.substr(1) + "\"\n");
    ASSERT_EQ(run({"k614ctl", "show", "--json", a.c_str()}), EXIT_DONE);
    ASSERT_EQ(run({"k614ctl", "show", a.c_str()}), EXIT_DONE);
    const std::string shown = text(out);
    EXPECT_NE(shown.find("\"unitText\": \"" + k32 + "\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("Unit:  " + k32 + "\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("kA"), std::string::npos) << shown;
}

TEST(CliLineRecord, PeakCodesAtTheirRangeBoundaries)
{
    constexpr std::int32_t N = NOT_REPORTED;
    const std::int32_t cases[][5] = {
        // code, the row's measurement (N: no row), max, min and dP/dt peak; 400 is max peak 0, not min peak 200
        {199, 199, N, N, N}, {200, N, N, 0, N}, {399, N, N, 199, N}, {400, N, 0, N, N},
        {599, N, 199, N, N}, {600, N, N, N, 0}, {999, N, N, N, 399}, {1000, N, N, N, N},
    };
    for (const auto &c : cases) {
        LineRecord r;
        resetLineRecord(&r);
        recordCode(&r, static_cast<DeviceCode>(c[0]));
        const std::vector<std::int32_t> got = {r.rowCount == 1 ? r.rows[0].measurement : N, r.maxPeak, r.minPeak,
                                               r.dpdtPeak};
        EXPECT_EQ(got, std::vector<std::int32_t>(c + 1, c + 5)) << c[0];
    }
}

TEST_F(CliCommands, ALineOfNoiseIsASilentLineToTheLog)
{
    // Twelve bytes every 20 ms, never CR: as much as a streaming device brings, none of it a frame.
    FakeLine line;
    unsigned seed = 1;
    for (int at = 20; at <= 3000; at += 20) {
        std::string noise;
        for (int i = 0; i < 12; ++i) {
            seed = seed * 1103515245u + 12345u;
            const char b = static_cast<char>(seed >> 16);
            noise += b == 0x0D ? 0x0E : b;
        }
        line.script.push_back({at, noise, false});
    }
    const std::string csv = path("noise.csv");
    EXPECT_EQ(runFake(&line, {"k614ctl", "log", "PORT", "--csv", csv.c_str(), "--duration", "3"}, out, err), EXIT_DONE);
    EXPECT_EQ(text(err), "k614ctl: PORT: no data from the device for 2 s\n");
}

} // namespace
