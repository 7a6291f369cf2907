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
    char printed[PARAMETERS_PAYLOAD_SIZE] = {};
    ASSERT_GT(std::fread(printed, 1, sizeof printed - 1, f), 0u);
    std::fclose(f);
    char payload[PARAMETERS_PAYLOAD_SIZE];
    formatParametersPayload(set, payload, sizeof payload);
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
