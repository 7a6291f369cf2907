// k614ctl publish without the broker: the queue of measurements and events, the payload texts, the broker address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/ctl_io.h"
#include "cli/ctl_ops.h"
#include "link/device_code.h"
#include "params/parameter_layout.h"
#include "publish/publish_options.h"

// ---- the queue: what the device sent, in order, until the broker has taken it ----

// Ten minutes at 50 measurements a second, with room for the events among them.
inline constexpr int PUBLISH_QUEUE_SIZE = 10 * 60 * 50 + 2048;

enum class QueuedKind : std::uint8_t { measurement, alarm, dvdt };

struct QueuedItem {
    std::int64_t utcMs; // when it was read from the line
    std::uint64_t seq;  // 1, 2, ... in the order read
    std::int32_t value; // the measurement, or the event's code
    QueuedKind kind;
    bool confirmed;     // its own acknowledgement came; it leaves once everything before it has
};

// A ring of the items not yet confirmed by the broker's side. Items from the
// head up to nextSeq have been handed to the MQTT client and wait for their
// own confirmation (a QoS 0 item is confirmed once written, a QoS 1 item by
// the broker's acknowledgement, in any order); a lost connection hands out
// again the unconfirmed ones. When the ring is full the oldest item goes,
// counted in dropped.
struct PublishQueue {
    QueuedItem items[PUBLISH_QUEUE_SIZE];
    int head;
    int count;
    std::uint64_t lastSeq; // of the latest item pushed
    std::uint64_t nextSeq; // the next item to hand out
    std::uint64_t dropped; // items dropped for room, ever
};

void resetPublishQueue(PublishQueue *queue);
void pushQueued(PublishQueue *queue, std::int64_t utcMs, QueuedKind kind, std::int32_t value);
// The next item to hand out; false when every item is out.
bool nextQueued(const PublishQueue &queue, QueuedItem *item);
// The item has been handed to the client (nextQueued gave it).
void markQueuedSent(PublishQueue *queue, std::uint64_t seq);
// The client confirmed seq, and seq alone; confirmed items leave the ring from its head.
void confirmQueued(PublishQueue *queue, std::uint64_t seq);
// The connection is gone: what was handed out and not confirmed goes out again, in order.
void rewindQueued(PublishQueue *queue);
// Handed out and not yet confirmed.
int queuedInFlight(const PublishQueue &queue);

// ---- payloads ----

inline constexpr std::size_t PAYLOAD_SIZE = 96;
// {"time":"2024-05-01T12:00:00.020Z","p":57}
void formatMeasurementPayload(std::int64_t utcMs, std::int32_t value, char *out, std::size_t size);
// {"time":"...","event":"alarm","code":65014} or {"time":"...","event":"dvdt"}
void formatEventPayload(std::int64_t utcMs, DeviceCode code, char *out, std::size_t size);
// {"time":"...","max":57,"min":12,"dpdt":null}: null for a peak not reported (NOT_REPORTED)
void formatPeaksPayload(std::int64_t utcMs, std::int32_t maxPeak, std::int32_t minPeak, std::int32_t dpdtPeak,
                        char *out, std::size_t size);

enum class LinkStatus { offline, online, silent };
// "online", "silent", "offline"; with " dropped=N" when N > 0.
void formatStatusPayload(LinkStatus status, std::uint64_t dropped, char *out, std::size_t size);

// The parameters' payload is the object 'read --json' prints (formatParametersJson).

// ---- what the reader hands the network side ----

struct PublishRecord {
    PublishQueue queue;
    LinkStatus status;
    bool statusChanged;
    std::uint64_t droppedReported; // queue.dropped up to the last status message
    std::int64_t peaksAt;          // UTC ms of the last change
    std::int32_t maxPeak, minPeak, dpdtPeak;
    bool peaksKnown, peaksChanged;
    ParameterSet parameters;
    bool parametersKnown, parametersChanged;
    bool stopping; // the reader is done: publish what is queued, then offline
};

// Status offline and changed, nothing else known, the queue empty.
void resetPublishRecord(PublishRecord *record);

// The reader's side of the record: its lock, a nudge for the network side,
// and whether the broker refused us (then the reader stops).
struct PublishSinkOps {
    void *context;
    void (*lock)(void *context);
    void (*unlock)(void *context);
    void (*wake)(void *context);
    bool (*refused)(void *context);
    // Once per turn of the reader's loop, whatever the line brought (nothing, from a silent device): the
    // service manager's watchdog is fed from here, so that a reader held in a call stops feeding it.
    // May be nullptr.
    void (*turn)(void *context);
};

// Reads the line, already open, until a stop request, the end of --duration
// or a refusal; puts what it reads into *record; a lost line is reopened once
// a second. Closes the line at the end. (publish_reader.cpp)
void runPublishReader(const PublishOptions &options, const CtlOps &ops, const CtlIo &io, PublishRecord *record,
                      const PublishSinkOps &sink);

// ---- the broker's address and the topics ----

inline constexpr int MQTT_PORT = 1883;
inline constexpr int MQTTS_PORT = 8883;
inline constexpr std::size_t BROKER_HOST_SIZE = 256;
// "HOST" or "HOST:PORT" ("[v6]:PORT" for an IPv6 address); false when it is not one.
bool parseBroker(const char *text, bool tls, char host[BROKER_HOST_SIZE], int *port);

inline constexpr std::size_t TOPIC_SIZE = 256;
// MQTT carries a topic, a client id, a user name and a password in at most this many bytes each.
inline constexpr std::size_t MQTT_STRING_MAX = 65535;
// The longest topic name added to the prefix: "/measurement".
inline constexpr std::size_t TOPIC_SUFFIX_MAX = 12;
// Why the broker could not take `text` as a topic prefix (topic true) or as a client id or user name: a
// short reason, or nullptr when it can. MQTT wants well-formed UTF-8 without U+0000, surrogates or control
// characters, and no + or # inside a topic name that is published to.
const char *mqttNameFault(const char *text, bool topic);
// The default prefix: "k614/" and the port's last path component (COM3, ttyUSB0).
void defaultTopicPrefix(const char *port, char *out, std::size_t size);
