// Transmit path: code queue, byte ring, sendCode and requestUpload.
#include "link/transmit.h"

#include "link/frame_codec.h"
#include "link/link_events.h"

CodeQueue codeQueue;
TxRing txRing;

static int nextIndex(int i, int size)
{
    return i + 1 == size ? 0 : i + 1;
}

int codeQueueCount()
{
    return (codeQueue.write - codeQueue.read + CODE_QUEUE_SIZE) % CODE_QUEUE_SIZE;
}

int codeQueueFree()
{
    return CODE_QUEUE_SIZE - 1 - codeQueueCount();
}

bool codeQueueEmpty()
{
    return codeQueue.write == codeQueue.read;
}

bool queueCode(int base, int value)
{
    // A 32nd waiting code would make the queue look empty and lose all 32.
    if (codeQueueFree() == 0) {
        ++codeQueue.refused;
        return false;
    }
    codeQueue.codes[codeQueue.write] = static_cast<DeviceCode>((base + value) & 0xFFFF);
    codeQueue.write = nextIndex(codeQueue.write, CODE_QUEUE_SIZE);
    return true;
}

QueuedSend sendQueuedCode()
{
    if (codeQueueEmpty())
        return QueuedSend::Empty;
    if (!sendCode(codeQueue.codes[codeQueue.read]))
        return QueuedSend::Held;
    codeQueue.read = nextIndex(codeQueue.read, CODE_QUEUE_SIZE);
    return QueuedSend::Sent;
}

bool sendCode(DeviceCode code)
{
    std::uint8_t frame[FRAME_SIZE];
    encodeFrame(code, frame);
    return txRingPut(frame, FRAME_SIZE);
}

bool requestUpload()
{
    return sendCode(CMD_REQUEST_UPLOAD);
}

int txRingCount()
{
    const int w = txRing.write.load(std::memory_order_relaxed);
    const int r = txRing.read.load(std::memory_order_acquire);
    return (w - r + TX_RING_SIZE) % TX_RING_SIZE;
}

int txRingFree()
{
    return TX_RING_SIZE - 1 - txRingCount();
}

bool txRingPut(const std::uint8_t *bytes, int count)
{
    if (!txRing.writerAttached)
        return true; // no connection: the bytes are lost on the dead line
    bool fits = count <= txRingFree();
    if (fits && count > 0) {
        int w = txRing.write.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i) {
            txRing.bytes[w] = bytes[i];
            w = nextIndex(w, TX_RING_SIZE);
        }
        txRing.write.store(w, std::memory_order_release);
    } else if (!fits) {
        ++txRing.refused;
    }
    signalTxReady();
    return fits;
}

int txRingTake(std::uint8_t buffer[TX_RING_SIZE])
{
    const int w = txRing.write.load(std::memory_order_acquire);
    int r = txRing.read.load(std::memory_order_relaxed);
    int count = 0;
    while (r != w && count < TX_RING_SIZE) {
        buffer[count++] = txRing.bytes[r];
        r = nextIndex(r, TX_RING_SIZE);
    }
    if (count > 0)
        txRing.read.store(r, std::memory_order_release);
    return count;
}

static void emptyTxRing()
{
    txRing.write.store(0, std::memory_order_relaxed);
    txRing.read.store(0, std::memory_order_relaxed);
}

void discardQueuedCodes()
{
    codeQueue.read = codeQueue.write;
}

// Both run while no writer thread exists, so the GUI thread owns both ring indices.
void attachTransmitWriter()
{
    emptyTxRing();
    discardQueuedCodes();
    txRing.writerAttached = true;
}

void detachTransmitWriter()
{
    txRing.writerAttached = false;
    emptyTxRing();
}

void resetTransmitPath()
{
    codeQueue = CodeQueue{};
    emptyTxRing();
    txRing.refused = 0;
}
