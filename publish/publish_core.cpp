// k614ctl publish's portable part: the bounded queue, the payload texts, the broker address and topic prefix.
#include "publish/publish_core.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/ctl_format.h"
#include "cli/line_record.h"

void resetPublishQueue(PublishQueue *queue)
{
    queue->head = 0;
    queue->count = 0;
    queue->lastSeq = 0;
    queue->nextSeq = 1;
    queue->dropped = 0;
}

static QueuedItem &queue_at(PublishQueue *queue, int i)
{
    return queue->items[(queue->head + i) % PUBLISH_QUEUE_SIZE];
}

static const QueuedItem &queue_at(const PublishQueue &queue, int i)
{
    return queue.items[(queue.head + i) % PUBLISH_QUEUE_SIZE];
}

// An emptied ring starts again at its first item: while the broker keeps up, a publisher touches only the
// ring's first pages, and the rest of its ten minutes becomes memory only while the broker is away.
static void queue_popHead(PublishQueue *queue)
{
    queue->head = (queue->head + 1) % PUBLISH_QUEUE_SIZE;
    if (--queue->count == 0)
        queue->head = 0;
}

void pushQueued(PublishQueue *queue, std::int64_t utcMs, QueuedKind kind, std::int32_t value)
{
    if (queue->count == PUBLISH_QUEUE_SIZE) {
        queue_popHead(queue);
        ++queue->dropped;
    }
    QueuedItem &item = queue_at(queue, queue->count++);
    item = {utcMs, ++queue->lastSeq, value, kind, false};
}

bool nextQueued(const PublishQueue &queue, QueuedItem *item)
{
    if (queue.count == 0 || queue.nextSeq > queue.lastSeq)
        return false;
    // Items dropped for room may have been the next ones: then the head is.
    const std::uint64_t headSeq = queue_at(queue, 0).seq;
    // After a rewind, items confirmed before the connection went are not sent again.
    for (std::uint64_t seq = queue.nextSeq > headSeq ? queue.nextSeq : headSeq; seq <= queue.lastSeq; ++seq) {
        const QueuedItem &at = queue_at(queue, static_cast<int>(seq - headSeq));
        if (!at.confirmed) {
            *item = at;
            return true;
        }
    }
    return false;
}

void markQueuedSent(PublishQueue *queue, std::uint64_t seq)
{
    queue->nextSeq = seq + 1;
}

void confirmQueued(PublishQueue *queue, std::uint64_t seq)
{
    if (queue->count == 0)
        return;
    const std::uint64_t headSeq = queue_at(queue, 0).seq;
    // An item dropped for room meanwhile has nothing left to confirm.
    if (seq < headSeq || seq > queue->lastSeq)
        return;
    queue_at(queue, static_cast<int>(seq - headSeq)).confirmed = true;
    while (queue->count > 0 && queue_at(queue, 0).confirmed)
        queue_popHead(queue);
}

void rewindQueued(PublishQueue *queue)
{
    queue->nextSeq = queue->count > 0 ? queue_at(queue, 0).seq : queue->lastSeq + 1;
}

int queuedInFlight(const PublishQueue &queue)
{
    if (queue.count == 0)
        return 0;
    const std::uint64_t headSeq = queue_at(queue, 0).seq;
    return queue.nextSeq > headSeq ? static_cast<int>(queue.nextSeq - headSeq) : 0;
}

void resetPublishRecord(PublishRecord *record)
{
    resetPublishQueue(&record->queue);
    record->status = LinkStatus::offline;
    record->statusChanged = true;
    record->droppedReported = 0;
    record->peaksAt = 0;
    record->maxPeak = record->minPeak = record->dpdtPeak = NOT_REPORTED;
    record->peaksKnown = record->peaksChanged = false;
    record->parameters = ParameterSet{};
    record->parametersKnown = record->parametersChanged = false;
    record->stopping = false;
}

// ---- payloads ----

void formatMeasurementPayload(std::int64_t utcMs, std::int32_t value, char *out, std::size_t size)
{
    char time[TIMESTAMP_SIZE];
    formatUtcTimestamp(utcMs, time);
    std::snprintf(out, size, "{\"time\":\"%s\",\"p\":%d}", time, static_cast<int>(value));
}

void formatEventPayload(std::int64_t utcMs, DeviceCode code, char *out, std::size_t size)
{
    char time[TIMESTAMP_SIZE];
    formatUtcTimestamp(utcMs, time);
    if (code == STATUS_DVDT)
        std::snprintf(out, size, "{\"time\":\"%s\",\"event\":\"dvdt\"}", time);
    else
        std::snprintf(out, size, "{\"time\":\"%s\",\"event\":\"alarm\",\"code\":%u}", time,
                      static_cast<unsigned>(code));
}

static void payload_peak(std::int32_t peak, char out[12])
{
    if (peak == NOT_REPORTED)
        std::strcpy(out, "null");
    else
        std::snprintf(out, 12, "%d", static_cast<int>(peak));
}

void formatPeaksPayload(std::int64_t utcMs, std::int32_t maxPeak, std::int32_t minPeak, std::int32_t dpdtPeak,
                        char *out, std::size_t size)
{
    char time[TIMESTAMP_SIZE];
    formatUtcTimestamp(utcMs, time);
    char maxText[12], minText[12], dpdtText[12];
    payload_peak(maxPeak, maxText);
    payload_peak(minPeak, minText);
    payload_peak(dpdtPeak, dpdtText);
    std::snprintf(out, size, "{\"time\":\"%s\",\"max\":%s,\"min\":%s,\"dpdt\":%s}", time, maxText, minText,
                  dpdtText);
}

void formatStatusPayload(LinkStatus status, std::uint64_t dropped, char *out, std::size_t size)
{
    static const char *const NAMES[] = {"offline", "online", "silent"};
    const char *name = NAMES[static_cast<int>(status)];
    if (dropped > 0)
        std::snprintf(out, size, "%s dropped=%llu", name, static_cast<unsigned long long>(dropped));
    else
        std::snprintf(out, size, "%s", name);
}

// ---- broker and topics ----

static bool broker_port(const char *text, int *port)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 1 || value > 65535)
        return false;
    *port = static_cast<int>(value);
    return true;
}

bool parseBroker(const char *text, bool tls, char host[BROKER_HOST_SIZE], int *port)
{
    *port = tls ? MQTTS_PORT : MQTT_PORT;
    const char *hostStart = text;
    const char *hostEnd = nullptr;
    const char *portText = nullptr;
    if (text[0] == '[') {
        hostStart = text + 1;
        hostEnd = std::strchr(text, ']');
        if (!hostEnd || (hostEnd[1] != 0 && hostEnd[1] != ':'))
            return false;
        portText = hostEnd[1] == ':' ? hostEnd + 2 : nullptr;
    } else {
        const char *colon = std::strchr(text, ':');
        if (colon && std::strchr(colon + 1, ':'))
            return false; // a bare IPv6 address needs its brackets
        hostEnd = colon ? colon : text + std::strlen(text);
        portText = colon ? colon + 1 : nullptr;
    }
    const std::size_t length = static_cast<std::size_t>(hostEnd - hostStart);
    if (length == 0 || length >= BROKER_HOST_SIZE)
        return false;
    std::memcpy(host, hostStart, length);
    host[length] = 0;
    return !portText || broker_port(portText, port);
}

void defaultTopicPrefix(const char *port, char *out, std::size_t size)
{
    const char *base = port;
    for (const char *p = port; *p; ++p)
        if ((*p == '/' || *p == '\\') && p[1] != 0)
            base = p + 1;
    std::size_t length = std::strlen(base);
    while (length > 0 && (base[length - 1] == '/' || base[length - 1] == '\\'))
        --length;
    // MQTT wildcards and separators have no place inside one level.
    std::snprintf(out, size, "k614/");
    std::size_t n = std::strlen(out);
    for (std::size_t i = 0; i < length && n + 1 < size; ++i) {
        const char c = base[i];
        out[n++] = (c == '+' || c == '#' || c == '/') ? '_' : c;
    }
    out[n] = 0;
}

// One code point of well-formed UTF-8 at text[0..length): its length, 0 when malformed or one MQTT refuses.
static std::size_t name_codePoint(const unsigned char *text, std::size_t length)
{
    const unsigned char lead = text[0];
    std::size_t size;
    std::uint32_t point;
    if (lead < 0x80) {
        size = 1;
        point = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        point = lead & 0x07u;
    } else {
        return 0;
    }
    if (size > length)
        return 0;
    for (std::size_t i = 1; i < size; ++i) {
        if ((text[i] & 0xC0u) != 0x80u)
            return 0;
        point = (point << 6) | (text[i] & 0x3Fu);
    }
    static const std::uint32_t SHORTEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < SHORTEST[size] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    // Control characters: libmosquitto refuses them before the broker sees them.
    if (point < 0x20 || (point >= 0x7F && point <= 0x9F))
        return 0;
    return size;
}

const char *mqttNameFault(const char *text, bool topic)
{
    const std::size_t length = std::strlen(text);
    if (length > MQTT_STRING_MAX - (topic ? TOPIC_SUFFIX_MAX : 0))
        return "is longer than MQTT allows";
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (std::size_t at = 0; at < length;) {
        const std::size_t size = name_codePoint(bytes + at, length - at);
        if (size == 0)
            return "is not valid UTF-8 without control characters";
        if (topic && (text[at] == '+' || text[at] == '#'))
            return "holds the MQTT wildcard + or #";
        at += size;
    }
    return nullptr;
}
