// k614ctl publish as a service, natively: the configuration file's rules, the notify datagrams, the discovery configs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "cli/exit_codes.h"
#include "cli/publish_config.h"
#include "cli/publish_discovery.h"
#include "cli/service_notify.h"
#include "tests/cli/cli_support.h"

namespace {

// ---- the configuration file ----

struct ConfigRow {
    const char *text;
    const char *refusal; // nullptr: taken
};

TEST(PublishConfig, OneRowPerRule)
{
    const ConfigRow rows[] = {
        {"# a relay\n\n  port = /dev/serial/by-id/usb-x \nbroker=host:1884\r\nqos = 0\nevery = 5\n", nullptr},
        {"discovery = homeassistant\ntopic = plant/\xc3\xa4/relay1\n", nullptr},
        {"port /dev/ttyUSB0\n", "relay.conf:1: needs key = value, not port /dev/ttyUSB0"},
        {"# ok\nbrokr = host\n", "relay.conf:2: unknown key brokr"},
        {"port = a\nport = b\n", "relay.conf:2: a second value for port"},
        {"username =   \n", "relay.conf:1: no value for username"},
        {"qos = 2\n", "relay.conf:1: qos '2' needs 0 or 1"},
        {"every = 0\n", "relay.conf:1: every '0' needs a whole number from 1"},
        {"every = 1.5\n", "relay.conf:1: every '1.5' needs a whole number from 1"},
        {"topic = k614/#\n", "relay.conf:1: topic 'k614/#' holds the MQTT wildcard + or #"},
        {"discovery = ha/+\n", "relay.conf:1: discovery 'ha/+' holds the MQTT wildcard + or #"},
        {"broker = [::1\n", "relay.conf:1: broker '[::1' needs HOST or HOST:PORT"},
        // A comment after a value is part of the value, and so refused where the value is checked.
        {"qos = 1 # at least once\n", "relay.conf:1: qos '1 # at least once' needs 0 or 1"},
    };
    for (const ConfigRow &row : rows) {
        auto config = std::make_unique<PublishConfigFile>();
        char message[CONFIG_MESSAGE_SIZE] = "";
        const bool taken =
            parsePublishConfig("relay.conf", row.text, std::strlen(row.text), config.get(), message, sizeof message);
        EXPECT_EQ(taken, row.refusal == nullptr) << row.text;
        if (row.refusal) {
            EXPECT_STREQ(message, row.refusal);
        }
    }
    auto config = std::make_unique<PublishConfigFile>();
    char message[CONFIG_MESSAGE_SIZE];
    const char *text = rows[0].text;
    ASSERT_TRUE(parsePublishConfig("relay.conf", text, std::strlen(text), config.get(), message, sizeof message));
    EXPECT_STREQ(config->values[CONFIG_PORT], "/dev/serial/by-id/usb-x");
    EXPECT_STREQ(config->values[CONFIG_BROKER], "host:1884");
    EXPECT_EQ(config->qos, 0);
    EXPECT_EQ(config->every, 5);
    EXPECT_FALSE(config->given[CONFIG_TOPIC]);
}

TEST(PublishConfig, AFileThatCannotBeReadIsAFileErrorAndABadLineAUsageError)
{
    char dir[] = "/tmp/k614-config-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string bad = std::string(dir) + "/bad.conf";
    std::FILE *f = std::fopen(bad.c_str(), "w");
    std::fputs("port = /dev/ttyUSB0\nqos = 3\n", f);
    std::fclose(f);
    auto config = std::make_unique<PublishConfigFile>();
    std::FILE *err = std::tmpfile();
    EXPECT_EQ(readPublishConfig((std::string(dir) + "/missing.conf").c_str(), config.get(), err), EXIT_FILE_ERROR);
    EXPECT_EQ(readPublishConfig(dir, config.get(), err), EXIT_FILE_ERROR) << "a directory";
    EXPECT_EQ(readPublishConfig(bad.c_str(), config.get(), err), EXIT_USAGE);
    std::rewind(err);
    char line[512];
    std::string said;
    while (std::fgets(line, sizeof line, err))
        said += line;
    EXPECT_NE(said.find(bad + ":2: qos '3' needs 0 or 1\n"), std::string::npos) << said;
    EXPECT_EQ(readPublishConfig(K614_EXAMPLE_CONFIG, config.get(), err), EXIT_DONE) << "the example installed";
    EXPECT_TRUE(config->given[CONFIG_PORT] && config->given[CONFIG_BROKER] && config->given[CONFIG_TOPIC]);
    std::fclose(err);
    unlink(bad.c_str());
    rmdir(dir);
}

TEST(PublishConfig, TheCommandLineWinsOverTheFile)
{
    const std::string file = "/tmp/k614-config-" + std::to_string(getpid()) + ".conf";
    ASSERT_TRUE(cli_test::saveText(file, "port = /dev/ttyUSB7\nbroker = filehost\ntopic = file/t\nqos = 0\n"
                                         "every = 5\ndiscovery = ha\n"));
    CtlArgs args;
    ASSERT_EQ(cli_test::parseWords({"publish", "--config", file.c_str(), "--topic", "cli/t", "--qos", "1"}, &args,
                                   stderr),
              ParseOutcome::run);
    ASSERT_EQ(applyPublishConfig(&args, stderr), EXIT_DONE);
    EXPECT_STREQ(args.port, "/dev/ttyUSB7");
    EXPECT_STREQ(args.broker, "filehost");
    EXPECT_STREQ(args.topic, "cli/t");
    EXPECT_EQ(args.qos, 1);
    EXPECT_EQ(args.every, 5);
    EXPECT_STREQ(args.discovery, "ha");
    unlink(file.c_str());
    // --discovery alone is Home Assistant's own prefix.
    ASSERT_EQ(cli_test::parseWords({"publish", "P", "--broker", "h", "--discovery"}, &args, stderr),
              ParseOutcome::run);
    EXPECT_STREQ(args.discovery, DISCOVERY_DEFAULT_PREFIX);
}

// ---- the notify datagrams ----

TEST(ServiceNotify, DatagramsReachAPathOrAnAbstractSocketAndNothingIsSentWithoutOne)
{
    const std::string path = "/tmp/k614-notify-" + std::to_string(getpid());
    const std::string abstractName = "@k614-notify-" + std::to_string(getpid());
    for (const std::string &name : {path, abstractName}) {
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.c_str(), name.size());
        socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        if (name[0] == '@')
            address.sun_path[0] = 0;
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), size), 0) << name;
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
        EXPECT_TRUE(notifyServiceManager("READY=1\nSTATUS=line online"));
        char got[128] = "";
        EXPECT_EQ(recv(fd, got, sizeof got - 1, MSG_DONTWAIT), 26) << name; // a datagram is there once sent
        EXPECT_STREQ(got, "READY=1\nSTATUS=line online");
        close(fd);
    }
    unlink(path.c_str());
    unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(notifyServiceManager("READY=1"));

    // The watchdog's ping is due at half its time, and only for the process it was set for.
    setenv("WATCHDOG_USEC", "10000000", 1);
    EXPECT_EQ(serviceWatchdogIntervalMs(), 5000);
    setenv("WATCHDOG_PID", "1", 1);
    EXPECT_EQ(serviceWatchdogIntervalMs(), 0);
    unsetenv("WATCHDOG_PID");
    unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(serviceWatchdogIntervalMs(), 0);
}

// ---- discovery ----

// Braces and brackets balance outside strings, and strings end: enough to tell a payload cut or mis-quoted.
bool balancedJson(const std::string &text)
{
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth < 0)
                return false;
        }
    }
    return depth == 0 && !inString;
}

struct DiscoveryRow {
    DiscoveryEntity entity;
    const char *topic;
    const char *keys[4]; // each must be in the payload
};

TEST(PublishDiscovery, TopicsAndKeysPerEntity)
{
    // Available only while online: silent and offline (and a status of another first word) are not.
    const char *status = "\"availability\":[{\"topic\":\"k614/ttyUSB0/status\",\"value_template\":"
                         "\"{{ 'online' if value.split(' ')[0] == 'online' else 'offline' }}\"}]";
    const DiscoveryRow rows[] = {
        {DISCOVERY_MEASUREMENT, "homeassistant/sensor/k614_ttyUSB0_measurement/config",
         {"\"unique_id\":\"k614_ttyUSB0_measurement\"", "\"state_topic\":\"k614/ttyUSB0/measurement\"",
          "\"state_class\":\"measurement\",\"unit_of_measurement\":\"%\"", status}},
        {DISCOVERY_MAX_PEAK, "homeassistant/sensor/k614_ttyUSB0_max_peak/config",
         {"\"state_topic\":\"k614/ttyUSB0/peaks\"", "{{ value_json.max }}", "\"unit_of_measurement\":\"%\"", status}},
        {DISCOVERY_MIN_PEAK, "homeassistant/sensor/k614_ttyUSB0_min_peak/config",
         {"{{ value_json.min }}", "\"unique_id\":\"k614_ttyUSB0_min_peak\"", status, "\"state_class\""}},
        {DISCOVERY_DPDT_PEAK, "homeassistant/sensor/k614_ttyUSB0_dpdt_peak/config",
         {"{{ value_json.dpdt }}", "\"unique_id\":\"k614_ttyUSB0_dpdt_peak\"", status, "\"state_class\""}},
        {DISCOVERY_LINK, "homeassistant/sensor/k614_ttyUSB0_link/config",
         {"\"state_topic\":\"k614/ttyUSB0/status\"", "\"options\":[\"online\",\"silent\",\"offline\"]",
          "\"device_class\":\"enum\"", "\"unique_id\":\"k614_ttyUSB0_link\""}},
        {DISCOVERY_EVENTS, "homeassistant/event/k614_ttyUSB0_events/config",
         {"\"state_topic\":\"k614/ttyUSB0/event\"", "\"event_types\":[\"alarm\",\"dvdt\"]", "event_type", status}},
    };
    static_assert(sizeof rows / sizeof rows[0] == DISCOVERY_ENTITY_COUNT);
    for (const DiscoveryRow &row : rows) {
        char topic[DISCOVERY_TOPIC_SIZE], payload[DISCOVERY_PAYLOAD_SIZE];
        ASSERT_TRUE(formatDiscoveryTopic(DISCOVERY_DEFAULT_PREFIX, "k614/ttyUSB0", row.entity, topic, sizeof topic));
        EXPECT_STREQ(topic, row.topic);
        ASSERT_TRUE(formatDiscoveryConfig("k614/ttyUSB0", "Pump 3", "1.0.0", row.entity, payload, sizeof payload));
        const std::string text = payload;
        EXPECT_TRUE(balancedJson(text)) << text;
        for (const char *key : row.keys)
            EXPECT_NE(text.find(key), std::string::npos) << key << " in " << text;
        // One device per relay, named by its unit text; the origin is k614ctl.
        EXPECT_NE(text.find("\"device\":{\"identifiers\":[\"k614_ttyUSB0\"],\"name\":\"Pump 3\",\"model\":\"K614\","
                            "\"sw_version\":\"1.0.0\"}"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("\"origin\":{\"name\":\"k614ctl\",\"sw_version\":\"1.0.0\"}"), std::string::npos);
        EXPECT_EQ(text.find("power"), std::string::npos) << "kW% is no power in watts";
    }
    // The link itself is never unavailable; a blank unit text leaves the prefix as the device's name; a quote in a
    // prefix is escaped, and the object id keeps only what an id may hold.
    char payload[DISCOVERY_PAYLOAD_SIZE], topic[DISCOVERY_TOPIC_SIZE];
    ASSERT_TRUE(formatDiscoveryConfig("k614/ttyUSB0", "  ", "1.0.0", DISCOVERY_LINK, payload, sizeof payload));
    EXPECT_EQ(std::string(payload).find("availability"), std::string::npos);
    EXPECT_NE(std::string(payload).find("\"name\":\"k614/ttyUSB0\""), std::string::npos);
    ASSERT_TRUE(formatDiscoveryConfig("plant \"A\"/r1", "", "1.0.0", DISCOVERY_MEASUREMENT, payload, sizeof payload));
    EXPECT_TRUE(balancedJson(payload)) << payload;
    ASSERT_TRUE(formatDiscoveryTopic("ha", "plant \"A\"/r1", DISCOVERY_MEASUREMENT, topic, sizeof topic));
    EXPECT_STREQ(topic, "ha/sensor/plant__A__r1_measurement/config");
}

} // namespace
