// k614ctl's command line: operands and options per command (CLI11), checked before anything is opened.
#include "cli/ctl_args.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <string>

#include "publish/publish_discovery.h"
#include "k614_version.h"

static constexpr char TOOL[] = "k614ctl";
// Longest --duration accepted: a little over a year of logging.
static constexpr std::int64_t DURATION_MAX_MS = 400LL * 24 * 3600 * 1000;
static constexpr int DURATION_DECIMALS = 3; // milliseconds

static const char GENERAL_USAGE[] =
    "Usage: k614ctl COMMAND [ARGUMENTS]\n"
    "Reads, writes and compares the K614 relay's parameter sets (.614 files)\n"
    "and logs or publishes its measurements, over a serial line at 9600 baud, 8N1.\n"
    "\n"
    "Commands:\n"
    "  read PORT [-o FILE.614] [--json]     read the device's parameter set\n"
    "  write PORT FILE.614 [--dry-run]      send a parameter set and verify it\n"
    "  show FILE.614 [--json]               list a parameter file\n"
    "  diff A.614 B.614                     compare two parameter files\n"
    "  log PORT [--csv FILE] [--duration S] log every measurement with its time\n"
    "  publish PORT --broker HOST[:PORT]    publish the live data on MQTT (Linux)\n"
    "\n"
    "PORT is a device path on Linux (/dev/ttyUSB0, /dev/ttyS0) and COM1..COM256\n"
    "on Windows. 'k614ctl COMMAND --help' describes one command; 'k614ctl --version'\n"
    "prints the version.\n"
    "\n"
    "Exit codes:\n"
    "  0  done (diff, write: the sets are equal)\n"
    "  1  the sets differ (diff: the two files; write: the device reports other values)\n"
    "  2  usage error\n"
    "  3  the device did not answer (or not completely) within 3 s\n"
    "  4  the port cannot be opened: no such port, port busy, not a serial port\n"
    "  5  file error: missing, a directory, shorter than 88 bytes, cannot be written\n"
    "  6  the line to the device was lost (cable pulled, adapter gone)\n"
    "  7  publish: the broker refused the user name or password, or TLS failed\n"
    "  8  publish: measurements or events taken from the line were not published\n";

static const char READ_USAGE[] =
    "Usage: k614ctl read PORT [-o FILE.614] [--json]\n"
    "Asks the device for its parameter set (upload request) and waits up to 3 s\n"
    "for the whole answer: the 23 parameters and the unit text.\n"
    "\n"
    "  -o FILE.614   save the set as an 88-byte parameter file (reserved bytes 0);\n"
    "                a file is replaced whole once the new one is on the disk,\n"
    "                keeping its mode (and owner, where allowed); a link is saved\n"
    "                through to its file; a FIFO or a device (/dev/stdout) is\n"
    "                written as it is; a folder or a read-only file is refused\n"
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
    "  --duration S  stop after S seconds (up to 3 decimals, at most 34560000)\n"
    "\n"
    "Ctrl-C ends the log; every row read so far is written. When stderr is a\n"
    "terminal a status line there shows the rows, their rate, the last value and\n"
    "whether the link is alive. A line silent for 2 s is reported on stderr and\n"
    "logging goes on.\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 4 port error, 5 file error, 6 line lost (the\n"
    "rows up to then are written).\n";

static const char PUBLISH_USAGE[] =
    "Usage: k614ctl publish PORT --broker HOST[:PORT] [--topic PREFIX] [--client-id ID]\n"
    "         [--username USER] [--password-file FILE] [--tls CAFILE] [--every N]\n"
    "         [--qos 0|1] [--duration S] [--discovery [PREFIX]] [--config FILE]\n"
    "       k614ctl publish --config FILE [OPTIONS]\n"
    "       k614ctl publish [PORT] --broker HOST[:PORT] [--topic PREFIX] --remove-discovery\n"
    "Publishes the device's live data on an MQTT broker (MQTT 3.1.1), one process per\n"
    "device. Topics under PREFIX (default k614/<the port's base name>, e.g. k614/ttyUSB0):\n"
    "  PREFIX/status       retained: \"online\" while frames arrive, \"silent\" after 2 s\n"
    "                      without a valid frame, \"offline\" while the line is lost and\n"
    "                      when k614ctl ends (also its last will). After an outage that\n"
    "                      overflowed the queue the next one adds \" dropped=N\".\n"
    "  PREFIX/measurement  {\"time\":\"2024-05-01T12:00:00.020Z\",\"p\":57} per measurement\n"
    "                      (kW%, time read from the line, UTC); QoS of --qos\n"
    "  PREFIX/peaks        retained: {\"time\":...,\"max\":57,\"min\":12,\"dpdt\":null} when\n"
    "                      the device reports a peak; null until it has reported it\n"
    "  PREFIX/event        QoS 1: {\"time\":...,\"event\":\"alarm\",\"code\":65014} (65014..65024\n"
    "                      limit 1, 65039..65049 limit 2) and {\"time\":...,\"event\":\"dvdt\"}\n"
    "  PREFIX/parameters   retained: the device's parameter set as 'read --json' prints\n"
    "                      it; again when a parameter or the unit text changes\n"
    "\n"
    "  --broker HOST[:PORT] the broker (port 1883, 8883 with --tls)\n"
    "  --topic PREFIX       topic prefix: UTF-8 without + or # (refused otherwise)\n"
    "  --client-id ID       MQTT client id (default: k614ctl-<port's base name>)\n"
    "  --username USER      user name; the password comes from the environment\n"
    "                       variable K614_MQTT_PASSWORD or from --password-file FILE\n"
    "                       (first line), never from the command line; names and\n"
    "                       password are taken whole up to MQTT's 65535 bytes\n"
    "  --tls CAFILE         TLS, the broker's certificate checked against CAFILE\n"
    "  --every N            publish every Nth measurement only (default 1)\n"
    "  --qos 0|1            QoS of the measurements (default 1). At 0 a measurement\n"
    "                       counts as delivered once written to the socket: those\n"
    "                       written to a link that stops answering without closing\n"
    "                       are lost until it is given up: 3 s after an event or\n"
    "                       status goes unacknowledged, else within 10 s\n"
    "  --discovery [PREFIX] Home Assistant's MQTT discovery under PREFIX (default\n"
    "                       homeassistant): retained configs of the measurement, the\n"
    "                       peaks, the link and the alarms, one device per relay, at\n"
    "                       each connect and when Home Assistant announces itself\n"
    "                       (\"online\" on <that prefix>/status)\n"
    "  --remove-discovery   empty those configs (retained) and end; the port is not\n"
    "                       opened\n"
    "  --config FILE        settings from FILE, one \"key = value\" a line, '#' starting\n"
    "                       a comment line: port, broker, topic, client-id, username,\n"
    "                       password-file, tls, qos, every, discovery. The command\n"
    "                       line wins over the file; a bad line is refused with the\n"
    "                       file's name and line number\n"
    "  --duration S         stop after S seconds (up to 3 decimals, at most 34560000)\n"
    "\n"
    "Each message leaves the queue on its own acknowledgement. While the broker\n"
    "cannot be reached k614ctl reconnects (0.25 s, doubling up to 4 s) and keeps the\n"
    "measurements, up to 10 minutes at 50 a second; they are published after the\n"
    "reconnect in order with their own times (at QoS 1 one may come twice). A link\n"
    "whose acknowledgement is 3 s late is given up and connected again. A broker\n"
    "answering \"server unavailable\" is retried likewise. Beyond the queue's room\n"
    "the oldest are dropped and counted on stderr and in the next status. A lost\n"
    "line is reopened once a second. Ctrl-C, SIGTERM or the end of --duration\n"
    "publishes what is queued (for up to 5 s, whatever the broker does), then\n"
    "\"offline\", and disconnects.\n"
    "\n"
    "As a service (k614-publish@.service): the password comes from the credential\n"
    "$CREDENTIALS_DIRECTORY/mqtt-password when no password file is given, before\n"
    "K614_MQTT_PASSWORD. With NOTIFY_SOCKET set k614ctl sends READY=1 once the port\n"
    "is open and the broker took the connection (at once when the broker is down at\n"
    "the start), WATCHDOG=1 from the reading loop (within half of WATCHDOG_USEC, a\n"
    "silent device included), a one-line STATUS= and STOPPING=1.\n"
    "\n"
    "Exit codes: 0 done, everything published; 2 usage (also a name the broker\n"
    "cannot take, or a bad line in --config); 4 port error (at start); 5 file error\n"
    "(password, CA or configuration file); 7 the broker refused the user name or\n"
    "password, or TLS failed; 8 something taken from the line was not published by\n"
    "the end (--remove-discovery: a removal the broker did not confirm).\n";

void writeVersion(std::FILE *out)
{
    std::fprintf(out, "%s %s\n", TOOL, K614_VERSION);
}

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
    case CtlCommand::publish:
        std::fputs(PUBLISH_USAGE, out);
        return;
    case CtlCommand::none:
        break;
    }
    std::fputs(GENERAL_USAGE, out);
}

struct CommandName {
    const char *name;
    CtlCommand command;
};

static constexpr CommandName COMMANDS[] = {
    {"read", CtlCommand::read},   {"write", CtlCommand::write}, {"show", CtlCommand::show},
    {"diff", CtlCommand::diff},   {"log", CtlCommand::log},     {"publish", CtlCommand::publish},
};
static constexpr int COMMAND_COUNT = sizeof COMMANDS / sizeof COMMANDS[0];
static constexpr int EVERY_MAX = 1000000;

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

// Seconds as digits with up to three decimals after a point, greater than 0
// and at most DURATION_MAX_MS. A finer time would be cut to the millisecond
// without a word, so a fourth decimal is refused rather than dropped; "5."
// and ".5" are refused as not written out.
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
        for (++p; *p >= '0' && *p <= '9'; ++p, ++digits)
            fraction = fraction * 10 + (*p - '0');
        if (digits == 0 || digits > DURATION_DECIMALS)
            return false;
        for (; digits < DURATION_DECIMALS; ++digits)
            fraction *= 10;
    }
    if (*p != 0)
        return false;
    *ms = whole * 1000 + fraction;
    return *ms > 0 && *ms <= DURATION_MAX_MS;
}

// The strings CLI11 fills; each is copied back into argv's own storage by pointer.
struct ArgTexts {
    std::string operands[2];
    std::string output, csv, duration, broker, topic, clientId, username, passwordFile, tlsCa, config, discovery;
    int every = 1;
    int qos = 1;
    bool json = false, dryRun = false, version = false, removeDiscovery = false;
};

// argv's string equal to text: the fields of CtlArgs point into argv, which outlives them.
static const char *args_inArgv(int argc, char **argv, const std::string &text)
{
    if (text.empty())
        return nullptr;
    for (int i = argc - 1; i > 0; --i) {
        const char *a = argv[i];
        if (text == a)
            return a;
        // "--name=value" and "-oVALUE": the value is the tail.
        const std::size_t len = std::strlen(a);
        if (len > text.size() && std::strcmp(a + len - text.size(), text.c_str()) == 0)
            return a + len - text.size();
    }
    return nullptr;
}

static CLI::App *args_command(CLI::App &app, const CommandName &c, ArgTexts &t)
{
    CLI::App *sub = app.add_subcommand(c.name);
    const bool portFirst = c.command != CtlCommand::show && c.command != CtlCommand::diff;
    const int operands = c.command == CtlCommand::write || c.command == CtlCommand::diff ? 2 : 1;
    static const char *const NAMES[][2] = {{"FILE.614", "second FILE.614"}, {"PORT", "FILE.614"}};
    for (int i = 0; i < operands; ++i)
        sub->add_option(NAMES[portFirst ? 1 : 0][i], t.operands[i])->required(c.command != CtlCommand::publish);
    switch (c.command) {
    case CtlCommand::read: {
        CLI::Option *output = sub->add_option("-o,--output", t.output);
        sub->add_flag("--json", t.json)->excludes(output);
        break;
    }
    case CtlCommand::write:
        sub->add_flag("--dry-run", t.dryRun);
        break;
    case CtlCommand::show:
        sub->add_flag("--json", t.json);
        break;
    case CtlCommand::log:
        sub->add_option("--csv", t.csv);
        sub->add_option("--duration", t.duration);
        break;
    case CtlCommand::publish:
        // Both may come from --config: publish_configure asks for them once the file is read.
        sub->add_option("--broker", t.broker);
        sub->add_option("--topic", t.topic);
        sub->add_option("--client-id", t.clientId);
        sub->add_option("--username", t.username);
        sub->add_option("--password-file", t.passwordFile);
        sub->add_option("--tls", t.tlsCa);
        sub->add_option("--every", t.every)->check(CLI::Range(1, EVERY_MAX));
        sub->add_option("--qos", t.qos)->check(CLI::Range(0, 1));
        sub->add_option("--config", t.config);
        sub->add_option("--discovery", t.discovery)->expected(0, 1);
        sub->add_flag("--remove-discovery", t.removeDiscovery);
        sub->add_option("--duration", t.duration);
        break;
    case CtlCommand::diff:
    case CtlCommand::none:
        break;
    }
    return sub;
}

// The command named first on the line (before "--"), for the help and the error texts.
static CtlCommand args_commandOf(int argc, char **argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        for (const CommandName &c : COMMANDS)
            if (std::strcmp(argv[i], c.name) == 0)
                return c.command;
    return CtlCommand::none;
}

ParseOutcome parseCtlArgs(int argc, char **argv, CtlArgs *args, std::FILE *err)
{
    *args = CtlArgs{};
    args->publish.every = 1;
    if (argc < 2)
        return args_usageError(err, CtlCommand::none, "no command given", nullptr);
    const bool known = args_commandOf(argc, argv) != CtlCommand::none;
    if (!known && argv[1][0] != '-')
        return args_usageError(err, CtlCommand::none, "unknown command", argv[1]);

    // A password typed on the command line is refused before the parser could quote it back in an error.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--password") == 0 || std::strncmp(argv[i], "--password=", 11) == 0)
            return args_usageError(err, args_commandOf(argc, argv),
                                   "--password is not taken on the command line, where other users can read it;"
                                   " use K614_MQTT_PASSWORD or --password-file FILE",
                                   nullptr);

    ArgTexts t;
    CLI::App app("", TOOL);
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    app.add_flag("--version", t.version);
    CLI::App *subs[COMMAND_COUNT];
    for (int i = 0; i < COMMAND_COUNT; ++i)
        subs[i] = args_command(app, COMMANDS[i], t);
    // CLI11 reports by exception; none leaves this function.
    CtlCommand command = CtlCommand::none;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        args->command = args_commandOf(argc, argv);
        return ParseOutcome::help;
    } catch (const CLI::ParseError &e) {
        return args_usageError(err, args_commandOf(argc, argv), e.what(), nullptr);
    }
    for (int i = 0; i < COMMAND_COUNT; ++i)
        if (subs[i]->parsed())
            command = COMMANDS[i].command;
    args->command = command;
    if (command == CtlCommand::none) {
        if (t.version)
            return ParseOutcome::version;
        return args_usageError(err, CtlCommand::none, "no command given", nullptr);
    }

    const bool portFirst = command != CtlCommand::show && command != CtlCommand::diff;
    const char *first = args_inArgv(argc, argv, t.operands[0]);
    const char *second = args_inArgv(argc, argv, t.operands[1]);
    if (portFirst) {
        args->port = first;
        args->file = second;
    } else {
        args->file = first;
        args->fileB = second;
    }
    args->output = args_inArgv(argc, argv, t.output);
    args->csv = args_inArgv(argc, argv, t.csv);
    args->publish.broker = args_inArgv(argc, argv, t.broker);
    args->publish.topic = args_inArgv(argc, argv, t.topic);
    args->publish.clientId = args_inArgv(argc, argv, t.clientId);
    args->publish.username = args_inArgv(argc, argv, t.username);
    args->publish.passwordFile = args_inArgv(argc, argv, t.passwordFile);
    args->publish.tlsCaFile = args_inArgv(argc, argv, t.tlsCa);
    args->json = t.json;
    args->dryRun = t.dryRun;
    args->publish.every = t.every;
    args->publish.qos = t.qos;
    args->publish.configFile = args_inArgv(argc, argv, t.config);
    args->publish.removeDiscovery = t.removeDiscovery;
    // An empty operand or option value: what the old parser refused as missing.
    CLI::App *sub = app.get_subcommand(args_commandName(command));
    const struct {
        const char *name;
        const std::string *value;
    } given[] = {{"--output", &t.output},     {"--csv", &t.csv},           {"--duration", &t.duration},
                 {"--broker", &t.broker},     {"--topic", &t.topic},       {"--client-id", &t.clientId},
                 {"--username", &t.username}, {"--password-file", &t.passwordFile}, {"--tls", &t.tlsCa},
                 {"--config", &t.config}};
    for (const auto &g : given)
        if (sub->get_option_no_throw(g.name) && sub->count(g.name) > 0 && g.value->empty())
            return args_usageError(err, command, "missing value after", g.name);
    // An empty port would reach the system's open as a name it cannot print.
    const int operands = command == CtlCommand::write || command == CtlCommand::diff ? 2 : 1;
    static const char *const EMPTY[][2] = {{"FILE.614 is empty", "second FILE.614 is empty"},
                                           {"PORT is empty", "FILE.614 is empty"}};
    // publish may go without PORT (--config names it), but not with an empty one.
    const bool portLeftOut = command == CtlCommand::publish && sub->count("PORT") == 0;
    for (int i = portLeftOut ? 1 : 0; i < operands; ++i)
        if (t.operands[i].empty())
            return args_usageError(err, command, EMPTY[portFirst ? 1 : 0][i], nullptr);
    // Without --config the command line says it all, as before there was one.
    if (command == CtlCommand::publish && t.config.empty()) {
        if (t.broker.empty())
            return args_usageError(err, command, "--broker is required", nullptr);
        if (portLeftOut && !(t.removeDiscovery && !t.topic.empty()))
            return args_usageError(err, command, "PORT is required", nullptr);
    }
    if (command == CtlCommand::publish) {
        args->publish.everyGiven = sub->count("--every") > 0;
        args->publish.qosGiven = sub->count("--qos") > 0;
        // "--discovery" alone takes Home Assistant's own prefix.
        if (sub->count("--discovery") > 0)
            args->publish.discovery =
                t.discovery.empty() ? DISCOVERY_DEFAULT_PREFIX : args_inArgv(argc, argv, t.discovery);
    }
    if (!t.duration.empty() && !args_parseSeconds(t.duration.c_str(), &args->durationMs))
        return args_usageError(err, command, "--duration needs seconds greater than 0, at most 3 decimals, not",
                               t.duration.c_str());
    if (command == CtlCommand::publish) {
        args->publish.port = args->port;
        args->publish.durationMs = args->durationMs;
    }
    return ParseOutcome::run;
}
