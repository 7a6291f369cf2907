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

namespace {

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
    EXPECT_EQ(takeNext(q.get()), 1u);
    EXPECT_EQ(takeNext(q.get()), 2u);
    EXPECT_EQ(takeNext(q.get()), 3u);
    EXPECT_EQ(queuedInFlight(*q), 3);
    confirmQueued(q.get(), 1);
    EXPECT_EQ(q->count, 4);
    // The connection goes: 2 and 3 were out but not confirmed, and go out again.
    rewindQueued(q.get());
    QueuedItem item;
    ASSERT_TRUE(nextQueued(*q, &item));
    EXPECT_EQ(item.seq, 2u);
    EXPECT_EQ(item.value, 51);
    EXPECT_EQ(item.utcMs, 1001);
    for (std::uint64_t want = 2; want <= 5; ++want)
        EXPECT_EQ(takeNext(q.get()), want);
    EXPECT_EQ(takeNext(q.get()), 0u) << "all out";
    confirmQueued(q.get(), 5);
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
    formatStatusPayload(LinkStatus::silent, 0, p, sizeof p);
    EXPECT_STREQ(p, "silent");
    formatStatusPayload(LinkStatus::online, 1234, p, sizeof p);
    EXPECT_STREQ(p, "online dropped=1234");
    formatStatusPayload(LinkStatus::offline, 0, p, sizeof p);
    EXPECT_STREQ(p, "offline");
}

TEST(PublishPayloads, ParametersAreReadJsonsObject)
{
    ParameterSet set = {};
    set.limit1Setpoint = 80;
    set.limit2Tr = 65535;
    std::memset(set.unitText, '"', UNIT_TEXT_SIZE); // no terminator, every character escaped
    FILE *f = std::tmpfile();
    ASSERT_TRUE(writeJson(f, set));
    std::rewind(f);
    char printed[PARAMETERS_JSON_SIZE] = {};
    ASSERT_GT(std::fread(printed, 1, sizeof printed - 1, f), 0u);
    std::fclose(f);
    char payload[PARAMETERS_JSON_SIZE];
    formatParametersJson(set, payload, sizeof payload);
    EXPECT_EQ(std::string(payload) + "\n", printed);
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
    char prefix[TOPIC_SIZE];
    defaultTopicPrefix("/dev/ttyUSB0", prefix, sizeof prefix);
    EXPECT_STREQ(prefix, "k614/ttyUSB0");
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
    struct Case {
        std::vector<const char *> words;
        int exit;
        const char *says;
    };
    const Case cases[] = {
        {{"--broker", "h:x"}, EXIT_USAGE, "--broker needs HOST or HOST:PORT, not 'h:x'"},
        {{"--broker", "h", "--password-file", "/nonexistent/pw"}, EXIT_FILE_ERROR, "cannot open the password file"},
        {{"--broker", "h", "--tls", "/nonexistent/ca.pem"}, EXIT_FILE_ERROR, "cannot open the CA file"},
        {{"--broker", "h"}, EXIT_PORT_ERROR, "P: no such port"},
    };
    for (const Case &c : cases) {
        std::vector<const char *> argv = {"k614ctl", "publish", "P"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        CtlArgs args;
        ASSERT_EQ(parseCtlArgs(static_cast<int>(argv.size()), const_cast<char **>(argv.data()), &args, stderr),
                  ParseOutcome::run);
        FILE *err = std::tmpfile();
        const CtlIo io = {stdout, err};
        EXPECT_EQ(runCtlCommand(args, ops, io), c.exit) << c.says;
        std::rewind(err);
        char text[256] = {};
        EXPECT_GT(std::fread(text, 1, sizeof text - 1, err), 0u);
        std::fclose(err);
        EXPECT_NE(std::strstr(text, c.says), nullptr) << text;
    }
}

} // namespace

// ---- the reader on a scripted line and a virtual clock ----

namespace {

struct Chunk {
    std::int64_t at;
    std::string bytes;
    bool fails;
};

struct ReaderRig {
    std::int64_t now = 0, stopAt = 0;
    std::vector<Chunk> script;
    std::size_t next = 0;
    std::vector<bool> opens;                 // results of the reopen attempts, in order
    std::vector<std::int64_t> openedAt;      // times of the attempts
    std::vector<std::int64_t> uploadAt;      // times of the upload requests written
    std::vector<std::pair<std::int64_t, LinkStatus>> statuses; // at each nudge that brought a new one
    PublishRecord *record = nullptr;
};

ReaderRig *rigOf(void *context)
{
    return static_cast<ReaderRig *>(context);
}

std::string frames(std::initializer_list<unsigned> codes)
{
    std::string bytes;
    for (unsigned code : codes) {
        std::uint8_t frame[FRAME_SIZE];
        encodeFrame(static_cast<DeviceCode>(code), frame);
        bytes.append(reinterpret_cast<const char *>(frame), FRAME_SIZE);
    }
    return bytes;
}

const CtlOps RIG_LINE = {
    nullptr,
    [](void *c, const char *) {
        ReaderRig *r = rigOf(c);
        r->openedAt.push_back(r->now);
        const bool ok = r->openedAt.size() <= r->opens.size() && r->opens[r->openedAt.size() - 1];
        return ok ? SerialOpenResult::ok : SerialOpenResult::noSuchPort;
    },
    [](void *c, std::uint8_t *buffer, int, int timeoutMs) {
        ReaderRig *r = rigOf(c);
        if (r->next < r->script.size() && r->script[r->next].at <= r->now + timeoutMs) {
            const Chunk &chunk = r->script[r->next++];
            r->now = chunk.at > r->now ? chunk.at : r->now;
            if (chunk.fails)
                return SERIAL_READ_FAILED;
            std::memcpy(buffer, chunk.bytes.data(), chunk.bytes.size());
            return static_cast<int>(chunk.bytes.size());
        }
        r->now += timeoutMs;
        return 0;
    },
    [](void *c, const std::uint8_t *bytes, int count) {
        ReaderRig *r = rigOf(c);
        const std::string request = frames({CMD_REQUEST_UPLOAD});
        if (std::string(reinterpret_cast<const char *>(bytes), static_cast<std::size_t>(count)) == request)
            r->uploadAt.push_back(r->now);
        return true;
    },
    [](void *) {},
    [](void *c) { return rigOf(c)->now; },
    [](void *c) -> std::int64_t { return 1700000000000LL + rigOf(c)->now; },
    [](void *c, int ms) { rigOf(c)->now += ms; },
    [](void *) {},
    [](void *c) { return rigOf(c)->now >= rigOf(c)->stopAt; },
    [](void *) { return false; },
};

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
        {20, frames({10}), false},          {40, frames({11}), false},
        {60, frames({410, 12}), false},     {80, frames({ALARM_LOW_FIRST, 13}), false},
        {3000, frames({14}), false},        // after 2.9 s without a frame
        {3100, "", true},                   // the line goes
        {5200, frames({15}), false},
    };
    rig.opens = {false, true};
    CtlOps line = RIG_LINE;
    line.context = &rig;
    PublishSinkOps sink = RIG_SINK;
    sink.context = &rig;
    CtlArgs args = {};
    args.port = "P";
    args.every = 1;
    FILE *err = std::tmpfile();
    const CtlIo io = {stdout, err};
    runPublishReader(args, line, io, record.get(), sink);
    std::fclose(err);

    ASSERT_EQ(rig.statuses.size(), 5u);
    EXPECT_EQ(rig.statuses[0], std::make_pair(std::int64_t{20}, LinkStatus::online));
    EXPECT_EQ(rig.statuses[1].second, LinkStatus::silent);
    EXPECT_GE(rig.statuses[1].first, 80 + 2000);
    EXPECT_LE(rig.statuses[1].first, 80 + 2000 + 200);
    EXPECT_EQ(rig.statuses[2], std::make_pair(std::int64_t{3000}, LinkStatus::online));
    EXPECT_EQ(rig.statuses[3], std::make_pair(std::int64_t{3100}, LinkStatus::offline));
    EXPECT_EQ(rig.statuses[4], std::make_pair(std::int64_t{5200}, LinkStatus::online)) << "not at the reopen";
    ASSERT_EQ(rig.openedAt.size(), 2u);
    EXPECT_EQ(rig.openedAt[0], 4100);
    EXPECT_EQ(rig.openedAt[1], 5100);
    // At the start, again once online without an answer for 3 s, and after the reopen.
    ASSERT_EQ(rig.uploadAt.size(), 3u);
    EXPECT_EQ(rig.uploadAt[0], 0);
    EXPECT_NEAR(rig.uploadAt[1], 3000, 10);
    EXPECT_EQ(rig.uploadAt[2], 5100);

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
