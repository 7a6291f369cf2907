// Transmit path: the code queue that paces parameter codes, and the byte ring to the writer thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/device_code.h"

inline constexpr int CODE_QUEUE_SIZE = 32;
inline constexpr int TX_RING_SIZE = 32;

// Parameter codes waiting for their 20 ms tick. GUI thread only.
struct CodeQueue {
    DeviceCode codes[CODE_QUEUE_SIZE];
    int write;         // codeQueueWrite
    int read;          // codeQueueRead
    unsigned refused;  // codes refused because the queue was full
};

// Bytes on their way to the writer thread: single producer (GUI thread),
// single consumer (writer thread). Each side publishes its index with release
// and reads the other side's with acquire.
struct TxRing {
    std::uint8_t bytes[TX_RING_SIZE];
    std::atomic<int> write; // txRingWrite, advanced by the GUI thread
    std::atomic<int> read;  // txRingRead, advanced by the writer thread
    unsigned refused;       // frames refused because they did not fit
    bool writerAttached;    // a port connection drains the ring (GUI thread only)
};

extern CodeQueue codeQueue;
extern TxRing txRing;

// Appends (base + value) mod 65536. The queue holds at most 31 codes; a code
// that does not fit is refused (false) and counted, never overwrites a waiting one.
bool queueCode(int base, int value);
int codeQueueCount();
int codeQueueFree();
bool codeQueueEmpty();

enum class QueuedSend { Empty, Sent, Held };
// The 20 ms tick's pacing step: hands the oldest queued code to sendCode. A
// code that finds no room in the byte ring stays queued for the next tick.
QueuedSend sendQueuedCode();

// Encodes the code and puts its whole frame into the ring; false when the ring
// has no room for the whole frame (it then takes nothing: frames never tear).
bool sendCode(DeviceCode code);
bool requestUpload();

// Appends all bytes or none (false when they do not fit), then wakes the writer.
bool txRingPut(const std::uint8_t *bytes, int count);
int txRingCount();
int txRingFree();
// Writer thread: moves every waiting byte into buffer and returns their number.
int txRingTake(std::uint8_t buffer[TX_RING_SIZE]);

// The port connection attaches the writer side when it opens, before its
// writer starts, and detaches it once the writer has ended. Attaching empties
// the ring and the code queue: nothing meant for an earlier connection goes out
// on a new one. While detached, bytes put into the ring are dropped, as bytes
// written to a line with no device on it are lost: the 20 ms pacing, the
// transfer check and the link watchdog go on as with a silent device, instead
// of stalling on a ring that nobody drains.
void attachTransmitWriter();
void detachTransmitWriter();
// Drops the codes still waiting for their tick (a whole set replaces them).
void discardQueuedCodes();

// Back to the start-up state (tests and the benchmark only); leaves the writer
// attached or detached as it was.
void resetTransmitPath();
