// k614ctl publish (Linux): the device's live data on an MQTT broker through libmosquitto.
//
// Two threads. The reader (the caller's, publish_reader.cpp) reads the line as `log` does and puts
// what it takes into the shared record: measurements and events into the
// bounded queue, the latest status, peaks and parameter set. The network
// thread owns the MQTT client: connects with a growing back-off, publishes
// from the record and takes an item out of the queue only once the client has
// confirmed that item's own message, matched by its message id (QoS 0:
// written to the socket; QoS 1: acknowledged). While the connection is up and
// nothing older waits to go, the reader publishes its fresh measurements on
// the network thread's client itself, so that a measurement wakes one thread,
// not two; the network thread then reads the acknowledgements a batch at a
// time and does all the rest. The reader never waits for the network: a slow
// or absent broker only fills the queue. The network thread never waits
// without a bound either: the connect is begun without blocking, and every
// wait ends at the drain's end once the reader has stopped.
#include "publish/publish_command.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cli/ctl_format.h"
#include "cli/exit_codes.h"
#include "publish/publish_config.h"
#include "publish/publish_core.h"
#include "publish/publish_discovery.h"
#include "publish/service_notify.h"
#include "k614_version.h"

static constexpr char TOOL[] = "k614ctl";
// The broker. libmosquitto takes no keep-alive under 5 s; a link that stops
// answering is found sooner by the acknowledgements: one outstanding for
// ACK_WAIT_MS drops the connection, and what it left unconfirmed goes again
// after the reconnect.
static constexpr int KEEPALIVE_S = 5;
static constexpr std::int64_t ACK_WAIT_MS = 3000;
// Shorter than the keep-alive, which libmosquitto also applies to the CONNECT.
static constexpr std::int64_t CONNACK_WAIT_MS = 4000;
static constexpr int BACKOFF_FIRST_MS = 250;
static constexpr int BACKOFF_MAX_MS = 4000;
// Queue items handed to the client and not yet confirmed; besides them, the retained state messages.
static constexpr int IN_FLIGHT_MAX = 100;
static constexpr int STATE_IN_FLIGHT_MAX = 16;
static constexpr int SENT_MAX = IN_FLIGHT_MAX + STATE_IN_FLIGHT_MAX;
static constexpr int ACKS_MAX = SENT_MAX + 8;
static constexpr std::int64_t DRAIN_MS = 5000;
static constexpr std::int64_t CLOSE_WAIT_MS = 1000;
static constexpr int NETWORK_POLL_MS = 200;
static constexpr std::int64_t ACK_LAZY_MS = 100;
static constexpr int EVENT_QOS = 1;
static constexpr int RETAINED_QOS = 1;
// The broker's refusals of the credentials; the others may pass and are retried.
static constexpr int CONNACK_BAD_CREDENTIALS = 4;
static constexpr int CONNACK_NOT_AUTHORISED = 5;
static constexpr std::size_t REFUSAL_SIZE = BROKER_HOST_SIZE + 200;
static constexpr char OFFLINE[] = "offline";
// --remove-discovery waits this long for the broker to confirm every empty config.
static constexpr std::int64_t REMOVE_WAIT_MS = 10000;
// The service manager's status line is looked at this often, and sent when it reads differently.
static constexpr std::int64_t STATUS_EVERY_MS = 1000;
static constexpr std::size_t STATUS_TEXT_SIZE = 192;

enum Topic { TOPIC_STATUS, TOPIC_MEASUREMENT, TOPIC_PEAKS, TOPIC_EVENT, TOPIC_PARAMETERS, TOPIC_COUNT };
static const char *const TOPIC_NAMES[TOPIC_COUNT] = {"status", "measurement", "peaks", "event", "parameters"};

// Every name at the length MQTT allows, so that none is ever cut short.
struct PublishConfig {
    char host[BROKER_HOST_SIZE];
    int port;
    char clientId[MQTT_STRING_MAX + 1];
    const char *username;
    char password[MQTT_STRING_MAX + 1];
    bool hasPassword;
    const char *tlsCaFile;
    int qos;
    char topics[TOPIC_COUNT][MQTT_STRING_MAX + 1];
    // Home Assistant's discovery: its prefix (nullptr: none), where each config goes, where Home Assistant
    // announces itself, and the relay's own prefix that the configs name.
    const char *discovery;
    char discoveryTopics[DISCOVERY_ENTITY_COUNT][DISCOVERY_TOPIC_SIZE];
    char discoveryStatus[DISCOVERY_TOPIC_SIZE];
    char relayPrefix[TOPIC_SIZE];
};

struct Connection;

// What the reader hands the network thread: the record, under `lock`. The same lock makes the reader and the
// network thread take turns with the client: while `client` is set, every call into it, and every look at
// the connection's table of messages awaiting confirmation, is made under the lock.
struct PublishShared {
    std::mutex lock;
    PublishRecord record;
    int wakeRead, wakeWrite; // a pipe: the reader's nudge
    Connection *client;      // the reader may publish on it; nullptr while it may not
    std::uint64_t readerSeq; // the queue's last item at the reader's previous turn
    // When the reader last published on the client itself.
    std::atomic<std::int64_t> readerPublishedAt;
    // From the network thread.
    std::atomic<bool> refused;
    // For the service manager's status line and its readiness.
    std::atomic<bool> connected, ready;
    std::atomic<std::uint64_t> published;
    char refusal[REFUSAL_SIZE];
    int refusalExit;
};

// One per process: the queue alone is ten minutes of measurements, the names 64 KiB each.
static PublishShared shared;
static PublishConfig config;

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

// ---- the service manager (nothing of this without NOTIFY_SOCKET) ----

// The reader's own: when it last fed the watchdog and what the status line last said.
struct ServiceNotice {
    bool enabled;
    std::int64_t watchdogMs, pingedAt, statusAt;
    char status[STATUS_TEXT_SIZE];
    const char *holdPath;
};
static ServiceNotice notice;

// "STATUS=line online, broker connected, 12 queued, 48210 published, 0 dropped"
static void service_statusText(char *out, std::size_t size)
{
    char line[PAYLOAD_SIZE];
    int queued;
    unsigned long long dropped;
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        formatStatusPayload(shared.record.status, 0, line, sizeof line);
        queued = shared.record.queue.count;
        dropped = shared.record.queue.dropped;
    }
    std::snprintf(out, size, "STATUS=line %s, broker %s, %d queued, %llu published, %llu dropped", line,
                  shared.connected ? "connected" : "not connected", queued,
                  static_cast<unsigned long long>(shared.published.load()), dropped);
}

// Once: the port is open (before the network thread starts) and the broker took the connection, or the
// first attempt failed; the queue works either way, so a broker down at the start does not hold up the service.
static void service_ready()
{
    if (!notice.enabled || shared.ready.exchange(true))
        return;
    char text[STATUS_TEXT_SIZE + 16] = "READY=1\n";
    service_statusText(text + std::strlen(text), sizeof text - std::strlen(text));
    notifyServiceManager(text);
}

// A test's hook: with K614CTL_TEST_HOLD_READER naming a path, a reader that finds a FIFO there is held in its
// open() until a writer comes, as a reader stuck in a call would be.
static void service_holdForTest()
{
    struct stat st;
    if (stat(notice.holdPath, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    const int fd = open(notice.holdPath, O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
}

// Each turn of the reader's loop: the watchdog is fed from here and from no timer, so that it stops being
// fed exactly when the reader is held; the status line goes when it changed, at most once a second.
static void service_turn(void *)
{
    if (notice.holdPath)
        service_holdForTest();
    if (!notice.enabled)
        return;
    const std::int64_t now = publish_nowMs();
    if (notice.watchdogMs > 0 && now - notice.pingedAt >= notice.watchdogMs) {
        notifyServiceManager("WATCHDOG=1");
        notice.pingedAt = now;
    }
    if (shared.ready && now - notice.statusAt >= STATUS_EVERY_MS) {
        notice.statusAt = now;
        char text[STATUS_TEXT_SIZE];
        service_statusText(text, sizeof text);
        if (std::strcmp(text, notice.status) != 0 && notifyServiceManager(text))
            std::memcpy(notice.status, text, sizeof text);
    }
}

// ---- the network thread ----

// A message handed to the client and not yet confirmed: a queue item (seq), or a state message (seq 0;
// a status carries the dropped items it reports, taken back should it never be confirmed).
struct SentMessage {
    int mid;
    std::uint64_t seq;
    std::uint64_t dropped;
    std::int64_t at;
};

struct Connection {
    struct mosquitto *mosq;
    int connack; // -1 before the broker's answer
    bool lost;
    bool tlsFailed;
    SentMessage sent[SENT_MAX];
    int sentCount, queueSent;
    // Mids the client confirmed since they were last looked at.
    int acked[ACKS_MAX];
    int ackedCount;
    int offlineMid; // the closing status message, 0 before it is sent
    std::int64_t nudgedAt; // the reader's last nudge
    std::int64_t loopedAt; // the client's loop last read the socket
    bool offlineConfirmed;
    char why[REFUSAL_SIZE]; // why the connection was lost, when known
    bool discoveryDue;                     // the configs are to go (again)
    char discoveryUnit[UNIT_STRING_SIZE];  // the unit text they were sent with
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
    // More cannot be outstanding; one lost here is found by its acknowledgement's wait.
    if (c->ackedCount < ACKS_MAX)
        c->acked[c->ackedCount++] = mid;
}

// Each confirmation takes out its own message, and nothing else. The caller holds shared.lock.
static void network_takeAcks(Connection *c)
{
    for (int a = 0; a < c->ackedCount; ++a) {
        const int mid = c->acked[a];
        if (mid == c->offlineMid)
            c->offlineConfirmed = true;
        for (int i = 0; i < c->sentCount; ++i) {
            if (c->sent[i].mid != mid)
                continue;
            if (c->sent[i].seq != 0) {
                confirmQueued(&shared.record.queue, c->sent[i].seq);
                --c->queueSent;
                ++shared.published;
            }
            c->sent[i] = c->sent[--c->sentCount];
            break;
        }
    }
    c->ackedCount = 0;
}

// The caller holds shared.lock.
static bool network_publish(Connection *c, const char *topic, const char *payload, int qos, bool retain,
                            std::uint64_t seq, std::uint64_t dropped)
{
    int mid = 0;
    const int rc =
        mosquitto_publish(c->mosq, &mid, topic, static_cast<int>(std::strlen(payload)), payload, qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        c->lost = true;
        return false;
    }
    c->sent[c->sentCount++] = {mid, seq, dropped, publish_nowMs()};
    c->queueSent += seq != 0;
    network_takeAcks(c);
    return true;
}

// Status, peaks and parameters when they changed (all of them after a connect), while there is room.
static void network_publishState(const PublishConfig &cfg, Connection *c)
{
    std::lock_guard<std::mutex> guard(shared.lock);
    if (c->sentCount - c->queueSent > STATE_IN_FLIGHT_MAX - TOPIC_COUNT)
        return;
    char status[PAYLOAD_SIZE], peaks[PAYLOAD_SIZE], parameters[PARAMETERS_JSON_SIZE];
    bool sendStatus, sendPeaks, sendParameters;
    std::uint64_t dropped = 0;
    {
        sendStatus = shared.record.statusChanged;
        sendPeaks = shared.record.peaksChanged && shared.record.peaksKnown;
        sendParameters = shared.record.parametersChanged && shared.record.parametersKnown;
        if (sendStatus) {
            dropped = shared.record.queue.dropped - shared.record.droppedReported;
            formatStatusPayload(shared.record.status, dropped, status, sizeof status);
            shared.record.droppedReported += dropped;
        }
        if (sendPeaks)
            formatPeaksPayload(shared.record.peaksAt, shared.record.maxPeak, shared.record.minPeak,
                               shared.record.dpdtPeak, peaks, sizeof peaks);
        if (sendParameters) {
            formatParametersJson(shared.record.parameters, parameters, sizeof parameters);
            // The device's name in Home Assistant is its unit text.
            char unit[UNIT_STRING_SIZE];
            unitTextOf(shared.record.parameters, unit);
            if (cfg.discovery && std::strcmp(unit, c->discoveryUnit) != 0)
                c->discoveryDue = true;
        }
        shared.record.statusChanged = shared.record.peaksChanged = shared.record.parametersChanged = false;
    }
    if (sendStatus && !network_publish(c, cfg.topics[TOPIC_STATUS], status, RETAINED_QOS, true, 0, dropped))
        shared.record.droppedReported -= dropped;
    if (sendPeaks)
        network_publish(c, cfg.topics[TOPIC_PEAKS], peaks, RETAINED_QOS, true, 0, 0);
    if (sendParameters)
        network_publish(c, cfg.topics[TOPIC_PARAMETERS], parameters, RETAINED_QOS, true, 0, 0);
}

// Home Assistant's configs, retained, while there is room among the state messages.
static void network_publishDiscovery(const PublishConfig &cfg, Connection *c)
{
    std::lock_guard<std::mutex> guard(shared.lock);
    if (!c->discoveryDue || c->sentCount - c->queueSent > STATE_IN_FLIGHT_MAX - DISCOVERY_ENTITY_COUNT)
        return;
    char unit[UNIT_STRING_SIZE] = "";
    if (shared.record.parametersKnown)
        unitTextOf(shared.record.parameters, unit);
    for (int e = 0; e < DISCOVERY_ENTITY_COUNT && !c->lost; ++e) {
        char payload[DISCOVERY_PAYLOAD_SIZE];
        if (formatDiscoveryConfig(cfg.relayPrefix, unit, K614_VERSION, static_cast<DiscoveryEntity>(e), payload,
                                  sizeof payload))
            network_publish(c, cfg.discoveryTopics[e], payload, RETAINED_QOS, true, 0, 0);
    }
    std::memcpy(c->discoveryUnit, unit, sizeof unit);
    c->discoveryDue = false;
}

// Home Assistant announces itself with "online" on its status topic: it has forgotten what it was told, or
// never heard it. A retained "online" is an old announcement, already answered by the configs of the connect.
static void network_onMessage(struct mosquitto *, void *context, const struct mosquitto_message *message)
{
    const std::size_t length = std::strlen(DISCOVERY_BIRTH);
    if (!message->retain && config.discovery && std::strcmp(message->topic, config.discoveryStatus) == 0 &&
        message->payloadlen == static_cast<int>(length) && std::memcmp(message->payload, DISCOVERY_BIRTH, length) == 0)
        static_cast<Connection *>(context)->discoveryDue = true;
}

// The next queue item, from seq `from` on, when the client holds fewer than IN_FLIGHT_MAX of them; false
// when there is none or an older one is still to go. The caller holds shared.lock; the item is handed out
// and published under that same hold, so that the items go out in their order, whichever thread sends them.
static bool network_publishNext(const PublishConfig &cfg, Connection *c, std::uint64_t from)
{
    QueuedItem item;
    if (c->queueSent >= IN_FLIGHT_MAX || c->lost || !nextQueued(shared.record.queue, &item) || item.seq < from)
        return false;
    markQueuedSent(&shared.record.queue, item.seq);
    char payload[PAYLOAD_SIZE];
    if (item.kind == QueuedKind::measurement) {
        formatMeasurementPayload(item.utcMs, item.value, payload, sizeof payload);
        return network_publish(c, cfg.topics[TOPIC_MEASUREMENT], payload, cfg.qos, false, item.seq, 0);
    }
    formatEventPayload(item.utcMs, static_cast<DeviceCode>(item.value), payload, sizeof payload);
    return network_publish(c, cfg.topics[TOPIC_EVENT], payload, EVENT_QOS, false, item.seq, 0);
}

// Queue items, oldest first, while the client holds fewer than IN_FLIGHT_MAX of them. The lock is taken
// per item: a long queue after a reconnect holds up the reader for one item at a time.
static void network_publishQueued(const PublishConfig &cfg, Connection *c)
{
    for (;;) {
        std::lock_guard<std::mutex> guard(shared.lock);
        if (!network_publishNext(cfg, c, 0))
            return;
    }
}

// The connection is over: its unconfirmed state messages take back the drops they reported, and its
// unconfirmed queue items go out again on the next one.
static void network_forget(Connection *c)
{
    std::lock_guard<std::mutex> guard(shared.lock);
    shared.client = nullptr;
    for (int i = 0; i < c->sentCount; ++i)
        shared.record.droppedReported -= c->sent[i].dropped;
    rewindQueued(&shared.record.queue);
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

// The reader's nudges are only a reason to look again.
// True when the reader had nudged. A pipe hands over all it holds up to the size asked for, so a read
// that comes back short has emptied it.
static bool network_takeNudges()
{
    char drain[64];
    ssize_t got = read(shared.wakeRead, drain, sizeof drain);
    const bool nudged = got > 0;
    while (got == static_cast<ssize_t>(sizeof drain))
        got = read(shared.wakeRead, drain, sizeof drain);
    return nudged;
}

// Waits for the reader's nudge, or for the socket, up to timeoutMs and lets the client work. Until the broker
// has taken the connection the client's own loop does it all (it also finishes a connect begun without
// blocking); after, this poll says what to do: read, write, or only look after the client's timers. While the
// reader publishes, itself or by nudges, the socket is read once per ACK_LAZY_MS: the broker's
// acknowledgements are then taken several at a time and the thread wakes about ten times a second, not once
// per message. The socket wakes the thread when the client has bytes to write, when it fails, and once the
// reader pauses.
static void network_service(Connection *c, int timeoutMs)
{
    int sock;
    bool wantWrite;
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        sock = mosquitto_socket(c->mosq);
        wantWrite = mosquitto_want_write(c->mosq);
    }
    const bool connected = c->connack == 0;
    const std::int64_t now = publish_nowMs();
    const std::int64_t readerAt = std::max(c->nudgedAt, shared.readerPublishedAt.load());
    const std::int64_t readIn = connected && now - readerAt < ACK_LAZY_MS ? c->loopedAt + ACK_LAZY_MS - now : 0;
    pollfd fds[2] = {{shared.wakeRead, POLLIN, 0}, {sock, readIn > 0 ? short(0) : short(POLLIN), 0}};
    if (wantWrite)
        fds[1].events |= POLLOUT;
    if (readIn > 0 && readIn < timeoutMs)
        timeoutMs = static_cast<int>(readIn);
    if (poll(fds, sock >= 0 ? 2 : 1, timeoutMs) > 0 && (fds[0].revents & POLLIN) && network_takeNudges())
        c->nudgedAt = publish_nowMs();
    const std::int64_t after = publish_nowMs();
    const bool readNow = (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) ||
                         (!(fds[1].events & POLLIN) && after - c->loopedAt >= ACK_LAZY_MS);
    std::lock_guard<std::mutex> guard(shared.lock);
    int rc = MOSQ_ERR_SUCCESS;
    if (!connected) {
        c->loopedAt = after;
        rc = mosquitto_loop(c->mosq, 0, 1);
    } else {
        if (readNow) {
            c->loopedAt = after;
            rc = mosquitto_loop_read(c->mosq, 1);
        }
        if (rc == MOSQ_ERR_SUCCESS && (fds[1].revents & POLLOUT))
            rc = mosquitto_loop_write(c->mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_loop_misc(c->mosq);
    }
    if (rc != MOSQ_ERR_SUCCESS && !c->why[0])
        std::snprintf(c->why, sizeof c->why, "%s",
                      rc == MOSQ_ERR_ERRNO       ? std::strerror(errno)
                      : rc == MOSQ_ERR_KEEPALIVE ? "no answer within the keep-alive time"
                                                 : mosquitto_strerror(rc));
    if (rc != MOSQ_ERR_SUCCESS)
        c->lost = true;
    if (rc == MOSQ_ERR_TLS)
        c->tlsFailed = true;
    network_takeAcks(c);
}

static void network_refuse(int exitCode, const char *why)
{
    std::snprintf(shared.refusal, sizeof shared.refusal, "%s", why);
    shared.refusalExit = exitCode;
    shared.refused = true;
}

enum class Session { lost, closed, refused };

// The oldest acknowledgement still awaited is older than ACK_WAIT_MS.
static bool network_ackOverdue(const Connection &c, std::int64_t now)
{
    for (int i = 0; i < c.sentCount; ++i)
        if (now - c.sent[i].at > ACK_WAIT_MS)
            return true;
    return false;
}

// One connection from the CONNECT to its loss or its clean end. A stop (drainUntil set) bounds every wait.
static Session network_session(const PublishConfig &cfg, Connection *c, std::int64_t *drainUntil, bool *down)
{
    const std::int64_t connackBy = publish_nowMs() + CONNACK_WAIT_MS;
    bool announced = false;
    std::int64_t closeBy = 0;
    for (;;) {
        if (c->connack == CONNACK_BAD_CREDENTIALS || c->connack == CONNACK_NOT_AUTHORISED) {
            char why[REFUSAL_SIZE];
            std::snprintf(why, sizeof why, "the broker %s:%d refused the connection: %s", cfg.host, cfg.port,
                          mosquitto_connack_string(c->connack));
            network_refuse(EXIT_BROKER_REFUSED, why);
            return Session::refused;
        }
        if (c->connack > 0) {
            std::snprintf(c->why, sizeof c->why, "refused the connection: %s",
                          mosquitto_connack_string(c->connack));
            return Session::lost;
        }
        if (c->tlsFailed) {
            char why[REFUSAL_SIZE];
            std::snprintf(why, sizeof why, "the TLS connection to %s:%d failed (certificate not trusted?)", cfg.host,
                          cfg.port);
            network_refuse(EXIT_BROKER_REFUSED, why);
            return Session::refused;
        }
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            if (c->lost)
                return Session::lost;
        }
        const std::int64_t now = publish_nowMs();
        const bool stopping = network_stopping();
        if (stopping && *drainUntil == 0)
            *drainUntil = now + DRAIN_MS;
        if (c->connack < 0 && (now > connackBy || (stopping && (now >= *drainUntil || network_queued() == 0)))) {
            std::snprintf(c->why, sizeof c->why, "no answer to the connection request");
            return Session::lost;
        }
        if (c->connack == 0) {
            if (!announced) {
                announced = true;
                if (*down)
                    std::fprintf(stderr, "%s: broker %s:%d: connected again\n", TOOL, cfg.host, cfg.port);
                *down = false;
                shared.connected = true;
                service_ready();
                if (cfg.discovery) {
                    c->discoveryDue = true;
                    mosquitto_subscribe(c->mosq, nullptr, cfg.discoveryStatus, RETAINED_QOS);
                }
                std::lock_guard<std::mutex> guard(shared.lock);
                shared.record.statusChanged = shared.record.peaksChanged = shared.record.parametersChanged = true;
                // Until the reader has stopped: the offline message is the connection's last.
                if (!shared.record.stopping)
                    shared.client = c;
            }
            bool overdue;
            {
                std::lock_guard<std::mutex> guard(shared.lock);
                overdue = network_ackOverdue(*c, now);
            }
            if (overdue) {
                std::snprintf(c->why, sizeof c->why, "no acknowledgement for %lld s, the link is given up",
                              static_cast<long long>(ACK_WAIT_MS / 1000));
                return Session::lost;
            }
            if (c->offlineMid == 0) {
                network_publishState(cfg, c);
                network_publishDiscovery(cfg, c);
                network_publishQueued(cfg, c);
            }
            if (stopping) {
                if (c->offlineMid == 0 && (network_queued() == 0 || now >= *drainUntil)) {
                    std::lock_guard<std::mutex> guard(shared.lock);
                    shared.client = nullptr;
                    int mid = 0;
                    if (mosquitto_publish(c->mosq, &mid, cfg.topics[TOPIC_STATUS],
                                          static_cast<int>(std::strlen(OFFLINE)), OFFLINE, RETAINED_QOS,
                                          true) == MOSQ_ERR_SUCCESS)
                        c->offlineMid = mid;
                    else
                        c->offlineMid = -1;
                    closeBy = now + CLOSE_WAIT_MS;
                }
                if (c->offlineMid != 0 && (c->offlineConfirmed || now >= closeBy)) {
                    std::lock_guard<std::mutex> guard(shared.lock);
                    mosquitto_disconnect(c->mosq);
                    return Session::closed;
                }
            }
        }
        network_service(c, NETWORK_POLL_MS);
    }
}

// Begins a connection without waiting for it: a broker that never answers, or an address that drops
// the attempt, then holds up nothing but this connection's own wait.
static bool network_connect(const PublishConfig &cfg, Connection *c, int *rc)
{
    c->connack = -1;
    c->mosq = mosquitto_new(cfg.clientId, true, c);
    if (!c->mosq) {
        *rc = MOSQ_ERR_NOMEM;
        return false;
    }
    mosquitto_connect_callback_set(c->mosq, network_onConnect);
    mosquitto_disconnect_callback_set(c->mosq, network_onDisconnect);
    mosquitto_publish_callback_set(c->mosq, network_onPublish);
    mosquitto_message_callback_set(c->mosq, network_onMessage);
    // Every message the queue hands out goes on the wire at once: none waits inside the client.
    mosquitto_int_option(c->mosq, MOSQ_OPT_SEND_MAXIMUM, SENT_MAX + 1);
    mosquitto_will_set(c->mosq, cfg.topics[TOPIC_STATUS], static_cast<int>(std::strlen(OFFLINE)), OFFLINE,
                       RETAINED_QOS, true);
    if (cfg.username &&
        (*rc = mosquitto_username_pw_set(c->mosq, cfg.username, cfg.hasPassword ? cfg.password : nullptr)) !=
            MOSQ_ERR_SUCCESS)
        return false;
    if (cfg.tlsCaFile && (*rc = mosquitto_tls_set(c->mosq, cfg.tlsCaFile, nullptr, nullptr, nullptr, nullptr)) !=
                             MOSQ_ERR_SUCCESS)
        return false;
    *rc = mosquitto_connect_async(c->mosq, cfg.host, cfg.port, KEEPALIVE_S);
    return *rc == MOSQ_ERR_SUCCESS;
}

// Waits ms, but not past *drainUntil (0: no bound yet; set when the reader stops), and not at all once
// stopped with nothing left to publish.
static void network_backOff(int ms, std::int64_t *drainUntil)
{
    pollfd fd = {shared.wakeRead, POLLIN, 0};
    const std::int64_t end = publish_nowMs() + ms;
    for (;;) {
        if (network_stopping()) {
            if (*drainUntil == 0)
                *drainUntil = publish_nowMs() + DRAIN_MS;
            if (network_queued() == 0)
                return;
        }
        const std::int64_t until = *drainUntil != 0 && *drainUntil < end ? *drainUntil : end;
        const std::int64_t left = until - publish_nowMs();
        if (left <= 0)
            return;
        if (poll(&fd, 1, static_cast<int>(left)) > 0)
            network_takeNudges();
    }
}

static void network_run(const PublishConfig *cfg)
{
    int backoff = BACKOFF_FIRST_MS;
    bool down = false; // the broker's absence was reported
    std::int64_t drainUntil = 0;
    static Connection c; // the acknowledgements' tables are large for a thread's stack
    for (;;) {
        if (network_stopping()) {
            if (drainUntil == 0)
                drainUntil = publish_nowMs() + DRAIN_MS;
            if (publish_nowMs() >= drainUntil || network_queued() == 0)
                break;
        }
        c = Connection{};
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
            network_refuse(EXIT_BROKER_REFUSED, why);
            session = Session::refused;
        } else if (rc == MOSQ_ERR_NOMEM || rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8) {
            // The names were checked at the start: the client refusing one now is not worth a retry.
            char why[REFUSAL_SIZE];
            std::snprintf(why, sizeof why, "the MQTT client takes neither the client id nor the user name: %s",
                          mosquitto_strerror(rc));
            network_refuse(EXIT_USAGE, why);
            session = Session::refused;
        }
        network_forget(&c);
        if (c.mosq)
            mosquitto_destroy(c.mosq);
        shared.connected = false;
        // A broker down at the start: ready all the same, the status line says so.
        if (session == Session::lost)
            service_ready();
        if (session != Session::lost)
            break;
        if (!down) {
            down = true;
            std::fprintf(stderr, "%s: broker %s:%d: %s; retrying, measurements are kept\n", TOOL, cfg->host,
                         cfg->port, c.why[0] ? c.why : rc == MOSQ_ERR_SUCCESS ? "connection lost" : mosquitto_strerror(rc));
        }
        network_backOff(backoff, &drainUntil);
        backoff = backoff * 2 < BACKOFF_MAX_MS ? backoff * 2 : BACKOFF_MAX_MS;
    }
}

// ---- the start ----

// The first line of the password file, or K614_MQTT_PASSWORD, whole: up to what MQTT carries, or refused.
static int publish_readPassword(const PublishOptions &options, PublishConfig *cfg, const CtlIo &io)
{
    cfg->hasPassword = false;
    // Under a service manager the password is a credential (LoadCredential=mqtt-password:...): a file of
    // the service's own, where the environment would show it to whoever may look at the process.
    const char *passwordFile = options.passwordFile;
    char credential[PATH_MAX];
    const char *credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (!passwordFile && credentials && credentials[0]) {
        std::snprintf(credential, sizeof credential, "%s/mqtt-password", credentials);
        if (access(credential, F_OK) == 0)
            passwordFile = credential;
    }
    const std::size_t room = sizeof cfg->password;
    if (passwordFile) {
        std::FILE *f = std::fopen(passwordFile, "rb");
        struct stat st;
        const bool directory = f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
        if (!f || directory) {
            std::fprintf(io.err, "%s: %s: cannot read the password file (%s)\n", TOOL, passwordFile,
                         std::strerror(directory ? EISDIR : errno));
            if (f)
                std::fclose(f);
            return EXIT_FILE_ERROR;
        }
        std::size_t length = 0;
        int ch;
        while ((ch = std::fgetc(f)) != EOF && ch != '\n' && length < room)
            cfg->password[length++] = static_cast<char>(ch);
        const bool readFailed = std::ferror(f);
        std::fclose(f);
        if (readFailed) {
            std::fprintf(io.err, "%s: %s: cannot read the password file\n", TOOL, passwordFile);
            return EXIT_FILE_ERROR;
        }
        if (length > 0 && cfg->password[length - 1] == '\r')
            --length;
        if (length > MQTT_STRING_MAX) {
            std::fprintf(io.err, "%s: %s: the password is longer than MQTT allows (%zu bytes)\n", TOOL,
                         passwordFile, MQTT_STRING_MAX);
            return EXIT_FILE_ERROR;
        }
        cfg->password[length] = 0;
        cfg->hasPassword = true;
        return EXIT_DONE;
    }
    const char *env = std::getenv("K614_MQTT_PASSWORD");
    if (env) {
        if (std::strlen(env) > MQTT_STRING_MAX) {
            std::fprintf(io.err, "%s publish: K614_MQTT_PASSWORD is longer than MQTT allows (%zu bytes)\n", TOOL,
                         MQTT_STRING_MAX);
            return EXIT_USAGE;
        }
        std::memcpy(cfg->password, env, std::strlen(env) + 1);
        cfg->hasPassword = true;
    }
    return EXIT_DONE;
}

// A name the broker cannot take ends publish here, with its reason; the name itself is shown only where
// it is the user's own text and not a secret.
static bool publish_nameTaken(const char *what, const char *text, bool topic, const CtlIo &io)
{
    const char *fault = mqttNameFault(text, topic);
    if (fault)
        std::fprintf(io.err, "%s publish: %s %s\nTry '%s publish --help'.\n", TOOL, what, fault, TOOL);
    return fault == nullptr;
}

static int publish_configure(const PublishOptions &options, PublishConfig *cfg, const CtlIo &io)
{
    if (!options.broker || (!options.port && !(options.removeDiscovery && options.topic))) {
        std::fprintf(io.err, "%s publish: %s is needed, on the command line or in --config\nTry '%s publish --help'.\n",
                     TOOL, options.broker ? "PORT" : "--broker HOST[:PORT]", TOOL);
        return EXIT_USAGE;
    }
    if (!parseBroker(options.broker, options.tlsCaFile != nullptr, cfg->host, &cfg->port)) {
        std::fprintf(io.err, "%s publish: --broker needs HOST or HOST:PORT, not '%s'\nTry '%s publish --help'.\n",
                     TOOL, options.broker, TOOL);
        return EXIT_USAGE;
    }
    char defaultPrefix[TOPIC_SIZE];
    defaultTopicPrefix(options.port ? options.port : "", defaultPrefix, sizeof defaultPrefix);
    const char *prefix = options.topic ? options.topic : defaultPrefix;
    if (!publish_nameTaken("the topic prefix", prefix, true, io))
        return EXIT_USAGE;
    for (int t = 0; t < TOPIC_COUNT; ++t)
        std::snprintf(cfg->topics[t], sizeof cfg->topics[t], "%s/%s", prefix, TOPIC_NAMES[t]);
    // The user's id is checked before it is copied, so that a longer one is refused, never cut.
    if (options.clientId && !publish_nameTaken("the client id", options.clientId, false, io))
        return EXIT_USAGE;
    if (options.clientId)
        std::snprintf(cfg->clientId, sizeof cfg->clientId, "%s", options.clientId);
    else
        std::snprintf(cfg->clientId, sizeof cfg->clientId, "k614ctl-%s", defaultPrefix + std::strlen("k614/"));
    cfg->username = options.username;
    if (cfg->username && !publish_nameTaken("the user name", cfg->username, false, io))
        return EXIT_USAGE;
    cfg->tlsCaFile = options.tlsCaFile;
    cfg->qos = options.qos;
    cfg->discovery = options.discovery         ? options.discovery
                     : options.removeDiscovery ? DISCOVERY_DEFAULT_PREFIX
                                               : nullptr;
    if (cfg->discovery) {
        if (!publish_nameTaken("the discovery prefix", cfg->discovery, true, io))
            return EXIT_USAGE;
        // The configs name the relay's prefix in their ids and topics, whole.
        bool fits = std::strlen(prefix) < sizeof cfg->relayPrefix && std::strlen(cfg->discovery) < TOPIC_SIZE;
        if (fits)
            std::snprintf(cfg->relayPrefix, sizeof cfg->relayPrefix, "%s", prefix);
        for (int e = 0; fits && e < DISCOVERY_ENTITY_COUNT; ++e)
            fits = formatDiscoveryTopic(cfg->discovery, prefix, static_cast<DiscoveryEntity>(e),
                                        cfg->discoveryTopics[e], sizeof cfg->discoveryTopics[e]);
        if (!fits) {
            std::fprintf(io.err, "%s publish: --discovery needs a topic prefix and a discovery prefix of less than"
                                 " %zu bytes each\nTry '%s publish --help'.\n", TOOL, TOPIC_SIZE, TOOL);
            return EXIT_USAGE;
        }
        std::snprintf(cfg->discoveryStatus, sizeof cfg->discoveryStatus, "%s/status", cfg->discovery);
    }
    const int password = publish_readPassword(options, cfg, io);
    if (password != EXIT_DONE)
        return password;
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

// The reader's news. Its fresh queue items go to the broker from the reader itself when the network thread
// has a connection up and no older item waits to go (the network thread's own turn, a backlog after a
// reconnect); everything else is the network thread's, nudged through the pipe: a changed status, peaks or
// parameters, a backlog, items beyond IN_FLIGHT_MAX, no connection, a publish that failed.
static void publish_fromReader(void *)
{
    bool nudge;
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        PublishRecord &record = shared.record;
        Connection *c = shared.client;
        const std::uint64_t from = shared.readerSeq + 1;
        shared.readerSeq = record.queue.lastSeq;
        while (c && network_publishNext(config, c, from)) {
        }
        QueuedItem next;
        nudge = !c || c->lost || record.statusChanged || record.peaksChanged || record.parametersChanged ||
                nextQueued(record.queue, &next);
    }
    if (nudge)
        publish_wake();
    else
        shared.readerPublishedAt = publish_nowMs();
}

static const PublishSinkOps SHARED_SINK = {
    nullptr,
    [](void *) { shared.lock.lock(); },
    [](void *) { shared.lock.unlock(); },
    publish_fromReader,
    [](void *) { return shared.refused.load(); },
    service_turn,
};

// --remove-discovery: empty retained configs in place of the relay's, each confirmed, on a connection of its
// own (a client id of the library's making, no last will), so that a relay publishing meanwhile keeps its own.
static int publish_removeDiscovery(const PublishConfig &cfg, const CtlOps &ops, const CtlIo &io)
{
    static Connection c;
    c = Connection{};
    c.connack = -1;
    shared.wakeRead = -1; // poll() passes over it: nothing nudges this connection
    ops.watchStopRequests(ops.context);
    mosquitto_lib_init();
    int rc = MOSQ_ERR_NOMEM;
    c.mosq = mosquitto_new(nullptr, true, &c);
    if (c.mosq) {
        mosquitto_connect_callback_set(c.mosq, network_onConnect);
        mosquitto_disconnect_callback_set(c.mosq, network_onDisconnect);
        mosquitto_publish_callback_set(c.mosq, network_onPublish);
        rc = MOSQ_ERR_SUCCESS;
        if (cfg.username)
            rc = mosquitto_username_pw_set(c.mosq, cfg.username, cfg.hasPassword ? cfg.password : nullptr);
        if (rc == MOSQ_ERR_SUCCESS && cfg.tlsCaFile)
            rc = mosquitto_tls_set(c.mosq, cfg.tlsCaFile, nullptr, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_connect_async(c.mosq, cfg.host, cfg.port, KEEPALIVE_S);
    }
    int result = EXIT_NOT_PUBLISHED;
    bool sent = false;
    const std::int64_t until = publish_nowMs() + REMOVE_WAIT_MS;
    while (rc == MOSQ_ERR_SUCCESS && !c.lost && c.connack <= 0 && publish_nowMs() < until &&
           !ops.stopRequested(ops.context)) {
        if (c.connack == 0 && !sent) {
            std::lock_guard<std::mutex> guard(shared.lock);
            for (int e = 0; e < DISCOVERY_ENTITY_COUNT; ++e)
                network_publish(&c, cfg.discoveryTopics[e], "", RETAINED_QOS, true, 0, 0);
            sent = true;
        }
        if (sent && c.sentCount == 0 && !c.lost) {
            result = EXIT_DONE;
            mosquitto_disconnect(c.mosq);
            break;
        }
        network_service(&c, NETWORK_POLL_MS);
    }
    if (c.connack == CONNACK_BAD_CREDENTIALS || c.connack == CONNACK_NOT_AUTHORISED || c.tlsFailed ||
        rc == MOSQ_ERR_TLS) {
        std::fprintf(io.err, "%s: the broker %s:%d refused the connection: %s\n", TOOL, cfg.host, cfg.port,
                     c.tlsFailed || rc == MOSQ_ERR_TLS ? "TLS failed" : mosquitto_connack_string(c.connack));
        result = EXIT_BROKER_REFUSED;
    } else if (result != EXIT_DONE) {
        std::fprintf(io.err, "%s: broker %s:%d: the discovery configs under %s/ were not all removed (%s)\n", TOOL,
                     cfg.host, cfg.port, cfg.discovery,
                     c.connack > 0             ? mosquitto_connack_string(c.connack)
                     : c.why[0]                ? c.why
                     : rc != MOSQ_ERR_SUCCESS  ? mosquitto_strerror(rc)
                                               : "no confirmation in time");
    }
    if (c.mosq)
        mosquitto_destroy(c.mosq);
    mosquitto_lib_cleanup();
    return result;
}

// Empty names and no options. Only the first byte of each name is written: the names have room for what MQTT
// allows, some 450 KiB in all, which stays shared zero pages until written; clearing them whole would make it
// all the process's own memory.
static void publish_clearConfig(PublishConfig *cfg)
{
    cfg->host[0] = cfg->clientId[0] = cfg->password[0] = 0;
    cfg->port = cfg->qos = 0;
    cfg->username = cfg->tlsCaFile = cfg->discovery = nullptr;
    cfg->hasPassword = false;
    for (char *topic : cfg->topics)
        topic[0] = 0;
    for (char *topic : cfg->discoveryTopics)
        topic[0] = 0;
    cfg->discoveryStatus[0] = cfg->relayPrefix[0] = 0;
}

int runPublish(const PublishOptions &given, const CtlOps &ops, const CtlIo &io)
{
    PublishOptions options = given;
    const int fromFile = applyPublishConfig(&options, io.err);
    if (fromFile != EXIT_DONE)
        return fromFile;
    PublishConfig &cfg = config;
    publish_clearConfig(&cfg);
    const int configured = publish_configure(options, &cfg, io);
    if (configured != EXIT_DONE)
        return configured;
    if (options.removeDiscovery)
        return publish_removeDiscovery(cfg, ops, io);
    const SerialOpenResult opened = ops.openLine(ops.context, options.port);
    if (opened != SerialOpenResult::ok)
        return openPortError(opened, options.port, io);

    int wake[2];
    if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        ops.closeLine(ops.context);
        std::fprintf(io.err, "%s: cannot make a pipe (%s)\n", TOOL, std::strerror(errno));
        return EXIT_FILE_ERROR;
    }
    resetPublishRecord(&shared.record);
    shared.wakeRead = wake[0];
    shared.wakeWrite = wake[1];
    shared.client = nullptr;
    shared.readerSeq = 0;
    shared.readerPublishedAt = 0;
    shared.refused = false;
    shared.connected = shared.ready = false;
    shared.published = 0;
    notice = ServiceNotice{};
    notice.enabled = std::getenv("NOTIFY_SOCKET") != nullptr;
    notice.watchdogMs = serviceWatchdogIntervalMs();
    notice.holdPath = std::getenv("K614CTL_TEST_HOLD_READER");
    shared.refusalExit = EXIT_DONE;
    // A broker that closes the socket must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    ops.watchStopRequests(ops.context);

    mosquitto_lib_init();
    std::thread network(network_run, &cfg);
    runPublishReader(options, ops, io, &shared.record, SHARED_SINK);
    if (notice.enabled)
        notifyServiceManager("STOPPING=1");
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
        return shared.refusalExit;
    }
    // Whatever is left, unconfirmed QoS 1 items among it, did not reach the broker.
    const int left = network_queued();
    if (left > 0) {
        std::fprintf(io.err, "%s: %d measurements and events could not be published\n", TOOL, left);
        return EXIT_NOT_PUBLISHED;
    }
    return EXIT_DONE;
}
