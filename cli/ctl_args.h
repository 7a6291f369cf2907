// k614ctl's command line: the command, its operands and options, and the help texts.
#pragma once

#include <cstdint>
#include <cstdio>

#include "publish/publish_options.h"

enum class CtlCommand { none, read, write, show, diff, log, publish };

struct CtlArgs {
    CtlCommand command;
    const char *port;   // read, write, log, publish
    const char *file;   // write, show; diff's first file
    const char *fileB;  // diff's second file
    const char *output; // read -o
    const char *csv;    // log --csv
    std::int64_t durationMs; // log, publish --duration; 0: until stopped
    bool json;          // read, show
    bool dryRun;        // write
    PublishOptions publish; // publish's options, its port and durationMs as above
};

enum class ParseOutcome { run, help, version, usageError };

// Fills *args from argv (whose strings it points into). On a usage error one
// line saying what is wrong goes to err, followed by a pointer to the help.
ParseOutcome parseCtlArgs(int argc, char **argv, CtlArgs *args, std::FILE *err);

// The tool's help (command none) or one command's.
void writeUsage(std::FILE *out, CtlCommand command);
// "k614ctl 1.0.0"
void writeVersion(std::FILE *out);
