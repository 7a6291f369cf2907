// k614ctl publish's configuration file: read whole, checked line by line, each refusal naming its file and line.
#include "publish/publish_config.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/exit_codes.h"
#include "publish/publish_core.h"

static constexpr char TOOL[] = "k614ctl";
static const char *const KEY_NAMES[CONFIG_KEY_COUNT] = {
    "port", "broker", "topic", "client-id", "username", "password-file", "tls", "qos", "every", "discovery",
};

static bool config_isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// A whole number from..to, digits only: "1.0", "+1" and "1 x" are not one.
static bool config_number(const char *text, int from, int to, int *value)
{
    long long n = 0;
    if (*text == 0)
        return false;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || n > to)
            return false;
        n = n * 10 + (*p - '0');
    }
    if (n < from || n > to)
        return false;
    *value = static_cast<int>(n);
    return true;
}

// Why value cannot be the key's, or nullptr when it can.
static const char *config_valueFault(PublishConfigKey key, const char *value, PublishConfigFile *out)
{
    switch (key) {
    case CONFIG_BROKER: {
        char host[BROKER_HOST_SIZE];
        int port;
        return parseBroker(value, false, host, &port) ? nullptr : "needs HOST or HOST:PORT";
    }
    case CONFIG_TOPIC:
    case CONFIG_DISCOVERY:
        // A prefix is published under: a wildcard in it would be a subscription's, not a name.
        return mqttNameFault(value, true);
    case CONFIG_CLIENT_ID:
    case CONFIG_USERNAME:
        return mqttNameFault(value, false);
    case CONFIG_QOS:
        return config_number(value, 0, 1, &out->qos) ? nullptr : "needs 0 or 1";
    case CONFIG_EVERY:
        return config_number(value, 1, PUBLISH_EVERY_MAX, &out->every) ? nullptr : "needs a whole number from 1";
    default:
        return nullptr;
    }
}

static bool config_refuse(char *message, std::size_t size, const char *name, int line, const char *why,
                          const char *what)
{
    std::snprintf(message, size, "%s:%d: %s%s%s", name, line, why, what ? " " : "", what ? what : "");
    return false;
}

bool parsePublishConfig(const char *name, const char *text, std::size_t length, PublishConfigFile *out,
                        char *message, std::size_t messageSize)
{
    *out = PublishConfigFile{};
    int lineNumber = 0;
    for (std::size_t at = 0; at < length;) {
        ++lineNumber;
        const char *end = static_cast<const char *>(std::memchr(text + at, '\n', length - at));
        const std::size_t lineLength = (end ? static_cast<std::size_t>(end - text) : length) - at;
        const char *line = text + at;
        at += lineLength + 1;
        if (std::memchr(line, 0, lineLength))
            return config_refuse(message, messageSize, name, lineNumber, "holds a NUL byte", nullptr);
        if (lineLength >= CONFIG_LINE_SIZE)
            return config_refuse(message, messageSize, name, lineNumber, "is longer than 1023 bytes", nullptr);
        char copy[CONFIG_LINE_SIZE];
        std::memcpy(copy, line, lineLength);
        copy[lineLength] = 0;
        char *p = copy;
        while (config_isBlank(*p))
            ++p;
        if (*p == 0 || *p == '#')
            continue;
        char *equals = std::strchr(p, '=');
        if (!equals)
            return config_refuse(message, messageSize, name, lineNumber, "needs key = value, not", p);
        char *keyEnd = equals;
        while (keyEnd > p && config_isBlank(keyEnd[-1]))
            --keyEnd;
        *keyEnd = 0;
        char *value = equals + 1;
        while (config_isBlank(*value))
            ++value;
        char *valueEnd = value + std::strlen(value);
        while (valueEnd > value && config_isBlank(valueEnd[-1]))
            --valueEnd;
        *valueEnd = 0;

        int key = 0;
        while (key < CONFIG_KEY_COUNT && std::strcmp(p, KEY_NAMES[key]) != 0)
            ++key;
        if (key == CONFIG_KEY_COUNT)
            return config_refuse(message, messageSize, name, lineNumber, "unknown key", p);
        if (out->given[key])
            return config_refuse(message, messageSize, name, lineNumber, "a second value for", p);
        if (*value == 0)
            return config_refuse(message, messageSize, name, lineNumber, "no value for", p);
        const char *fault = config_valueFault(static_cast<PublishConfigKey>(key), value, out);
        if (fault) {
            char why[CONFIG_LINE_SIZE + 64];
            std::snprintf(why, sizeof why, "%s '%s' %s", p, value, fault);
            return config_refuse(message, messageSize, name, lineNumber, why, nullptr);
        }
        out->given[key] = true;
        std::memcpy(out->values[key], value, static_cast<std::size_t>(valueEnd - value) + 1);
    }
    return true;
}

// The descriptor of one read, closed on every way out.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    ScopedFd(const ScopedFd &) = delete;
    ScopedFd &operator=(const ScopedFd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int readPublishConfig(const char *path, PublishConfigFile *out, std::FILE *err)
{
    // A FIFO would hold the open (and the service's start) for ever: opened without blocking, looked at first.
    const ScopedFd fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        std::fprintf(err, "%s: %s: cannot open the configuration (%s)\n", TOOL, path, std::strerror(errno));
        return EXIT_FILE_ERROR;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(CONFIG_FILE_MAX)) {
        std::fprintf(err, "%s: %s: %s\n", TOOL, path,
                     S_ISREG(st.st_mode) ? "the configuration is larger than 64 KiB" : "is not a regular file");
        return EXIT_FILE_ERROR;
    }
    // One more byte than the file may hold tells a file that grew since.
    static char text[CONFIG_FILE_MAX + 1];
    std::size_t length = 0;
    for (;;) {
        const ssize_t got = read(fd.get(), text + length, sizeof text - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            std::fprintf(err, "%s: %s: cannot read the configuration (%s)\n", TOOL, path, std::strerror(errno));
            return EXIT_FILE_ERROR;
        }
        length += static_cast<std::size_t>(got);
        if (got == 0 || length == sizeof text)
            break;
    }
    if (length > CONFIG_FILE_MAX) {
        std::fprintf(err, "%s: %s: the configuration is larger than 64 KiB\n", TOOL, path);
        return EXIT_FILE_ERROR;
    }
    char message[CONFIG_MESSAGE_SIZE];
    if (!parsePublishConfig(path, text, length, out, message, sizeof message)) {
        std::fprintf(err, "%s: %s\n", TOOL, message);
        return EXIT_USAGE;
    }
    return EXIT_DONE;
}

// One file per run: the strings the options point into.
static PublishConfigFile applied;

int applyPublishConfig(PublishOptions *options, std::FILE *err)
{
    if (!options->configFile)
        return EXIT_DONE;
    const int read = readPublishConfig(options->configFile, &applied, err);
    if (read != EXIT_DONE)
        return read;
    struct {
        PublishConfigKey key;
        const char **field;
    } const strings[] = {
        {CONFIG_PORT, &options->port},         {CONFIG_BROKER, &options->broker},
        {CONFIG_TOPIC, &options->topic},       {CONFIG_CLIENT_ID, &options->clientId},
        {CONFIG_USERNAME, &options->username}, {CONFIG_PASSWORD_FILE, &options->passwordFile},
        {CONFIG_TLS, &options->tlsCaFile},     {CONFIG_DISCOVERY, &options->discovery},
    };
    for (const auto &s : strings)
        if (!*s.field && applied.given[s.key])
            *s.field = applied.values[s.key];
    if (!options->qosGiven && applied.given[CONFIG_QOS])
        options->qos = applied.qos;
    if (!options->everyGiven && applied.given[CONFIG_EVERY])
        options->every = applied.every;
    return EXIT_DONE;
}
