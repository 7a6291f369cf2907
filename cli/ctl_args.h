// k614ctl's command line: the command, its operands and options, and the help texts.
#pragma once

#include <cstdint>
#include <cstdio>

enum class CtlCommand { none, read, write, show, diff, log };

struct CtlArgs {
    CtlCommand command;
    const char *port;   // read, write, log
    const char *file;   // write, show; diff's first file
    const char *fileB;  // diff's second file
    const char *output; // read -o
    const char *csv;    // log --csv
    std::int64_t durationMs; // log --duration; 0: until stopped
    bool json;          // read, show
    bool dryRun;        // write
};

enum class ParseOutcome { run, help, version, usageError };

// Fills *args from argv. On a usage error one line saying what is wrong goes
// to err, followed by a pointer to the help.
ParseOutcome parseCtlArgs(int argc, char **argv, CtlArgs *args, std::FILE *err);

// The tool's help (command none) or one command's.
void writeUsage(std::FILE *out, CtlCommand command);
