// k614ctl publish (Linux): the device's live data on an MQTT broker through libmosquitto.
//
// Two threads. The reader (the caller's, publish_reader.cpp) reads the line as `log` does and puts
// what it takes into the shared record: measurements and events into the
// bounded queue, the latest status, peaks and parameter set. The network
// thread owns the MQTT client: connects with a growing back-off, publishes
// from the record and takes an item out of the queue only once the client has
// confirmed it (QoS 0: written to the socket; QoS 1: acknowledged). The
// reader never waits for the network: a slow or absent broker only fills the
// queue.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "cli/ctl_commands.h"
#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "cli/publish_core.h"

static constexpr char TOOL[] = "k614ctl";
// The broker.
static constexpr int KEEPALIVE_S = 10;
static constexpr int CONNACK_WAIT_MS = 10000;
static constexpr int BACKOFF_FIRST_MS = 250;
static constexpr int BACKOFF_MAX_MS = 4000;
static constexpr int IN_FLIGHT_MAX = 100;
static constexpr int ACKS_MAX = 256;
static constexpr std::int64_t DRAIN_MS = 5000;
static constexpr std::int64_t CLOSE_WAIT_MS = 1000;
static constexpr int NETWORK_POLL_MS = 500;
static constexpr int EVENT_QOS = 1;
static constexpr int RETAINED_QOS = 1;
static constexpr std::size_t PASSWORD_SIZE = 256;
static constexpr std::size_t REFUSAL_SIZE = BROKER_HOST_SIZE + 200;
// The prefix and "/parameters"; the client id "k614ctl-" and the port's name.
static constexpr std::size_t FULL_TOPIC_SIZE = TOPIC_SIZE + 16;
static constexpr char OFFLINE[] = "offline";

enum Topic { TOPIC_STATUS, TOPIC_MEASUREMENT, TOPIC_PEAKS, TOPIC_EVENT, TOPIC_PARAMETERS, TOPIC_COUNT };
static const char *const TOPIC_NAMES[TOPIC_COUNT] = {"status", "measurement", "peaks", "event", "parameters"};

struct PublishConfig {
    char host[BROKER_HOST_SIZE];
    int port;
    char clientId[FULL_TOPIC_SIZE];
    const char *username;
    char password[PASSWORD_SIZE];
    bool hasPassword;
    const char *tlsCaFile;
    int qos;
    char topics[TOPIC_COUNT][FULL_TOPIC_SIZE];
};

// What the reader hands the network thread: the record, under `lock`.
struct PublishShared {
    std::mutex lock;
    PublishRecord record;
    int wakeRead, wakeWrite; // a pipe: the reader's nudge
    // From the network thread.
    std::atomic<bool> refused;
    char refusal[REFUSAL_SIZE];
};

// One per process: the queue alone is ten minutes of measurements.
static PublishShared shared;

static std::int64_t publish_nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

static void publish_wake()
{
    const char nudge = 'x';
    // A full pipe has a nudge in it already.
    (void)!write(shared.wakeWrite, &nudge, 1);
}

// ---- the network thread ----

struct Connection {
    struct mosquitto *mosq;
    int connack; // -1 before the broker's answer
    bool lost;
    bool tlsFailed;
    // Measurements and events handed to the client, oldest first: (mid, seq).
    int inFlightMid[IN_FLIGHT_MAX];
    std::uint64_t inFlightSeq[IN_FLIGHT_MAX];
    int inFlightHead, inFlightCount;
    // Mids the client confirmed since they were last looked at.
    int acked[ACKS_MAX];
    int ackedCount;
    int offlineMid; // the closing status message, 0 before it is sent
    bool offlineConfirmed;
};

static void network_onConnect(struct mosquitto *, void *context, int rc)
{
    static_cast<Connection *>(context)->connack = rc;
}

static void network_onDisconnect(struct mosquitto *, void *context, int)
{
    static_cast<Connection *>(context)->lost = true;
}

static void network_onPublish(struct mosquitto *, void *context, int mid)
{
    Connection *c = static_cast<Connection *>(context);
    if (c->ackedCount < ACKS_MAX)
        c->acked[c->ackedCount++] = mid;
}

// Confirmations out of the callbacks: queue items leave, in order.
static void network_takeAcks(Connection *c)
{
    for (int a = 0; a < c->ackedCount; ++a) {
        const int mid = c->acked[a];
        if (mid == c->offlineMid)
            c->offlineConfirmed = true;
        for (int i = 0; i < c->inFlightCount; ++i) {
            const int at = (c->inFlightHead + i) % IN_FLIGHT_MAX;
            if (c->inFlightMid[at] != mid)
                continue;
            {
                std::lock_guard<std::mutex> guard(shared.lock);
                confirmQueued(&shared.record.queue, c->inFlightSeq[at]);
            }
            c->inFlightHead = (at + 1) % IN_FLIGHT_MAX;
            c->inFlightCount -= i + 1;
            break;
        }
    }
    c->ackedCount = 0;
}

static bool network_publish(Connection *c, const char *topic, const char *payload, int qos, bool retain, int *mid)
{
    const int rc =
        mosquitto_publish(c->mosq, mid, topic, static_cast<int>(std::strlen(payload)), payload, qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        c->lost = true;
    return rc == MOSQ_ERR_SUCCESS;
}

// Status, peaks and parameters when they changed (all of them after a connect).
static void network_publishState(const PublishConfig &cfg, Connection *c)
{
    char status[PAYLOAD_SIZE], peaks[PAYLOAD_SIZE], parameters[PARAMETERS_JSON_SIZE];
    bool sendStatus, sendPeaks, sendParameters;
    std::uint64_t dropped = 0;
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        sendStatus = shared.record.statusChanged;
        sendPeaks = shared.record.peaksChanged && shared.record.peaksKnown;
        sendParameters = shared.record.parametersChanged && shared.record.parametersKnown;
        if (sendStatus) {
            dropped = shared.record.queue.dropped - shared.record.droppedReported;
            formatStatusPayload(shared.record.status, dropped, status, sizeof status);
        }
        if (sendPeaks)
            formatPeaksPayload(shared.record.peaksAt, shared.record.maxPeak, shared.record.minPeak, shared.record.dpdtPeak, peaks, sizeof peaks);
        if (sendParameters)
            formatParametersJson(shared.record.parameters, parameters, sizeof parameters);
        shared.record.statusChanged = shared.record.peaksChanged = shared.record.parametersChanged = false;
    }
    if (sendStatus && network_publish(c, cfg.topics[TOPIC_STATUS], status, RETAINED_QOS, true, nullptr)) {
        std::lock_guard<std::mutex> guard(shared.lock);
        shared.record.droppedReported += dropped;
    }
    if (sendPeaks)
        network_publish(c, cfg.topics[TOPIC_PEAKS], peaks, RETAINED_QOS, true, nullptr);
    if (sendParameters)
        network_publish(c, cfg.topics[TOPIC_PARAMETERS], parameters, RETAINED_QOS, true, nullptr);
}

// Queue items, oldest first, while the client holds fewer than IN_FLIGHT_MAX of them.
static void network_publishQueued(const PublishConfig &cfg, Connection *c)
{
    while (c->inFlightCount < IN_FLIGHT_MAX && !c->lost) {
        QueuedItem item;
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            if (!nextQueued(shared.record.queue, &item))
                return;
            markQueuedSent(&shared.record.queue, item.seq);
        }
        char payload[PAYLOAD_SIZE];
        int mid = 0;
        bool sent;
        if (item.kind == QueuedKind::measurement) {
            formatMeasurementPayload(item.utcMs, item.value, payload, sizeof payload);
            sent = network_publish(c, cfg.topics[TOPIC_MEASUREMENT], payload, cfg.qos, false, &mid);
        } else {
            formatEventPayload(item.utcMs, static_cast<DeviceCode>(item.value), payload, sizeof payload);
            sent = network_publish(c, cfg.topics[TOPIC_EVENT], payload, EVENT_QOS, false, &mid);
        }
        if (!sent)
            return;
        const int at = (c->inFlightHead + c->inFlightCount++) % IN_FLIGHT_MAX;
        c->inFlightMid[at] = mid;
        c->inFlightSeq[at] = item.seq;
        network_takeAcks(c);
    }
}

static bool network_stopping()
{
    std::lock_guard<std::mutex> guard(shared.lock);
    return shared.record.stopping;
}

static int network_queued()
{
    std::lock_guard<std::mutex> guard(shared.lock);
    return shared.record.queue.count;
}

// Waits for the socket (or the reader's nudge) up to timeoutMs and lets the client work.
static void network_service(Connection *c, int timeoutMs)
{
    const int sock = mosquitto_socket(c->mosq);
    pollfd fds[2] = {{shared.wakeRead, POLLIN, 0}, {sock, POLLIN, 0}};
    if (mosquitto_want_write(c->mosq))
        fds[1].events |= POLLOUT;
    const int ready = poll(fds, sock >= 0 ? 2 : 1, timeoutMs);
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        char drain[64];
        while (read(shared.wakeRead, drain, sizeof drain) > 0) {
        }
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (ready > 0 && sock >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
        rc = mosquitto_loop_read(c->mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(c->mosq))
        rc = mosquitto_loop_write(c->mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_loop_misc(c->mosq);
    if (rc != MOSQ_ERR_SUCCESS)
        c->lost = true;
    if (rc == MOSQ_ERR_TLS)
        c->tlsFailed = true;
    network_takeAcks(c);
}

static void network_refuse(const char *why)
{
    std::snprintf(shared.refusal, sizeof shared.refusal, "%s", why);
    shared.refused = true;
}

enum class Session { lost, closed, refused };

// One connection from the CONNECT to its loss or its clean end.
static Session network_session(const PublishConfig &cfg, Connection *c, std::int64_t *drainUntil, bool *down)
{
    const std::int64_t connackBy = publish_nowMs() + CONNACK_WAIT_MS;
    bool announced = false;
    std::int64_t closeBy = 0;
    for (;;) {
        if (c->connack > 0) {
            char why[REFUSAL_SIZE];
            std::snprintf(why, sizeof why, "the broker %s:%d refused the connection: %s", cfg.host, cfg.port,
                          mosquitto_connack_string(c->connack));
            network_refuse(why);
            return Session::refused;
        }
        if (c->tlsFailed) {
            char why[REFUSAL_SIZE];
            std::snprintf(why, sizeof why, "the TLS connection to %s:%d failed (certificate not trusted?)", cfg.host,
                          cfg.port);
            network_refuse(why);
            return Session::refused;
        }
        if (c->lost)
            return Session::lost;
        const std::int64_t now = publish_nowMs();
        if (c->connack < 0 && now > connackBy)
            return Session::lost;
        if (c->connack == 0) {
            if (!announced) {
                announced = true;
                if (*down)
                    std::fprintf(stderr, "%s: broker %s:%d: connected again\n", TOOL, cfg.host, cfg.port);
                *down = false;
                std::lock_guard<std::mutex> guard(shared.lock);
                shared.record.statusChanged = shared.record.peaksChanged = shared.record.parametersChanged = true;
            }
            if (c->offlineMid == 0) {
                network_publishState(cfg, c);
                network_publishQueued(cfg, c);
            }
            if (network_stopping()) {
                if (*drainUntil == 0)
                    *drainUntil = now + DRAIN_MS;
                if (c->offlineMid == 0 && (network_queued() == 0 || now >= *drainUntil)) {
                    network_publish(c, cfg.topics[TOPIC_STATUS], OFFLINE, RETAINED_QOS, true, &c->offlineMid);
                    closeBy = now + CLOSE_WAIT_MS;
                }
                if (c->offlineMid != 0 && (c->offlineConfirmed || now >= closeBy)) {
                    mosquitto_disconnect(c->mosq);
                    return Session::closed;
                }
            }
        }
        network_service(c, NETWORK_POLL_MS);
    }
}

static bool network_connect(const PublishConfig &cfg, Connection *c, int *rc)
{
    *c = Connection{};
    c->connack = -1;
    c->mosq = mosquitto_new(cfg.clientId, true, c);
    if (!c->mosq) {
        *rc = MOSQ_ERR_NOMEM;
        return false;
    }
    mosquitto_connect_callback_set(c->mosq, network_onConnect);
    mosquitto_disconnect_callback_set(c->mosq, network_onDisconnect);
    mosquitto_publish_callback_set(c->mosq, network_onPublish);
    mosquitto_will_set(c->mosq, cfg.topics[TOPIC_STATUS], static_cast<int>(std::strlen(OFFLINE)), OFFLINE,
                       RETAINED_QOS, true);
    if (cfg.username)
        mosquitto_username_pw_set(c->mosq, cfg.username, cfg.hasPassword ? cfg.password : nullptr);
    if (cfg.tlsCaFile && (*rc = mosquitto_tls_set(c->mosq, cfg.tlsCaFile, nullptr, nullptr, nullptr, nullptr)) !=
                             MOSQ_ERR_SUCCESS)
        return false;
    *rc = mosquitto_connect(c->mosq, cfg.host, cfg.port, KEEPALIVE_S);
    return *rc == MOSQ_ERR_SUCCESS;
}

// Waits ms, but not past *drainUntil (0: no bound yet; set when the reader stops); the reader's
// nudges are taken and ignored.
static void network_backOff(int ms, std::int64_t *drainUntil)
{
    pollfd fd = {shared.wakeRead, POLLIN, 0};
    std::int64_t until = publish_nowMs() + ms;
    for (std::int64_t left = ms; left > 0; left = until - publish_nowMs()) {
        if (poll(&fd, 1, static_cast<int>(left)) > 0) {
            char drain[64];
            while (read(shared.wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (*drainUntil == 0 && network_stopping())
            *drainUntil = publish_nowMs() + DRAIN_MS;
        if (*drainUntil != 0 && *drainUntil < until)
            until = *drainUntil;
    }
}

static void network_run(const PublishConfig *cfg)
{
    int backoff = BACKOFF_FIRST_MS;
    bool down = false; // the broker's absence was reported
    std::int64_t drainUntil = 0;
    for (;;) {
        if (network_stopping()) {
            if (drainUntil == 0)
                drainUntil = publish_nowMs() + DRAIN_MS;
            if (publish_nowMs() >= drainUntil)
                break;
        }
        Connection c;
        int rc = MOSQ_ERR_SUCCESS;
        Session session = Session::lost;
        if (network_connect(*cfg, &c, &rc)) {
            session = network_session(*cfg, &c, &drainUntil, &down);
            if (c.connack == 0)
                backoff = BACKOFF_FIRST_MS;
        } else if (rc == MOSQ_ERR_TLS) {
            char why[REFUSAL_SIZE];
            std::snprintf(why, sizeof why, "the TLS connection to %s:%d failed (certificate not trusted?)",
                          cfg->host, cfg->port);
            network_refuse(why);
            session = Session::refused;
        }
        if (c.mosq)
            mosquitto_destroy(c.mosq);
        if (session != Session::lost)
            break;
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            rewindQueued(&shared.record.queue);
        }
        if (!down) {
            down = true;
            std::fprintf(stderr, "%s: broker %s:%d: %s; retrying, measurements are kept\n", TOOL, cfg->host,
                         cfg->port, rc == MOSQ_ERR_SUCCESS ? "connection lost" : mosquitto_strerror(rc));
        }
        network_backOff(backoff, &drainUntil);
        backoff = backoff * 2 < BACKOFF_MAX_MS ? backoff * 2 : BACKOFF_MAX_MS;
    }
    const int left = network_queued();
    if (left > 0 && !shared.refused)
        std::fprintf(stderr, "%s: %d measurements and events could not be published\n", TOOL, left);
}

// ---- the reader ----

static bool publish_readPassword(const CtlArgs &args, PublishConfig *cfg, const CtlIo &io)
{
    cfg->hasPassword = false;
    if (args.passwordFile) {
        std::FILE *f = std::fopen(args.passwordFile, "rb");
        if (!f) {
            std::fprintf(io.err, "%s: %s: cannot open the password file (%s)\n", TOOL, args.passwordFile,
                         std::strerror(errno));
            return false;
        }
        if (!std::fgets(cfg->password, sizeof cfg->password, f))
            cfg->password[0] = 0;
        std::fclose(f);
        cfg->password[std::strcspn(cfg->password, "\r\n")] = 0;
        cfg->hasPassword = true;
        return true;
    }
    const char *env = std::getenv("K614_MQTT_PASSWORD");
    if (env) {
        std::snprintf(cfg->password, sizeof cfg->password, "%s", env);
        cfg->hasPassword = true;
    }
    return true;
}

static int publish_configure(const CtlArgs &args, PublishConfig *cfg, const CtlIo &io)
{
    *cfg = PublishConfig{};
    if (!parseBroker(args.broker, args.tlsCaFile != nullptr, cfg->host, &cfg->port)) {
        std::fprintf(io.err, "%s publish: --broker needs HOST or HOST:PORT, not '%s'\nTry '%s publish --help'.\n",
                     TOOL, args.broker, TOOL);
        return EXIT_USAGE;
    }
    char prefix[TOPIC_SIZE];
    if (args.topic)
        std::snprintf(prefix, sizeof prefix, "%s", args.topic);
    else
        defaultTopicPrefix(args.port, prefix, sizeof prefix);
    for (int t = 0; t < TOPIC_COUNT; ++t)
        std::snprintf(cfg->topics[t], FULL_TOPIC_SIZE, "%s/%s", prefix, TOPIC_NAMES[t]);
    if (args.clientId) {
        std::snprintf(cfg->clientId, sizeof cfg->clientId, "%s", args.clientId);
    } else {
        char base[TOPIC_SIZE];
        defaultTopicPrefix(args.port, base, sizeof base);
        std::snprintf(cfg->clientId, sizeof cfg->clientId, "k614ctl-%s", base + std::strlen("k614/"));
    }
    cfg->username = args.username;
    cfg->tlsCaFile = args.tlsCaFile;
    cfg->qos = args.qos;
    if (!publish_readPassword(args, cfg, io))
        return EXIT_FILE_ERROR;
    if (cfg->tlsCaFile) {
        std::FILE *ca = std::fopen(cfg->tlsCaFile, "rb");
        if (!ca) {
            std::fprintf(io.err, "%s: %s: cannot open the CA file (%s)\n", TOOL, cfg->tlsCaFile,
                         std::strerror(errno));
            return EXIT_FILE_ERROR;
        }
        std::fclose(ca);
    }
    return EXIT_DONE;
}

static const PublishSinkOps SHARED_SINK = {
    nullptr,
    [](void *) { shared.lock.lock(); },
    [](void *) { shared.lock.unlock(); },
    [](void *) { publish_wake(); },
    [](void *) { return shared.refused.load(); },
};

int runPublish(const CtlArgs &args, const CtlOps &ops, const CtlIo &io)
{
    PublishConfig cfg;
    const int configured = publish_configure(args, &cfg, io);
    if (configured != EXIT_DONE)
        return configured;
    const SerialOpenResult opened = ops.openLine(ops.context, args.port);
    if (opened != SerialOpenResult::ok)
        return openPortError(opened, args.port, io);

    int wake[2];
    if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        ops.closeLine(ops.context);
        std::fprintf(io.err, "%s: cannot make a pipe (%s)\n", TOOL, std::strerror(errno));
        return EXIT_FILE_ERROR;
    }
    resetPublishRecord(&shared.record);
    shared.wakeRead = wake[0];
    shared.wakeWrite = wake[1];
    shared.refused = false;
    // A broker that closes the socket must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    ops.watchStopRequests(ops.context);

    mosquitto_lib_init();
    std::thread network(network_run, &cfg);
    runPublishReader(args, ops, io, &shared.record, SHARED_SINK);
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        shared.record.stopping = true;
        shared.record.status = LinkStatus::offline;
    }
    publish_wake();
    network.join();
    mosquitto_lib_cleanup();
    close(wake[0]);
    close(wake[1]);
    if (shared.refused) {
        std::fprintf(io.err, "%s: %s\n", TOOL, shared.refusal);
        return EXIT_BROKER_REFUSED;
    }
    return EXIT_DONE;
}
