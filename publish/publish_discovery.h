// Home Assistant's MQTT discovery for one relay: the config topics and their retained JSON payloads.
#pragma once

#include <cstddef>

// What a relay offers a dashboard: its measurement, the three peaks, the link's status and its alarm events.
enum DiscoveryEntity {
    DISCOVERY_MEASUREMENT,
    DISCOVERY_MAX_PEAK,
    DISCOVERY_MIN_PEAK,
    DISCOVERY_DPDT_PEAK,
    DISCOVERY_LINK,
    DISCOVERY_EVENTS,
    DISCOVERY_ENTITY_COUNT
};

inline constexpr char DISCOVERY_DEFAULT_PREFIX[] = "homeassistant";
// The discovery prefix, the component, the object id (the topic prefix once more, with a suffix) and "/config".
inline constexpr std::size_t DISCOVERY_TOPIC_SIZE = 2 * 256 + 64;
// The largest payload: every topic at its longest, each character of the unit text escaped.
inline constexpr std::size_t DISCOVERY_PAYLOAD_SIZE = 4096;

// "<discoveryPrefix>/<component>/<objectId>/config"; false when it does not fit.
bool formatDiscoveryTopic(const char *discoveryPrefix, const char *topicPrefix, DiscoveryEntity entity, char *out,
                          std::size_t size);

// The retained config for one entity of the relay that publishes under topicPrefix. unitText (the device's own,
// 8-bit) names the device when it is not blank; version is k614ctl's. False when it does not fit.
bool formatDiscoveryConfig(const char *topicPrefix, const char *unitText, const char *version, DiscoveryEntity entity,
                           char *out, std::size_t size);

// What Home Assistant publishes to "<discoveryPrefix>/status" when it starts: the configs are sent again then.
inline constexpr char DISCOVERY_BIRTH[] = "online";
