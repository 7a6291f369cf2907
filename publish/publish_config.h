// k614ctl publish's configuration file: one "key = value" a line, as a service instance keeps its relay's settings.
#pragma once

#include <cstddef>
#include <cstdio>

#include "publish/publish_options.h"

// The keys, in the order the file's documentation lists them; each names the command-line option of the same name
// (port: the PORT operand).
enum PublishConfigKey {
    CONFIG_PORT,
    CONFIG_BROKER,
    CONFIG_TOPIC,
    CONFIG_CLIENT_ID,
    CONFIG_USERNAME,
    CONFIG_PASSWORD_FILE,
    CONFIG_TLS,
    CONFIG_QOS,
    CONFIG_EVERY,
    CONFIG_DISCOVERY,
    CONFIG_KEY_COUNT
};

// A line holds at most this many bytes; a value is what is left of it.
inline constexpr std::size_t CONFIG_LINE_SIZE = 1024;
// The file as a whole: far more than ten keys and their comments need.
inline constexpr std::size_t CONFIG_FILE_MAX = 64 * 1024;
// The largest --every (one a day at 50 measurements a second would be 4,320,000; a million is plenty).
inline constexpr int PUBLISH_EVERY_MAX = 1000000;
// Room for "FILE:LINE: why".
inline constexpr std::size_t CONFIG_MESSAGE_SIZE = 1024 + 256;

struct PublishConfigFile {
    bool given[CONFIG_KEY_COUNT];
    char values[CONFIG_KEY_COUNT][CONFIG_LINE_SIZE]; // as written, blanks around it taken off
    int qos;                                         // when given: 0 or 1
    int every;                                       // when given: 1..PUBLISH_EVERY_MAX
};

// Parses a file's whole text (length bytes; name only for messages). Blank lines and lines whose first non-blank
// character is '#' are skipped; every other line is "key = value" with one of the keys above, each at most once,
// with a value that key takes. False with "NAME:LINE: why" in message at the first line that is not.
bool parsePublishConfig(const char *name, const char *text, std::size_t length, PublishConfigFile *out,
                        char *message, std::size_t messageSize);

// Reads and parses the file at path. EXIT_DONE; EXIT_FILE_ERROR when it cannot be read (missing, not a regular
// file, larger than CONFIG_FILE_MAX); EXIT_USAGE for a line it refuses, as the same option on the command line
// would be. The reason goes to err as one line after "k614ctl: ".
int readPublishConfig(const char *path, PublishConfigFile *out, std::FILE *err);

// Reads options->configFile (when set) and fills what the command line left out from it; the strings stay in this
// file's keeping for the rest of the run. EXIT_DONE, or readPublishConfig's exit with its reason on err.
int applyPublishConfig(PublishOptions *options, std::FILE *err);
