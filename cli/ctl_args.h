// k614ctl's command line: the command, its operands and options, and the help texts.
#pragma once

#include <cstdint>
#include <cstdio>

enum class CtlCommand { none, read, write, show, diff, log, publish };

struct CtlArgs {
    CtlCommand command;
    const char *port;   // read, write, log
    const char *file;   // write, show; diff's first file
    const char *fileB;  // diff's second file
    const char *output; // read -o
    const char *csv;    // log --csv
    std::int64_t durationMs; // log, publish --duration; 0: until stopped
    bool json;          // read, show
    bool dryRun;        // write
    // publish
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

enum class ParseOutcome { run, help, version, usageError };

// Fills *args from argv (whose strings it points into). On a usage error one
// line saying what is wrong goes to err, followed by a pointer to the help.
ParseOutcome parseCtlArgs(int argc, char **argv, CtlArgs *args, std::FILE *err);

// The tool's help (command none) or one command's.
void writeUsage(std::FILE *out, CtlCommand command);
// "k614ctl 1.0.0"
void writeVersion(std::FILE *out);
