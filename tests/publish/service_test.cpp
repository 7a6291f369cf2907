// k614ctl publish as a service, natively: the configuration file's rules, the notify datagrams, the discovery configs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/un.h>

#include "publish/publish_config.h"
#include "publish/publish_discovery.h"
#include "publish/service_notify.h"
#include "tests/cli/cli_support.h"

namespace {

using namespace cli_test;

TEST(PublishConfig, OneRowPerRule)
{
    const struct {
        const char *text;
        const char *refusal; // nullptr: taken
    } rows[] = {
        {"# a relay\n\n  port = /dev/serial/by-id/usb-x \nbroker=host:1884\r\nqos = 0\nevery = 5\n", nullptr},
        {"discovery = homeassistant\ntopic = plant/\xc3\xa4/relay1\n", nullptr},
        {"port /dev/ttyUSB0\n", "relay.conf:1: needs key = value, not port /dev/ttyUSB0"},
        {"# ok\nbrokr = host\n", "relay.conf:2: unknown key brokr"},
        {"port = a\nport = b\n", "relay.conf:2: a second value for port"},
        {"username =   \n", "relay.conf:1: no value for username"},
        {"qos = 2\n", "relay.conf:1: qos '2' needs 0 or 1"},
        {"every = 1.5\n", "relay.conf:1: every '1.5' needs a whole number from 1"},
        {"topic = k614/#\n", "relay.conf:1: topic 'k614/#' holds the MQTT wildcard + or #"},
        {"broker = [::1\n", "relay.conf:1: broker '[::1' needs HOST or HOST:PORT"},
        // A comment after a value is part of the value, and so refused where the value is checked.
        {"qos = 1 # at least once\n", "relay.conf:1: qos '1 # at least once' needs 0 or 1"},
    };
    auto config = std::make_unique<PublishConfigFile>();
    for (const auto &row : rows) {
        char message[CONFIG_MESSAGE_SIZE] = "";
        EXPECT_EQ(parsePublishConfig("relay.conf", row.text, std::strlen(row.text), config.get(), message,
                                     sizeof message),
                  row.refusal == nullptr)
            << row.text;
        EXPECT_STREQ(message, row.refusal ? row.refusal : "");
    }
    char message[CONFIG_MESSAGE_SIZE];
    ASSERT_TRUE(parsePublishConfig("r", rows[0].text, std::strlen(rows[0].text), config.get(), message, 99));
    EXPECT_STREQ(config->values[CONFIG_PORT], "/dev/serial/by-id/usb-x");
    EXPECT_EQ(config->every, 5);
    EXPECT_FALSE(config->given[CONFIG_TOPIC]);
}

TEST(PublishConfig, UnreadableIsAFileErrorABadLineAUsageErrorAndTheCommandLineWins)
{
    const std::string file = "/tmp/k614-config-" + std::to_string(getpid()) + ".conf";
    auto config = std::make_unique<PublishConfigFile>();
    EXPECT_EQ(readPublishConfig("/nonexistent/relay.conf", config.get(), stderr), EXIT_FILE_ERROR);
    EXPECT_EQ(readPublishConfig("/tmp", config.get(), stderr), EXIT_FILE_ERROR) << "a directory";
    EXPECT_EQ(readPublishConfig(K614_EXAMPLE_CONFIG, config.get(), stderr), EXIT_DONE) << "the example installed";
    ASSERT_TRUE(saveText(file, "port = /dev/ttyUSB7\nbroker = filehost\ntopic = file/t\nqos = 0\nevery = 5\n"));
    CtlArgs args;
    ASSERT_EQ(parseWords({"publish", "--config", file.c_str(), "--topic", "cli/t", "--qos", "1"}, &args, stderr),
              ParseOutcome::run);
    ASSERT_EQ(applyPublishConfig(&args.publish, stderr), EXIT_DONE);
    EXPECT_STREQ(args.publish.port, "/dev/ttyUSB7");
    EXPECT_STREQ(args.publish.topic, "cli/t");
    EXPECT_EQ(args.publish.qos, 1);
    EXPECT_EQ(args.publish.every, 5);
    ASSERT_TRUE(saveText(file, "port = /dev/ttyUSB7\nqos = 3\n"));
    EXPECT_EQ(applyPublishConfig(&args.publish, stderr), EXIT_USAGE);
    unlink(file.c_str());
}

TEST(ServiceNotify, DatagramsReachAPathOrAnAbstractSocketAndNothingIsSentWithoutOne)
{
    const std::string id = std::to_string(getpid());
    for (const std::string &name : {"/tmp/k614-notify-" + id, "@k614-notify-" + id}) {
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{AF_UNIX, {}};
        std::memcpy(address.sun_path, name.c_str(), name.size());
        address.sun_path[0] = name[0] == '@' ? 0 : name[0];
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address),
                       static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
                  0);
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
        EXPECT_TRUE(notifyServiceManager("READY=1\nSTATUS=line online"));
        char got[64] = "";
        EXPECT_EQ(recv(fd, got, sizeof got - 1, MSG_DONTWAIT), 26) << name; // a datagram is there once sent
        EXPECT_STREQ(got, "READY=1\nSTATUS=line online");
        close(fd);
        unlink(name.c_str());
    }
    unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(notifyServiceManager("READY=1"));
    // The watchdog's ping is due at half its time, and only for the process it was set for.
    setenv("WATCHDOG_USEC", "10000000", 1);
    EXPECT_EQ(serviceWatchdogIntervalMs(), 5000);
    setenv("WATCHDOG_PID", "1", 1);
    EXPECT_EQ(serviceWatchdogIntervalMs(), 0);
    unsetenv("WATCHDOG_PID");
    unsetenv("WATCHDOG_USEC");
}

TEST(PublishDiscovery, TopicsAndKeysPerEntity)
{
    // Available only while online: silent and offline (and a status of another first word) are not.
    const char *status = "\"availability\":[{\"topic\":\"k614/ttyUSB0/status\",\"value_template\":"
                         "\"{{ 'online' if value.split(' ')[0] == 'online' else 'offline' }}\"}]";
    const char *sensor = "\"state_class\":\"measurement\",\"unit_of_measurement\":\"%\"";
    const struct {
        DiscoveryEntity entity;
        const char *topic;
        const char *keys[3]; // each in the payload
    } rows[] = {
        {DISCOVERY_MEASUREMENT, "homeassistant/sensor/k614_ttyUSB0_measurement/config",
         {"\"state_topic\":\"k614/ttyUSB0/measurement\",\"value_template\":\"{{ value_json.p }}\"", sensor, status}},
        {DISCOVERY_MAX_PEAK, "homeassistant/sensor/k614_ttyUSB0_max_peak/config",
         {"\"state_topic\":\"k614/ttyUSB0/peaks\",\"value_template\":\"{{ value_json.max }}\"", sensor, status}},
        {DISCOVERY_MIN_PEAK, "homeassistant/sensor/k614_ttyUSB0_min_peak/config",
         {"\"unique_id\":\"k614_ttyUSB0_min_peak\"", "{{ value_json.min }}", status}},
        {DISCOVERY_DPDT_PEAK, "homeassistant/sensor/k614_ttyUSB0_dpdt_peak/config",
         {"\"unique_id\":\"k614_ttyUSB0_dpdt_peak\"", "{{ value_json.dpdt }}", sensor}},
        // The link itself is never unavailable: it tells silent from offline.
        {DISCOVERY_LINK, "homeassistant/sensor/k614_ttyUSB0_link/config",
         {"\"state_topic\":\"k614/ttyUSB0/status\"", "\"options\":[\"online\",\"silent\",\"offline\"]", "\"enum\""}},
        {DISCOVERY_EVENTS, "homeassistant/event/k614_ttyUSB0_events/config",
         {"\"state_topic\":\"k614/ttyUSB0/event\"", "\"event_types\":[\"alarm\",\"dvdt\"]", status}},
    };
    for (const auto &row : rows) {
        char topic[DISCOVERY_TOPIC_SIZE], payload[DISCOVERY_PAYLOAD_SIZE];
        ASSERT_TRUE(formatDiscoveryTopic(DISCOVERY_DEFAULT_PREFIX, "k614/ttyUSB0", row.entity, topic, sizeof topic));
        EXPECT_STREQ(topic, row.topic);
        ASSERT_TRUE(formatDiscoveryConfig("k614/ttyUSB0", "Pump 3", "1.0.0", row.entity, payload, sizeof payload));
        const std::string text = payload;
        for (const char *key : row.keys)
            EXPECT_NE(text.find(key), std::string::npos) << key << " in " << text;
        EXPECT_EQ(text.find("availability") == std::string::npos, row.entity == DISCOVERY_LINK);
        // One device per relay, named by its unit text; the origin is k614ctl; kW% is no power in watts.
        EXPECT_NE(text.find(",\"device\":{\"identifiers\":[\"k614_ttyUSB0\"],\"name\":\"Pump 3\",\"model\":\"K614\","
                            "\"sw_version\":\"1.0.0\"},\"origin\":{\"name\":\"k614ctl\",\"sw_version\":\"1.0.0\"}}"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("power"), std::string::npos);
    }
    // A blank unit text leaves the prefix as the device's name; a quote in it is escaped, and the object id
    // keeps only what an id may hold.
    char payload[DISCOVERY_PAYLOAD_SIZE], topic[DISCOVERY_TOPIC_SIZE];
    ASSERT_TRUE(formatDiscoveryConfig("plant \"A\"/r1", "  ", "1.0.0", DISCOVERY_LINK, payload, sizeof payload));
    EXPECT_NE(std::string(payload).find("\"name\":\"plant \\\"A\\\"/r1\""), std::string::npos) << payload;
    ASSERT_TRUE(formatDiscoveryTopic("ha", "plant \"A\"/r1", DISCOVERY_MEASUREMENT, topic, sizeof topic));
    EXPECT_STREQ(topic, "ha/sensor/plant__A__r1_measurement/config");
}

} // namespace
