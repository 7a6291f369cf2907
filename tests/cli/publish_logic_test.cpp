// k614ctl publish without a broker: the bounded queue's order, confirmations and drops; the payload texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/ctl_commands.h"
#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/line_record.h"
#include "cli/publish_core.h"
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
    formatStatusPayload(LinkStatus::online, 1234, p, sizeof p); // the plain texts: in the end-to-end tests
    EXPECT_STREQ(p, "online dropped=1234");

    // Every field outside its codes and 32 characters each escaped: the parameters still end whole.
    ParameterSet set;
    std::memset(&set, 0xFF, sizeof set);
    std::memset(set.unitText, '"', UNIT_TEXT_SIZE);
    char payload[PARAMETERS_JSON_SIZE];
    formatParametersJson(set, payload, sizeof payload);
    const std::string text = payload;
    EXPECT_EQ(text.substr(text.size() - 2), "]}") << text;
}

TEST(PublishBroker, AddressesAndTopicPrefixes)
{
    struct Case {
        const char *text;
        bool tls;
        bool ok;
        const char *host;
        int port;
    };
    const Case cases[] = {
        {"localhost", false, true, "localhost", 1883},  {"localhost", true, true, "localhost", 8883},
        {"10.0.0.2:1884", false, true, "10.0.0.2", 1884}, {"[::1]:1885", false, true, "::1", 1885},
        {"[::1]", true, true, "::1", 8883},              {"::1", false, false, "", 0},
        {"h:0", false, false, "", 0},                    {"h:65536", false, false, "", 0},
        {"h:", false, false, "", 0},                     {":1883", false, false, "", 0},
    };
    for (const Case &c : cases) {
        char host[BROKER_HOST_SIZE];
        int port = 0;
        ASSERT_EQ(parseBroker(c.text, c.tls, host, &port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_STREQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
    char prefix[TOPIC_SIZE]; // from /dev/ttyUSB0 as the end-to-end tests show
    defaultTopicPrefix("COM3", prefix, sizeof prefix);
    EXPECT_STREQ(prefix, "k614/COM3");
    defaultTopicPrefix("/tmp/odd+name#/", prefix, sizeof prefix);
    EXPECT_STREQ(prefix, "k614/odd_name_");
}

// Refusals before any connection: the line and the network are never touched, except the port's open.
TEST(PublishStart, BadBrokerMissingFilesAndAMissingPortEndAtOnce)
{
    CtlOps ops = {};
    ops.openLine = [](void *, const char *) { return SerialOpenResult::noSuchPort; };
    const struct {
        std::vector<const char *> words; // after "publish P"
        int exit;
        const char *says;
    } cases[] = {
        {{"--broker", "h:x"}, EXIT_USAGE, "--broker needs HOST or HOST:PORT, not 'h:x'"},
        {{"--broker", "h", "--password-file", "/nonexistent/pw"}, EXIT_FILE_ERROR, "cannot read the password file"},
        {{"--broker", "h", "--tls", "/nonexistent/ca.pem"}, EXIT_FILE_ERROR, "cannot open the CA file"},
        {{"--broker", "h"}, EXIT_PORT_ERROR, "P: no such port"},
    };
    for (const auto &c : cases) {
        std::vector<const char *> words = {"publish", "P"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        CtlArgs args;
        ASSERT_EQ(parseWords(words, &args, stderr), ParseOutcome::run);
        FILE *err = std::tmpfile();
        EXPECT_EQ(runCtlCommand(args, ops, CtlIo{stdout, err}), c.exit) << c.says;
        EXPECT_NE(streamText(err).find(c.says), std::string::npos) << streamText(err);
        std::fclose(err);
    }
}

// ---- the reader on a scripted line and a virtual clock ----

struct ReaderRig : FakeLine {
    std::vector<std::pair<std::int64_t, LinkStatus>> statuses; // at each nudge that brought a new one
    PublishRecord *record = nullptr;
};

ReaderRig *rigOf(void *context)
{
    return static_cast<ReaderRig *>(context);
}

const PublishSinkOps RIG_SINK = {
    nullptr,
    [](void *) {},
    [](void *) {},
    [](void *c) {
        ReaderRig *r = rigOf(c);
        if (r->record->statusChanged)
            r->statuses.push_back({r->now, r->record->status});
        r->record->statusChanged = false;
    },
    [](void *) { return false; },
};

TEST(PublishReader, StatusFollowsTheLineAndEverythingReadIsQueuedInOrder)
{
    auto record = std::make_unique<PublishRecord>();
    resetPublishRecord(record.get());
    record->statusChanged = false;
    ReaderRig rig;
    rig.record = record.get();
    rig.stopAt = 6000;
    rig.script = {
        {20, framesOf({10}), false},          {40, framesOf({11}), false},
        {60, framesOf({410, 12}), false},     {80, framesOf({ALARM_LOW_FIRST, 13}), false},
        {3000, framesOf({14}), false},        // after 2.9 s without a frame
        {3100, "", true},                   // the line goes
        {5200, framesOf({15}), false},
    };
    rig.opens = {false, true};
    CtlOps line = FAKE_OPS;
    line.context = static_cast<FakeLine *>(&rig);
    PublishSinkOps sink = RIG_SINK;
    sink.context = &rig;
    CtlArgs args = {};
    args.port = "P";
    args.every = 1;
    FILE *err = std::tmpfile();
    const CtlIo io = {stdout, err};
    runPublishReader(args, line, io, record.get(), sink);
    std::fclose(err);

    // Silent 2 s after the last frame, within a poll; online again at the first frame after the reopen, not at it.
    ASSERT_EQ(rig.statuses.size(), 5u);
    EXPECT_NEAR(rig.statuses[1].first, 80 + 2000 + 100, 100);
    rig.statuses[1].first = 0;
    const std::vector<std::pair<std::int64_t, LinkStatus>> statuses = {{20, LinkStatus::online},
        {0, LinkStatus::silent}, {3000, LinkStatus::online}, {3100, LinkStatus::offline}, {5200, LinkStatus::online}};
    EXPECT_EQ(rig.statuses, statuses);
    EXPECT_EQ(rig.openedAt, (std::vector<std::int64_t>{4100, 5100}));
    // At the start, again once online without an answer for 3 s, and after the reopen.
    std::vector<std::int64_t> uploadAt;
    for (const auto &[at, code] : rig.sent)
        uploadAt.push_back(code == CMD_REQUEST_UPLOAD ? at : -1);
    ASSERT_EQ(uploadAt.size(), 3u);
    EXPECT_NEAR(uploadAt[1], 3000, 10);
    EXPECT_EQ(uploadAt, (std::vector<std::int64_t>{0, uploadAt[1], 5100}));

    const std::int32_t wanted[] = {10, 11, 12, ALARM_LOW_FIRST, 13, 14, 15};
    ASSERT_EQ(record->queue.count, 7);
    for (int i = 0; i < 7; ++i) {
        QueuedItem item;
        ASSERT_TRUE(nextQueued(record->queue, &item));
        markQueuedSent(&record->queue, item.seq);
        EXPECT_EQ(item.value, wanted[i]);
        EXPECT_EQ(item.kind, i == 3 ? QueuedKind::alarm : QueuedKind::measurement);
    }
    EXPECT_EQ(record->maxPeak, 10) << "kept over the reopen";
    EXPECT_TRUE(record->peaksChanged);
}

} // namespace
