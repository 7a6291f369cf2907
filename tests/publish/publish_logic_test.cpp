// k614ctl publish without a broker: the bounded queue's order, confirmations and drops; the payload texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/ctl_dispatch.h"
#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/line_record.h"
#include "publish/publish_core.h"
#include "link/frame_codec.h"
#include "tests/cli/cli_support.h"

namespace {

using namespace cli_test;

// What nextQueued hands out, and marks it sent.
std::uint64_t takeNext(PublishQueue *q)
{
    QueuedItem item;
    if (!nextQueued(*q, &item))
        return 0;
    markQueuedSent(q, item.seq);
    return item.seq;
}

TEST(PublishQueue, HandsOutInOrderKeepsWhatIsUnconfirmedAndDropsTheOldestWhenFull)
{
    auto q = std::make_unique<PublishQueue>();
    resetPublishQueue(q.get());
    for (int i = 0; i < 5; ++i)
        pushQueued(q.get(), 1000 + i, QueuedKind::measurement, 50 + i);
    for (std::uint64_t want = 1; want <= 3; ++want)
        EXPECT_EQ(takeNext(q.get()), want);
    EXPECT_EQ(queuedInFlight(*q), 3);
    // 3 (a measurement written at QoS 0) is confirmed while 1 and 2 (QoS 1) wait: it confirms itself alone.
    confirmQueued(q.get(), 3);
    EXPECT_EQ(q->count, 5);
    // The connection goes: 1 and 2 go out again, in order, and 3 does not.
    rewindQueued(q.get());
    for (std::uint64_t want : {1, 2, 4, 5})
        EXPECT_EQ(takeNext(q.get()), want);
    EXPECT_EQ(takeNext(q.get()), 0u) << "all out";
    confirmQueued(q.get(), 2);
    EXPECT_EQ(q->count, 5) << "the oldest is still unconfirmed";
    confirmQueued(q.get(), 1);
    EXPECT_EQ(q->count, 2);
    confirmQueued(q.get(), 5);
    confirmQueued(q.get(), 4);
    EXPECT_EQ(q->count, 0);
    EXPECT_EQ(q->head, 0) << "an emptied ring starts again at its first item";

    // Full: the oldest go, counted; what is handed out next is the oldest kept.
    const std::uint64_t before = q->lastSeq;
    for (int i = 0; i < PUBLISH_QUEUE_SIZE + 7; ++i)
        pushQueued(q.get(), i, QueuedKind::measurement, i % 200);
    EXPECT_EQ(q->dropped, 7u);
    EXPECT_EQ(q->count, PUBLISH_QUEUE_SIZE);
    EXPECT_EQ(takeNext(q.get()), before + 8);
    // Items out when the ring overflows: the next after them still follows in order.
    pushQueued(q.get(), 0, QueuedKind::alarm, 65014);
    pushQueued(q.get(), 0, QueuedKind::alarm, 65014);
    EXPECT_EQ(q->dropped, 9u);
    EXPECT_EQ(takeNext(q.get()), before + 10);
    rewindQueued(q.get());
    EXPECT_EQ(takeNext(q.get()), before + 10) << "the rewind starts at the oldest kept";
    EXPECT_GE(PUBLISH_QUEUE_SIZE, 10 * 60 * 50) << "ten minutes at 50 a second";
}

TEST(PublishPayloads, TextsOfEachTopic)
{
    const std::int64_t t = 951782400020LL; // 2000-02-29T00:00:00.020Z
    char p[PAYLOAD_SIZE];
    formatMeasurementPayload(t, 57, p, sizeof p);
    EXPECT_STREQ(p, "{\"time\":\"2000-02-29T00:00:00.020Z\",\"p\":57}");
    formatEventPayload(t, 65014, p, sizeof p);
    EXPECT_STREQ(p, "{\"time\":\"2000-02-29T00:00:00.020Z\",\"event\":\"alarm\",\"code\":65014}");
    formatEventPayload(t, STATUS_DVDT, p, sizeof p);
    EXPECT_STREQ(p, "{\"time\":\"2000-02-29T00:00:00.020Z\",\"event\":\"dvdt\"}");
    formatPeaksPayload(t, 199, 0, NOT_REPORTED, p, sizeof p);
    EXPECT_STREQ(p, "{\"time\":\"2000-02-29T00:00:00.020Z\",\"max\":199,\"min\":0,\"dpdt\":null}");
    formatStatusPayload(LinkStatus::online, 1, p, sizeof p); // the plain texts: in the end-to-end tests
    EXPECT_STREQ(p, "online dropped=1");

    // Every field outside its codes and 32 characters each escaped: the parameters still end whole.
    ParameterSet set;
    std::memset(&set, 0xFF, sizeof set);
    std::memset(set.unitText, '"', UNIT_TEXT_SIZE);
    char payload[PARAMETERS_JSON_SIZE];
    formatParametersJson(set, payload, sizeof payload);
    const std::string text = payload;
    EXPECT_EQ(text.substr(text.size() - 2), "]}") << text;
}

TEST(PublishBroker, AddressesNamesAndTopicPrefixes)
{
    struct Case {
        std::string text;
        bool tls;
        bool ok;
        std::string host;
        int port;
    };
    const std::string longest(BROKER_HOST_SIZE - 1, 'h');
    const Case cases[] = {
        {"localhost", false, true, "localhost", 1883},  {"localhost", true, true, "localhost", 8883},
        {"10.0.0.2:1884", false, true, "10.0.0.2", 1884}, {"[::1]:1885", false, true, "::1", 1885},
        {"[::1]", true, true, "::1", 8883},              {"::1", false, false, "", 0},
        {"h:0", false, false, "", 0},                    {"h:65535", false, true, "h", 65535},
        {"h:65536", false, false, "", 0},                {"h:", false, false, "", 0},
        {":1883", false, false, "", 0},                  {longest + ":1", false, true, longest, 1},
        {longest + "h", false, false, "", 0},            {"[" + longest + "h]", false, false, "", 0},
    };
    for (const Case &c : cases) {
        char host[BROKER_HOST_SIZE + 1];
        host[BROKER_HOST_SIZE] = 'x'; // one past the buffer stays as it was
        int port = 0;
        ASSERT_EQ(parseBroker(c.text.c_str(), c.tls, host, &port), c.ok) << c.text;
        EXPECT_EQ(host[BROKER_HOST_SIZE], 'x') << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }

    // What MQTT takes as a topic (true) or a client id and user name (false).
    const struct {
        const char *text;
        bool topic;
        const char *fault; // a word of the reason, or nullptr
    } names[] = {
        {"k614/plant 3/\xc3\xa9", true, nullptr}, {"a+b", true, "wildcard"},     {"a/#", true, "wildcard"},
        {"id+#", false, nullptr},                 {"\xc3(", false, "UTF-8"},       {"\xc0\xaf", false, "UTF-8"},
        {"\xed\xa0\x80", false, "UTF-8"},         {"\xf4\x90\x80\x80", false, "UTF-8"}, {"a\x01", false, "UTF-8"},
        {"\xc2\x85", true, "UTF-8"},
    };
    for (const auto &n : names) {
        const char *fault = mqttNameFault(n.text, n.topic);
        if (!n.fault)
            EXPECT_EQ(fault, nullptr) << n.text;
        else
            EXPECT_NE(std::string(fault ? fault : "").find(n.fault), std::string::npos) << n.text;
    }
    const std::string longestTopic(MQTT_STRING_MAX - TOPIC_SUFFIX_MAX, 't'), longestId(MQTT_STRING_MAX, 'i');
    EXPECT_EQ(mqttNameFault(longestTopic.c_str(), true), nullptr);
    EXPECT_NE(mqttNameFault((longestTopic + "t").c_str(), true), nullptr);
    EXPECT_EQ(mqttNameFault(longestId.c_str(), false), nullptr);
    EXPECT_NE(mqttNameFault((longestId + "i").c_str(), false), nullptr);

    char prefix[TOPIC_SIZE]; // from /dev/ttyUSB0 as the end-to-end tests show
    defaultTopicPrefix("COM3", prefix, sizeof prefix);
    EXPECT_STREQ(prefix, "k614/COM3");
    defaultTopicPrefix("/tmp/odd+name#/", prefix, sizeof prefix);
    EXPECT_STREQ(prefix, "k614/odd_name_");
}

// Refusals before any connection: the line and the network are never touched, except the port's open.
TEST(PublishStart, BadNamesMissingFilesAndAMissingPortEndAtOnce)
{
    CtlOps ops = {};
    ops.openLine = [](void *, const char *) { return SerialOpenResult::noSuchPort; };
    char dir[] = "/tmp/k614pw.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string longest = std::string(dir) + "/longest", tooLong = std::string(dir) + "/too-long";
    FILE *f = std::fopen(longest.c_str(), "wb");
    std::fprintf(f, "%s\r\nsecond line\n", std::string(MQTT_STRING_MAX, 'p').c_str());
    std::fclose(f);
    f = std::fopen(tooLong.c_str(), "wb");
    std::fprintf(f, "%s\n", std::string(MQTT_STRING_MAX + 1, 'p').c_str());
    std::fclose(f);
    const struct {
        std::vector<std::string> words; // after "publish P"
        int exit;
        const char *says;
    } cases[] = {
        {{"--broker", "h:x"}, EXIT_USAGE, "--broker needs HOST or HOST:PORT, not 'h:x'"},
        {{"--broker", "h", "--password-file", "/nonexistent/pw"}, EXIT_FILE_ERROR, "cannot read the password file"},
        {{"--broker", "h", "--password-file", dir}, EXIT_FILE_ERROR, "Is a directory"},
        {{"--broker", "h", "--password-file", tooLong}, EXIT_FILE_ERROR, "longer than MQTT allows"},
        {{"--broker", "h", "--tls", "/nonexistent/ca.pem"}, EXIT_FILE_ERROR, "cannot open the CA file"},
        {{"--broker", "h", "--topic", "plant/+"}, EXIT_USAGE, "the topic prefix holds the MQTT wildcard"},
        {{"--broker", "h", "--client-id", "\xff"}, EXIT_USAGE, "the client id is not valid UTF-8"},
        {{"--broker", "h", "--username", "\xc3("}, EXIT_USAGE, "the user name is not valid UTF-8"},
        {{"--broker", "h", "--client-id", std::string(MQTT_STRING_MAX + 1, 'i')}, EXIT_USAGE, "longer than MQTT"},
        // Every name and the password at the longest MQTT takes: the port is the first thing to fail.
        {{"--broker", "h", "--topic", std::string(MQTT_STRING_MAX - TOPIC_SUFFIX_MAX, 't'), "--client-id",
          std::string(MQTT_STRING_MAX, 'i'), "--username", std::string(MQTT_STRING_MAX, 'u'), "--password-file",
          longest},
         EXIT_PORT_ERROR, "P: no such port"},
    };
    for (const auto &c : cases) {
        std::vector<const char *> words = {"publish", "P"};
        for (const std::string &w : c.words)
            words.push_back(w.c_str());
        CtlArgs args;
        ASSERT_EQ(parseWords(words, &args, stderr), ParseOutcome::run);
        FILE *err = std::tmpfile();
        EXPECT_EQ(runCtlCommand(args, ops, CtlIo{stdout, err}), c.exit) << c.says;
        EXPECT_NE(streamText(err).find(c.says), std::string::npos) << streamText(err).substr(0, 200);
        std::fclose(err);
    }
    std::remove(longest.c_str());
    std::remove(tooLong.c_str());
    rmdir(dir);

    // A password on the command line: refused, and not repeated.
    FILE *err = std::tmpfile();
    CtlArgs args;
    EXPECT_EQ(parseWords({"publish", "P", "--broker", "h", "--password", "hunter2"}, &args, err),
              ParseOutcome::usageError);
    EXPECT_EQ(streamText(err).find("hunter2"), std::string::npos) << streamText(err);
    std::fclose(err);
}

// ---- the reader on a scripted line and a virtual clock ----

struct ReaderRig : FakeLine {
    std::vector<std::pair<std::int64_t, LinkStatus>> statuses; // at each nudge that brought a new one
    std::vector<std::int32_t> dpdtPeaks;                       // at each nudge that brought new peaks
    std::vector<ParameterSet> parameterSets;                   // at each nudge that brought a new set
    std::vector<std::int64_t> turnsAt;                         // each turn of the reader's loop
    PublishRecord *record = nullptr;
};

ReaderRig *rigOf(void *context)
{
    return static_cast<ReaderRig *>(context);
}

// What each nudge brings is taken at once, as the network side would.
const PublishSinkOps RIG_SINK = {
    nullptr,
    [](void *) {},
    [](void *) {},
    [](void *c) {
        ReaderRig *r = rigOf(c);
        if (r->record->statusChanged)
            r->statuses.push_back({r->now, r->record->status});
        if (r->record->peaksChanged)
            r->dpdtPeaks.push_back(r->record->dpdtPeak);
        if (r->record->parametersChanged)
            r->parameterSets.push_back(r->record->parameters);
        r->record->statusChanged = r->record->peaksChanged = r->record->parametersChanged = false;
    },
    [](void *) { return false; },
    [](void *c) { rigOf(c)->turnsAt.push_back(rigOf(c)->now); },
};

// The reader over rig's script until its stopAt, with --every; what it wrote on stderr.
std::string runReader(ReaderRig *rig, PublishRecord *record, int every)
{
    resetPublishRecord(record);
    record->statusChanged = false;
    rig->record = record;
    CtlOps line = FAKE_OPS;
    line.context = static_cast<FakeLine *>(rig);
    PublishSinkOps sink = RIG_SINK;
    sink.context = rig;
    PublishOptions options = {};
    options.port = "P";
    options.every = every;
    FILE *err = std::tmpfile();
    runPublishReader(options, line, CtlIo{stdout, err}, record, sink);
    const std::string text = streamText(err);
    std::fclose(err);
    return text;
}

// The values of the queued items, in order, handed out; their kinds too when asked.
std::vector<std::int32_t> queuedValues(PublishQueue *queue, std::vector<QueuedKind> *kinds = nullptr)
{
    std::vector<std::int32_t> values;
    QueuedItem item;
    while (nextQueued(*queue, &item)) {
        markQueuedSent(queue, item.seq);
        values.push_back(item.value);
        if (kinds)
            kinds->push_back(item.kind);
    }
    return values;
}

// `bytes` in pieces a read can take, one every stepMs from `at`.
void addChunks(std::vector<Chunk> *script, std::int64_t at, int stepMs, const std::string &bytes)
{
    for (std::size_t i = 0; i < bytes.size(); i += LINE_READ_SIZE, at += stepMs)
        script->push_back({at, bytes.substr(i, LINE_READ_SIZE), false});
}

TEST(PublishReader, StatusFollowsTheLineAndEverythingReadIsQueuedInOrder)
{
    auto record = std::make_unique<PublishRecord>();
    ReaderRig rig;
    rig.stopAt = 6000;
    rig.script = {
        {20, framesOf({10}), false},          {40, framesOf({11}), false},
        {60, framesOf({410, 12}), false},     {80, framesOf({ALARM_LOW_FIRST, 13}), false},
        {3000, framesOf({14}), false},        // after 2.9 s without a frame
        {3050, framesOf({16}).substr(0, 3), false}, // half a frame, then the line goes
        {3100, "", true},
        {5400, framesOf({15}), false}, // more than one read after the reopen
    };
    rig.opens = {false, true};
    runReader(&rig, record.get(), 1);

    // Silent 2 s after the last frame, within a poll; online again at the first frame after the reopen, not at
    // it, and never silent in between.
    ASSERT_EQ(rig.statuses.size(), 5u);
    EXPECT_NEAR(rig.statuses[1].first, 80 + 2000 + 100, 100);
    rig.statuses[1].first = 0;
    const std::vector<std::pair<std::int64_t, LinkStatus>> statuses = {{20, LinkStatus::online},
        {0, LinkStatus::silent}, {3000, LinkStatus::online}, {3100, LinkStatus::offline}, {5400, LinkStatus::online}};
    EXPECT_EQ(rig.statuses, statuses);
    EXPECT_EQ(rig.openedAt, (std::vector<std::int64_t>{4100, 5100}));
    // The loop turns (and feeds the service manager's watchdog) at least every 0.2 s, whatever the line does:
    // frames, silence, a lost line.
    std::int64_t longest = 0;
    for (std::size_t i = 1; i < rig.turnsAt.size(); ++i)
        longest = std::max(longest, rig.turnsAt[i] - rig.turnsAt[i - 1]);
    EXPECT_LE(longest, 200) << rig.turnsAt.size() << " turns";
    EXPECT_GE(rig.turnsAt.back(), rig.stopAt - 200);
    // At the start, again once online without an answer for 3 s, and after the reopen.
    std::vector<std::int64_t> uploadAt;
    for (const auto &[at, code] : rig.sent)
        uploadAt.push_back(code == CMD_REQUEST_UPLOAD ? at : -1);
    ASSERT_EQ(uploadAt.size(), 3u);
    EXPECT_NEAR(uploadAt[1], 3000, 10);
    EXPECT_EQ(uploadAt, (std::vector<std::int64_t>{0, uploadAt[1], 5100}));

    // The half frame from before the reopen does not spoil the first one after it.
    std::vector<QueuedKind> kinds;
    EXPECT_EQ(queuedValues(&record->queue, &kinds),
              (std::vector<std::int32_t>{10, 11, 12, ALARM_LOW_FIRST, 13, 14, 15}));
    EXPECT_EQ(kinds[3], QueuedKind::alarm);
    EXPECT_EQ(record->maxPeak, 10) << "kept over the reopen";
    EXPECT_EQ(rig.dpdtPeaks.size(), 1u);
}

// One row per rule of what the reader hands the network side.
TEST(PublishReader, EveryNthPeaksAnswersDropReportsAndASilentLine)
{
    ParameterSet oldSet = {}, newSet = {};
    std::memcpy(oldSet.unitText, "MW", 3);
    newSet = oldSet;
    newSet.limit1Setpoint = 42;
    newSet.ts = 700;
    const std::vector<unsigned> newAnswer = answerCodes(newSet);
    std::vector<Chunk> answers;
    addChunks(&answers, 10, 10, framesOf(answerCodes(oldSet)));
    // The next answer, its first half, a pause, the rest.
    addChunks(&answers, 1000, 10, framesOf(std::vector<unsigned>(newAnswer.begin(), newAnswer.begin() + 12)));
    addChunks(&answers, 1500, 10, framesOf(std::vector<unsigned>(newAnswer.begin() + 12, newAnswer.end())));
    std::vector<Chunk> flood; // more than the queue holds, for a while
    const std::string full = framesOf(std::vector<unsigned>(LINE_READ_SIZE / FRAME_SIZE, 57));
    for (std::int64_t at = 0; at < 39500; at += 10) // full after 20 s
        flood.push_back({at, full, false});

    const struct {
        const char *rule;
        std::vector<Chunk> script;
        int every;
        std::int64_t stopAt;
        void (*check)(const ReaderRig &, PublishRecord *, const std::string &err);
    } rows[] = {
        {"--every 3 sends the first of every three", {{20, framesOf({10, 11, 12, 13, 14, 15, 16}), false}}, 3, 100,
         [](const ReaderRig &, PublishRecord *r, const std::string &) {
             EXPECT_EQ(queuedValues(&r->queue), (std::vector<std::int32_t>{10, 13, 16}));
         }},
        {"a change of the dP/dt peak alone reaches the peaks",
         {{20, framesOf({MAX_PEAK_BASE + 9, DPDT_PEAK_BASE + 5, 50}), false},
          {40, framesOf({DPDT_PEAK_BASE + 6, 51}), false}},
         1, 100,
         [](const ReaderRig &rig, PublishRecord *, const std::string &) {
             EXPECT_EQ(rig.dpdtPeaks, (std::vector<std::int32_t>{5, 6}));
         }},
        {"a half-received answer is never the set", answers, 1, 2000,
         [](const ReaderRig &rig, PublishRecord *, const std::string &) {
             ASSERT_EQ(rig.parameterSets.size(), 2u);
             EXPECT_EQ(rig.parameterSets[0].limit1Setpoint, 0);
             EXPECT_EQ(rig.parameterSets[1].limit1Setpoint, 42);
             EXPECT_EQ(rig.parameterSets[1].ts, 700);
         }},
        {"dropped items are reported at most every 10 s", flood, 1, 39500,
         [](const ReaderRig &, PublishRecord *r, const std::string &err) {
             EXPECT_GT(r->queue.dropped, 0u);
             std::size_t reports = 0;
             for (std::size_t at = 0; (at = err.find("oldest dropped", at)) != std::string::npos; ++at)
                 ++reports;
             EXPECT_EQ(reports, 2u) << err;
         }},
        {"no upload request to a silent line", {{20, framesOf({10}), false}}, 1, 9000,
         [](const ReaderRig &rig, PublishRecord *, const std::string &) {
             EXPECT_EQ(rig.sent.size(), 1u) << "the first request only";
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rule);
        auto record = std::make_unique<PublishRecord>();
        ReaderRig rig;
        rig.script = row.script;
        rig.stopAt = row.stopAt;
        const std::string err = runReader(&rig, record.get(), row.every);
        row.check(rig, record.get(), err);
    }
}

} // namespace
