// k614ctl's command line: operands and options per command, checked before anything is opened.
#include "cli/ctl_args.h"

#include <cstring>

static constexpr char TOOL[] = "k614ctl";
// Longest --duration accepted: a little over a year of logging.
static constexpr std::int64_t DURATION_MAX_MS = 400LL * 24 * 3600 * 1000;

static const char GENERAL_USAGE[] =
    "Usage: k614ctl COMMAND [ARGUMENTS]\n"
    "Reads, writes and compares the K614 relay's parameter sets (.614 files)\n"
    "and logs its measurements, over a serial line at 9600 baud, 8N1.\n"
    "\n"
    "Commands:\n"
    "  read PORT [-o FILE.614] [--json]     read the device's parameter set\n"
    "  write PORT FILE.614 [--dry-run]      send a parameter set and verify it\n"
    "  show FILE.614 [--json]               list a parameter file\n"
    "  diff A.614 B.614                     compare two parameter files\n"
    "  log PORT [--csv FILE] [--duration S] log every measurement with its time\n"
    "\n"
    "PORT is a device path on Linux (/dev/ttyUSB0, /dev/ttyS0) and COM1..COM256\n"
    "on Windows. 'k614ctl COMMAND --help' describes one command;\n"
    "'k614ctl --version' prints the version.\n"
    "\n"
    "Exit codes:\n"
    "  0  done (diff, write: the sets are equal)\n"
    "  1  the sets differ (diff: the two files; write: the device reports other values)\n"
    "  2  usage error\n"
    "  3  the device did not answer (or not completely) within 3 s\n"
    "  4  the port cannot be opened: no such port, port busy, not a serial port\n"
    "  5  file error: missing, a directory, shorter than 88 bytes, cannot be written\n"
    "  6  the line to the device was lost (cable pulled, adapter gone)\n";

static const char READ_USAGE[] =
    "Usage: k614ctl read PORT [-o FILE.614] [--json]\n"
    "Asks the device for its parameter set (upload request) and waits up to 3 s\n"
    "for the whole answer: the 23 parameters and the unit text.\n"
    "\n"
    "  -o FILE.614   save the set as an 88-byte parameter file (reserved bytes 0)\n"
    "  --json        print one JSON object: the 23 parameters by name and \"unitText\"\n"
    "                (characters from 0x7F up as \\u00XX, read as Latin-1)\n"
    "Without either, prints the listing of the printed report.\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 3 no answer, 4 port error, 5 file error, 6 line lost.\n";

static const char WRITE_USAGE[] =
    "Usage: k614ctl write PORT FILE.614 [--dry-run]\n"
    "Sends the file's 23 parameters to the device, one code every 20 ms in the\n"
    "device's order, then reads the set back and compares the 23 values. The unit\n"
    "text is the device's own and is not sent. Each value the device reports\n"
    "differently is printed as \"name: wanted W, reported R\".\n"
    "\n"
    "  --dry-run     print the 23 codes, \"name code\" one per line; nothing is sent\n"
    "                and the port is not opened\n"
    "\n"
    "Exit codes: 0 verified, 1 values differ, 2 usage, 3 no answer, 4 port error,\n"
    "5 file error, 6 line lost.\n";

static const char SHOW_USAGE[] =
    "Usage: k614ctl show FILE.614 [--json]\n"
    "Prints the listing of a parameter file as the printed report shows it, or\n"
    "with --json the object that 'read --json' prints.\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 5 file error.\n";

static const char DIFF_USAGE[] =
    "Usage: k614ctl diff A.614 B.614\n"
    "Prints each parameter that differs as \"name: a -> b\", then the unit text\n"
    "(\"unitText: \\\"a\\\" -> \\\"b\\\"\") when it differs. Reserved bytes are not compared.\n"
    "\n"
    "Exit codes: 0 equal, 1 different, 2 usage, 5 file error.\n";

static const char LOG_USAGE[] =
    "Usage: k614ctl log PORT [--csv FILE] [--duration S]\n"
    "Writes one CSV row per measurement the device sends (50 a second):\n"
    "  time,measurement,maxPeak,minPeak,dpdtPeak,events\n"
    "time: when the row was read, UTC, ISO 8601 with milliseconds\n"
    "(2024-05-01T12:00:00.020Z); measurement and peaks in kW%; a peak stays empty\n"
    "until the device has reported it; events: what came since the row before,\n"
    "separated by ';': \"alarm CODE\" (65014..65024 limit 1, 65039..65049 limit 2)\n"
    "and \"dvdt 65052\".\n"
    "\n"
    "  --csv FILE    write the rows to FILE instead of standard output\n"
    "  --duration S  stop after S seconds (decimals allowed)\n"
    "\n"
    "Ctrl-C ends the log; every row read so far is written. When stderr is a\n"
    "terminal a status line there shows the rows, their rate, the last value and\n"
    "whether the link is alive. A line silent for 2 s is reported on stderr and\n"
    "logging goes on.\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 4 port error, 5 file error, 6 line lost (the\n"
    "rows up to then are written).\n";

void writeUsage(std::FILE *out, CtlCommand command)
{
    switch (command) {
    case CtlCommand::read:
        std::fputs(READ_USAGE, out);
        return;
    case CtlCommand::write:
        std::fputs(WRITE_USAGE, out);
        return;
    case CtlCommand::show:
        std::fputs(SHOW_USAGE, out);
        return;
    case CtlCommand::diff:
        std::fputs(DIFF_USAGE, out);
        return;
    case CtlCommand::log:
        std::fputs(LOG_USAGE, out);
        return;
    case CtlCommand::none:
        break;
    }
    std::fputs(GENERAL_USAGE, out);
}

struct CommandName {
    const char *name;
    CtlCommand command;
    int operands;   // PORT and files
    bool portFirst; // the first operand is a port
};

static constexpr CommandName COMMANDS[] = {
    {"read", CtlCommand::read, 1, true},  {"write", CtlCommand::write, 2, true},
    {"show", CtlCommand::show, 1, false}, {"diff", CtlCommand::diff, 2, false},
    {"log", CtlCommand::log, 1, true},
};

static const char *args_commandName(CtlCommand command)
{
    for (const CommandName &c : COMMANDS)
        if (c.command == command)
            return c.name;
    return "";
}

static ParseOutcome args_usageError(std::FILE *err, CtlCommand command, const char *what, const char *arg)
{
    const char *name = args_commandName(command);
    std::fprintf(err, "%s%s%s: %s%s%s%s\n", TOOL, *name ? " " : "", name, what, arg ? " '" : "", arg ? arg : "",
                 arg ? "'" : "");
    std::fprintf(err, "Try '%s%s%s --help'.\n", TOOL, *name ? " " : "", name);
    return ParseOutcome::usageError;
}

// Seconds with up to three decimals, greater than 0.
static bool args_parseSeconds(const char *text, std::int64_t *ms)
{
    std::int64_t whole = 0;
    const char *p = text;
    if (*p < '0' || *p > '9')
        return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        whole = whole * 10 + (*p - '0');
        if (whole * 1000 > DURATION_MAX_MS)
            return false;
    }
    std::int64_t fraction = 0;
    if (*p == '.') {
        int digits = 0;
        for (++p; *p >= '0' && *p <= '9'; ++p, ++digits) {
            if (digits < 3)
                fraction = fraction * 10 + (*p - '0');
        }
        if (digits == 0)
            return false;
        for (; digits < 3; ++digits)
            fraction *= 10;
    }
    if (*p != 0)
        return false;
    *ms = whole * 1000 + fraction;
    return *ms > 0;
}

static bool args_isHelp(const char *arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// "--name=value" or "--name value": the value, or nullptr when it is missing.
static const char *args_optionValue(int argc, char **argv, int *i, const char *name)
{
    const std::size_t len = std::strlen(name);
    const char *arg = argv[*i];
    if (std::strncmp(arg, name, len) != 0)
        return nullptr;
    if (arg[len] == '=')
        return arg + len + 1;
    if (arg[len] == 0 && *i + 1 < argc)
        return argv[++*i];
    return nullptr;
}

static bool args_optionNamed(const char *arg, const char *name)
{
    const std::size_t len = std::strlen(name);
    return std::strncmp(arg, name, len) == 0 && (arg[len] == 0 || arg[len] == '=');
}

ParseOutcome parseCtlArgs(int argc, char **argv, CtlArgs *args, std::FILE *err)
{
    *args = CtlArgs{};
    if (argc < 2)
        return args_usageError(err, CtlCommand::none, "no command given", nullptr);
    if (args_isHelp(argv[1]))
        return ParseOutcome::help;
    if (std::strcmp(argv[1], "--version") == 0)
        return ParseOutcome::version;
    const CommandName *command = nullptr;
    for (const CommandName &c : COMMANDS)
        if (std::strcmp(argv[1], c.name) == 0)
            command = &c;
    if (!command)
        return args_usageError(err, CtlCommand::none, "unknown command", argv[1]);
    args->command = command->command;
    const CtlCommand cmd = command->command;

    const char *operands[2] = {};
    int operandCount = 0;
    bool operandsOnly = false;
    for (int i = 2; i < argc; ++i) {
        const char *arg = argv[i];
        if (!operandsOnly && args_isHelp(arg))
            return ParseOutcome::help;
        if (!operandsOnly && std::strcmp(arg, "--") == 0) {
            operandsOnly = true;
            continue;
        }
        if (operandsOnly || arg[0] != '-' || arg[1] == 0) {
            if (operandCount == command->operands)
                return args_usageError(err, cmd, "too many arguments at", arg);
            operands[operandCount++] = arg;
            continue;
        }
        const bool jsonAllowed = cmd == CtlCommand::read || cmd == CtlCommand::show;
        if (jsonAllowed && std::strcmp(arg, "--json") == 0) {
            args->json = true;
        } else if (cmd == CtlCommand::write && std::strcmp(arg, "--dry-run") == 0) {
            args->dryRun = true;
        } else if (cmd == CtlCommand::read && (args_optionNamed(arg, "-o") || args_optionNamed(arg, "--output"))) {
            args->output = args_optionValue(argc, argv, &i, arg[1] == 'o' ? "-o" : "--output");
            if (!args->output || !*args->output)
                return args_usageError(err, cmd, "missing file name after", arg);
        } else if (cmd == CtlCommand::log && args_optionNamed(arg, "--csv")) {
            args->csv = args_optionValue(argc, argv, &i, "--csv");
            if (!args->csv || !*args->csv)
                return args_usageError(err, cmd, "missing file name after", arg);
        } else if (cmd == CtlCommand::log && args_optionNamed(arg, "--duration")) {
            const char *value = args_optionValue(argc, argv, &i, "--duration");
            if (!value)
                return args_usageError(err, cmd, "missing seconds after", arg);
            if (!args_parseSeconds(value, &args->durationMs))
                return args_usageError(err, cmd, "--duration needs seconds greater than 0, not", value);
        } else {
            return args_usageError(err, cmd, "unknown option", arg);
        }
    }
    if (args->json && args->output)
        return args_usageError(err, cmd, "-o and --json exclude each other", nullptr);
    if (operandCount < command->operands) {
        static const char *const MISSING[][2] = {{"missing FILE.614", "missing second FILE.614"},
                                                 {"missing PORT", "missing FILE.614"}};
        return args_usageError(err, cmd, MISSING[command->portFirst ? 1 : 0][operandCount], nullptr);
    }
    if (command->portFirst) {
        args->port = operands[0];
        args->file = operands[1];
    } else {
        args->file = operands[0];
        args->fileB = operands[1];
    }
    return ParseOutcome::run;
}
