// Home Assistant's MQTT discovery payloads, one per entity of the relay, built from a table.
//
// Ids come from the topic prefix alone (k614/ttyUSB0 gives k614_ttyUSB0), so a relay keeps its entities
// across restarts and reboots as long as its prefix stays; a dashboard's history follows it.
#include "publish/publish_discovery.h"

#include <cstdio>
#include <cstring>

#include "cli/ctl_format.h"

namespace {

enum class Kind { sensor, link, events };

struct EntityRow {
    const char *component; // the discovery topic's second level
    const char *key;       // ends the object id and unique id
    const char *name;      // shown under the device's name
    const char *topic;     // under the relay's prefix
    const char *valueTemplate;
    Kind kind;
};

// A sensor's value in kW%: a percentage of the relay's nominal power, so no power device class (that wants watts).
const EntityRow ENTITIES[DISCOVERY_ENTITY_COUNT] = {
    {"sensor", "measurement", "Measurement", "measurement", "{{ value_json.p }}", Kind::sensor},
    {"sensor", "max_peak", "Max peak", "peaks", "{{ value_json.max }}", Kind::sensor},
    {"sensor", "min_peak", "Min peak", "peaks", "{{ value_json.min }}", Kind::sensor},
    {"sensor", "dpdt_peak", "dPdt peak", "peaks", "{{ value_json.dpdt }}", Kind::sensor},
    // The status may carry " dropped=N" after its first word.
    {"sensor", "link", "Link", "status", "{{ value.split(' ')[0] }}", Kind::link},
    {"event", "events", "Alarm", "event",
     "{{ {'event_type': value_json.event, 'code': value_json.code | default(none)} | to_json }}", Kind::events},
};

// Only online is available: silent and offline (and "online dropped=N" read by its first word) are not.
const char AVAILABILITY_TEMPLATE[] = "{{ 'online' if value.split(' ')[0] == 'online' else 'offline' }}";

// Letters, digits, '_' and '-' are what an object id may hold; anything else becomes '_'.
void discovery_objectBase(const char *topicPrefix, char *out, std::size_t size)
{
    std::size_t n = 0;
    for (const char *p = topicPrefix; *p && n + 1 < size; ++p) {
        const char c = *p;
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '-';
        out[n++] = kept ? c : '_';
    }
    out[n] = 0;
}

// A JSON string of UTF-8 text (a topic), quotes included: '"', '\\' and control characters escaped, the rest as is.
bool discovery_jsonUtf8(const char *text, char *out, std::size_t size)
{
    std::size_t n = 0;
    auto put = [&](const char *s) {
        const std::size_t length = std::strlen(s);
        if (n + length >= size)
            return false;
        std::memcpy(out + n, s, length);
        n += length;
        return true;
    };
    if (!put("\""))
        return false;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        char one[8];
        if (*p == '"' || *p == '\\')
            std::snprintf(one, sizeof one, "\\%c", *p);
        else if (*p < 0x20)
            std::snprintf(one, sizeof one, "\\u%04x", *p);
        else
            std::snprintf(one, sizeof one, "%c", *p);
        if (!put(one))
            return false;
    }
    if (!put("\""))
        return false;
    out[n] = 0;
    return true;
}

} // namespace

bool formatDiscoveryTopic(const char *discoveryPrefix, const char *topicPrefix, DiscoveryEntity entity, char *out,
                          std::size_t size)
{
    char base[DISCOVERY_TOPIC_SIZE];
    discovery_objectBase(topicPrefix, base, sizeof base);
    const EntityRow &row = ENTITIES[entity];
    const int n = std::snprintf(out, size, "%s/%s/%s_%s/config", discoveryPrefix, row.component, base, row.key);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

bool formatDiscoveryConfig(const char *topicPrefix, const char *unitText, const char *version, DiscoveryEntity entity,
                           char *out, std::size_t size)
{
    const EntityRow &row = ENTITIES[entity];
    char base[DISCOVERY_TOPIC_SIZE], fullTopic[DISCOVERY_TOPIC_SIZE], statusTopic[DISCOVERY_TOPIC_SIZE];
    discovery_objectBase(topicPrefix, base, sizeof base);
    std::snprintf(fullTopic, sizeof fullTopic, "%s/%s", topicPrefix, row.topic);
    std::snprintf(statusTopic, sizeof statusTopic, "%s/status", topicPrefix);
    char stateJson[DISCOVERY_TOPIC_SIZE * 2], statusJson[DISCOVERY_TOPIC_SIZE * 2], deviceName[DISCOVERY_TOPIC_SIZE * 2];
    if (!discovery_jsonUtf8(fullTopic, stateJson, sizeof stateJson) ||
        !discovery_jsonUtf8(statusTopic, statusJson, sizeof statusJson))
        return false;
    // The device's name: its unit text when it says something, else the prefix it publishes under.
    bool blank = true;
    for (const char *p = unitText; p && *p; ++p)
        blank = blank && *p == ' ';
    if (!blank)
        jsonString(unitText, deviceName, sizeof deviceName);
    else if (!discovery_jsonUtf8(topicPrefix, deviceName, sizeof deviceName))
        return false;

    char ownKeys[DISCOVERY_TOPIC_SIZE * 2 + 256];
    switch (row.kind) {
    case Kind::sensor:
        std::snprintf(ownKeys, sizeof ownKeys,
                      "\"state_class\":\"measurement\",\"unit_of_measurement\":\"%%\","
                      "\"availability\":[{\"topic\":%s,\"value_template\":\"%s\"}],",
                      statusJson, AVAILABILITY_TEMPLATE);
        break;
    case Kind::link:
        // Always available: it is what tells silent and offline apart.
        std::snprintf(ownKeys, sizeof ownKeys,
                      "\"device_class\":\"enum\",\"options\":[\"online\",\"silent\",\"offline\"],"
                      "\"entity_category\":\"diagnostic\",");
        break;
    case Kind::events:
        std::snprintf(ownKeys, sizeof ownKeys,
                      "\"event_types\":[\"alarm\",\"dvdt\"],"
                      "\"availability\":[{\"topic\":%s,\"value_template\":\"%s\"}],",
                      statusJson, AVAILABILITY_TEMPLATE);
        break;
    }
    const int n = std::snprintf(
        out, size,
        "{\"name\":\"%s\",\"unique_id\":\"%s_%s\",\"state_topic\":%s,\"value_template\":\"%s\",%s"
        "\"device\":{\"identifiers\":[\"%s\"],\"name\":%s,\"model\":\"K614\",\"sw_version\":\"%s\"},"
        "\"origin\":{\"name\":\"k614ctl\",\"sw_version\":\"%s\"}}",
        row.name, base, row.key, stateJson, row.valueTemplate, ownKeys, base, deviceName, version, version);
    return n > 0 && static_cast<std::size_t>(n) < size;
}
