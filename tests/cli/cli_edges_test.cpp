// k614ctl at its edges: the argument lists and what each gives, unterminated unit texts, 0x7F, peak code
// boundaries, and a line that carries only noise.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/ctl_commands.h"
#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/line_record.h"

namespace {

std::string textOf(FILE *f)
{
    std::string s;
    std::rewind(f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

struct ArgCase {
    std::vector<const char *> words; // after "k614ctl"
    ParseOutcome outcome;
    const char *says; // in the usage error, or nullptr
};

TEST(CliArgs, EachArgumentListGivesItsOutcome)
{
    const ArgCase cases[] = {
        {{"log", "P", "--duration", "1.5"}, ParseOutcome::run, nullptr},
        {{"log", "P", "--duration=0.001"}, ParseOutcome::run, nullptr},
        {{"log", "P", "--duration", "0"}, ParseOutcome::usageError, "--duration needs seconds greater than 0"},
        {{"log", "P", "--duration", "1e3"}, ParseOutcome::usageError, "--duration"},
        {{"log", "P", "--csv="}, ParseOutcome::usageError, "--csv"},
        {{"read", "P", "extra"}, ParseOutcome::usageError, "extra"},
        {{"diff", "a", "b", "c"}, ParseOutcome::usageError, "not expected"},
        {{"read", "P", "-o", "F", "--json"}, ParseOutcome::usageError, "excludes"},
        {{"read"}, ParseOutcome::usageError, "PORT is required"},
        {{"write", "P"}, ParseOutcome::usageError, "FILE.614 is required"},
        {{"show", "--json", "--", "-dash.614"}, ParseOutcome::run, nullptr},
        {{"frob"}, ParseOutcome::usageError, "unknown command 'frob'"},
        {{}, ParseOutcome::usageError, "no command given"},
        {{"write", "--help"}, ParseOutcome::help, nullptr},
        {{"--version"}, ParseOutcome::version, nullptr},
        {{"publish", "P"}, ParseOutcome::usageError, "--broker is required"},
        {{"publish", "P", "--broker", "h", "--qos", "2"}, ParseOutcome::usageError, "--qos"},
        {{"publish", "P", "--broker", "h", "--every", "0"}, ParseOutcome::usageError, "--every"},
        {{"publish", "P", "--broker", "h", "--password", "x"}, ParseOutcome::usageError, "--password"},
        {{"publish", "P", "--broker", "h:1884", "--every", "5", "--qos", "1", "--topic", "t", "--duration", "2"},
         ParseOutcome::run, nullptr},
    };
    for (const ArgCase &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("k614ctl")};
        for (const char *w : c.words)
            argv.push_back(const_cast<char *>(w));
        FILE *err = std::tmpfile();
        CtlArgs args;
        const ParseOutcome got = parseCtlArgs(static_cast<int>(argv.size()), argv.data(), &args, err);
        const std::string message = textOf(err);
        std::fclose(err);
        const std::string line = c.words.empty() ? std::string("(none)") : c.words[0];
        EXPECT_EQ(got, c.outcome) << line << " ... " << message;
        if (c.says) {
            EXPECT_NE(message.find(c.says), std::string::npos) << message;
            EXPECT_NE(message.find("\nTry 'k614ctl"), std::string::npos) << message;
        } else {
            EXPECT_EQ(message, "");
        }
    }
}

TEST(CliArgs, ValuesReachTheCommand)
{
    char *argv[] = {const_cast<char *>("k614ctl"), const_cast<char *>("publish"), const_cast<char *>("/dev/ttyS1"),
                    const_cast<char *>("--broker=h:1884"), const_cast<char *>("--every"), const_cast<char *>("5"),
                    const_cast<char *>("--qos"), const_cast<char *>("1"), const_cast<char *>("--duration"),
                    const_cast<char *>("1.5")};
    CtlArgs args;
    ASSERT_EQ(parseCtlArgs(10, argv, &args, stderr), ParseOutcome::run);
    EXPECT_EQ(args.command, CtlCommand::publish);
    EXPECT_STREQ(args.port, "/dev/ttyS1");
    EXPECT_STREQ(args.broker, "h:1884");
    EXPECT_EQ(args.topic, nullptr);
    EXPECT_EQ(args.every, 5);
    EXPECT_EQ(args.qos, 1);
    EXPECT_EQ(args.durationMs, 1500);
}

// ---- a line that brings bytes but never a valid frame ----

struct NoiseLine {
    std::int64_t now = 0;
    unsigned seed = 1;
};

NoiseLine *noiseOf(void *context)
{
    return static_cast<NoiseLine *>(context);
}

const CtlOps NOISE_OPS = {
    nullptr,
    [](void *, const char *) { return SerialOpenResult::ok; },
    [](void *c, std::uint8_t *buffer, int size, int timeoutMs) {
        // Twelve bytes every 20 ms, never CR: as much as a streaming device, none of it a frame.
        NoiseLine *line = noiseOf(c);
        const int wait = 20 < timeoutMs ? 20 : timeoutMs;
        line->now += wait;
        if (wait < 20)
            return 0;
        const int count = size < 12 ? size : 12;
        for (int i = 0; i < count; ++i) {
            line->seed = line->seed * 1103515245u + 12345u;
            const std::uint8_t b = static_cast<std::uint8_t>(line->seed >> 16);
            buffer[i] = b == 0x0D ? 0x0E : b;
        }
        return count;
    },
    [](void *, const std::uint8_t *, int) { return true; },
    [](void *) {},
    [](void *c) { return noiseOf(c)->now; },
    [](void *c) -> std::int64_t { return 1700000000000LL + noiseOf(c)->now; },
    [](void *c, int ms) { noiseOf(c)->now += ms; },
    [](void *) {},
    [](void *) { return false; },
    [](void *) { return false; },
};

// ---- the offline commands on files without a unit text terminator ----

class CliEdges : public ::testing::Test {
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
    std::string save(const char *name, const ParameterSet &set)
    {
        const std::string p = std::string(dir) + "/" + name;
        FILE *f = std::fopen(p.c_str(), "wb");
        std::fwrite(&set, 1, sizeof set, f);
        std::fclose(f);
        return p;
    }
    // The offline commands never touch the line; log gets the noise.
    int run(std::vector<const char *> words, const CtlOps &ops = NOISE_OPS)
    {
        words.insert(words.begin(), "k614ctl");
        CtlArgs args;
        if (parseCtlArgs(static_cast<int>(words.size()), const_cast<char **>(words.data()), &args, err) !=
            ParseOutcome::run)
            return EXIT_USAGE;
        std::rewind(out);
        (void)!ftruncate(fileno(out), 0);
        const CtlIo io = {out, err};
        return runCtlCommand(args, ops, io);
    }
    char dir[64] = "/tmp/k614edges.XXXXXX";
    FILE *out = nullptr;
    FILE *err = nullptr;
};

TEST_F(CliEdges, AUnitTextFillingAll32BytesIsShownWholeAndNothingAfterIt)
{
    ParameterSet full = {};
    std::memset(full.unitText, 'k', UNIT_TEXT_SIZE);
    full.zero = 0x4141; // the bytes right after the text, "AA": never part of it
    ParameterSet shorter = full;
    shorter.unitText[UNIT_TEXT_SIZE - 1] = 0;
    const std::string a = save("a.614", full), b = save("b.614", shorter);
    const std::string k32(UNIT_TEXT_SIZE, 'k');

    ASSERT_EQ(run({"show", "--json", a.c_str()}), EXIT_DONE);
    EXPECT_NE(textOf(out).find("\"unitText\": \"" + k32 + "\""), std::string::npos) << textOf(out);
    ASSERT_EQ(run({"show", a.c_str()}), EXIT_DONE);
    EXPECT_NE(textOf(out).find(k32 + "\n"), std::string::npos) << textOf(out);
    EXPECT_EQ(textOf(out).find("kA"), std::string::npos);
    ASSERT_EQ(run({"diff", a.c_str(), b.c_str()}), EXIT_DIFFER);
    EXPECT_EQ(textOf(out), "unitText: \"" + k32 + "\" -> \"" + k32.substr(1) + "\"\n");
}

TEST(CliFormatEdges, DeleteIsEscapedLikeTheCharactersAboveIt)
{
    char json[JSON_UNIT_SIZE];
    jsonString("a\x7f~", json, sizeof json);
    EXPECT_STREQ(json, "\"a\\u007f~\"");
}

TEST(CliLineRecordEdges, PeakCodesAtTheirRangeBoundaries)
{
    struct Case {
        unsigned code;
        std::int32_t LineRecord::*peak; // nullptr: a measurement row
        std::int32_t value;
    };
    const Case cases[] = {
        {199, nullptr, 199},
        {200, &LineRecord::minPeak, 0},
        {399, &LineRecord::minPeak, 199},
        {400, &LineRecord::maxPeak, 0}, // not min peak 200
        {599, &LineRecord::maxPeak, 199},
        {600, &LineRecord::dpdtPeak, 0},
        {999, &LineRecord::dpdtPeak, 399},
    };
    for (const Case &c : cases) {
        LineRecord record;
        resetLineRecord(&record);
        recordCode(&record, static_cast<DeviceCode>(c.code));
        if (!c.peak) {
            ASSERT_EQ(record.rowCount, 1) << c.code;
            EXPECT_EQ(record.rows[0].measurement, c.value);
            continue;
        }
        EXPECT_EQ(record.rowCount, 0) << c.code;
        EXPECT_EQ(record.*c.peak, c.value) << c.code;
        const int reported = (record.minPeak != NOT_REPORTED) + (record.maxPeak != NOT_REPORTED) +
                             (record.dpdtPeak != NOT_REPORTED);
        EXPECT_EQ(reported, 1) << c.code;
    }
    LineRecord record;
    resetLineRecord(&record);
    recordCode(&record, 1000);
    EXPECT_EQ(record.maxPeak + record.minPeak + record.dpdtPeak, 3 * NOT_REPORTED) << "1000 is no peak";
}

TEST_F(CliEdges, ALineOfNoiseIsASilentLineToTheLog)
{
    NoiseLine line;
    CtlOps ops = NOISE_OPS;
    ops.context = &line;
    const std::string csv = std::string(dir) + "/noise.csv";
    ASSERT_EQ(run({"log", "PORT", "--csv", csv.c_str(), "--duration", "3"}, ops), EXIT_DONE);
    EXPECT_EQ(textOf(err), "k614ctl: PORT: no data from the device for 2 s\n");
}

} // namespace
