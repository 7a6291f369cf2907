// What k614ctl publish is told: the port, how long to run, the broker and the names to use there, as the command
// line gives them and --config then fills in.
#pragma once

#include <cstdint>

struct PublishOptions {
    const char *port;         // nullptr: from --config, or none (--remove-discovery with --topic)
    std::int64_t durationMs;  // --duration; 0: until stopped
    const char *broker;       // HOST or HOST:PORT
    const char *topic;        // prefix; nullptr: k614/<the port's base name>
    const char *clientId;     // nullptr: one made from the prefix
    const char *username;
    const char *passwordFile; // nullptr: K614_MQTT_PASSWORD, when set
    const char *tlsCaFile;    // nullptr: plain TCP
    int every;                // publish every Nth measurement, 1..
    int qos;                  // of the measurements: 0 or 1
    bool everyGiven, qosGiven; // on the command line, where they win over --config
    const char *configFile;   // --config: key = value settings under what the command line gives
    const char *discovery;    // Home Assistant's discovery prefix; nullptr: no discovery
    bool removeDiscovery;     // empty the discovery configs and end
};
