// Transmit path: queue order and wrap, byte ring wrap, and behaviour at both limits.
#include <gtest/gtest.h>

#include <vector>

#include "link/frame_codec.h"
#include "link/link_events_std.h"
#include "test_state.h"

namespace {

class Transmit : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }

    // Drains the ring as the writer thread would and decodes the frames on it.
    static std::vector<DeviceCode> drainCodes()
    {
        std::vector<DeviceCode> codes;
        std::uint8_t buf[TX_RING_SIZE];
        int n = txRingTake(buf);
        EXPECT_EQ(n % FRAME_SIZE, 0);
        for (int i = 0; i + 6 <= n; i += 6) {
            std::uint8_t collected[8] = {buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], 0};
            EXPECT_EQ(buf[i + 5], 0x0D);
            EXPECT_TRUE(checksumValid(collected));
            codes.push_back(decodeFrame(collected));
        }
        return codes;
    }
};

TEST_F(Transmit, QueuedCodesLeaveOnePerTickInOrder)
{
    for (int i = 0; i < 23; ++i)
        ASSERT_TRUE(queueCode(3100, i));
    for (int i = 0; i < 23; ++i) {
        ASSERT_EQ(sendQueuedCode(), QueuedSend::Sent);
        EXPECT_EQ(drainCodes(), std::vector<DeviceCode>{static_cast<DeviceCode>(3100 + i)});
    }
    EXPECT_EQ(sendQueuedCode(), QueuedSend::Empty);
}

TEST_F(Transmit, QueueWrapsFrom31To0)
{
    codeQueue.write = codeQueue.read = 30;
    for (int v : {30, 31, 0, 1})
        queueCode(0, v);
    EXPECT_EQ(codeQueue.write, 2);
    std::vector<DeviceCode> sent;
    while (sendQueuedCode() == QueuedSend::Sent)
        for (DeviceCode c : drainCodes())
            sent.push_back(c);
    EXPECT_EQ(sent, (std::vector<DeviceCode>{30, 31, 0, 1}));
}

TEST_F(Transmit, CountAndRoomStayRightWhileTheWriteIndexIsBelowTheRead)
{
    const struct {
        int read, write, waiting;
    } rows[] = {{30, 2, 4}, {31, 0, 1}, {1, 0, 31}, {17, 16, 31}, {20, 5, 17}};
    for (const auto &r : rows) {
        codeQueue.read = r.read;
        codeQueue.write = r.write;
        EXPECT_EQ(codeQueueCount(), r.waiting) << r.read << " -> " << r.write;
        EXPECT_EQ(codeQueueFree(), CODE_QUEUE_SIZE - 1 - r.waiting) << r.read << " -> " << r.write;
    }
}

TEST_F(Transmit, QueueSumsWrapModulo65536)
{
    queueCode(65000, 600);
    sendQueuedCode();
    EXPECT_EQ(drainCodes(), std::vector<DeviceCode>{64});
}

TEST_F(Transmit, AFullQueueRefusesInsteadOfLosingWhatWaits)
{
    for (int i = 0; i < 31; ++i)
        ASSERT_TRUE(queueCode(3000, i));
    EXPECT_FALSE(queueCode(3000, 99));
    EXPECT_EQ(codeQueue.refused, 1u);
    EXPECT_EQ(codeQueueCount(), 31);
    EXPECT_FALSE(queueParameterSet()); // all-or-nothing: 23 codes do not fit
    EXPECT_EQ(codeQueueCount(), 31);
    ASSERT_EQ(sendQueuedCode(), QueuedSend::Sent);
    EXPECT_EQ(drainCodes(), std::vector<DeviceCode>{3000});
}

TEST_F(Transmit, AWholeSetIsQueuedExactlyWhenAllItsCodesFit)
{
    // 8 waiting codes leave 23 places: the set fits to the last one.
    for (int i = 0; i < CODE_QUEUE_SIZE - 1 - PARAMETER_COUNT; ++i)
        ASSERT_TRUE(queueCode(3100, i));
    ASSERT_EQ(codeQueueFree(), PARAMETER_COUNT);
    EXPECT_TRUE(queueParameterSet());
    EXPECT_EQ(codeQueueFree(), 0);
    EXPECT_EQ(codeQueue.refused, 0u);

    // One more waiting code leaves 22: nothing of the set is queued.
    resetCoreState();
    for (int i = 0; i < CODE_QUEUE_SIZE - PARAMETER_COUNT; ++i)
        ASSERT_TRUE(queueCode(3100, i));
    ASSERT_EQ(codeQueueFree(), PARAMETER_COUNT - 1);
    EXPECT_FALSE(queueParameterSet());
    EXPECT_EQ(codeQueueFree(), PARAMETER_COUNT - 1);
    EXPECT_EQ(codeQueue.refused, 0u);
}

TEST_F(Transmit, RingWrapsAndTakesInOrder)
{
    txRing.write = txRing.read = 29;
    const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    const unsigned signalsBefore = txReadySignals();
    ASSERT_TRUE(txRingPut(bytes, 6));
    EXPECT_EQ(txReadySignals(), signalsBefore + 1);
    EXPECT_EQ(txRing.write.load(), 3);
    EXPECT_EQ(txRing.bytes[29], 1);
    EXPECT_EQ(txRing.bytes[0], 4);
    // The write index is now below the read index.
    EXPECT_EQ(txRingCount(), 6);
    EXPECT_EQ(txRingFree(), TX_RING_SIZE - 1 - 6);
    std::uint8_t out[TX_RING_SIZE];
    ASSERT_EQ(txRingTake(out), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], bytes[i]);
    EXPECT_EQ(txRingTake(out), 0);
    EXPECT_EQ(txRing.read.load(), 3);
}

TEST_F(Transmit, AWrappedRingTakesItsFreeSpaceAndNotOneByteMore)
{
    txRing.write = txRing.read = 20;
    std::uint8_t bytes[TX_RING_SIZE];
    for (int i = 0; i < TX_RING_SIZE; ++i)
        bytes[i] = static_cast<std::uint8_t>(100 + i);
    ASSERT_TRUE(txRingPut(bytes, 20)); // indices 20..31, then 0..7
    EXPECT_EQ(txRingCount(), 20);
    ASSERT_EQ(txRingFree(), 11);
    ASSERT_TRUE(txRingPut(bytes + 20, 11)); // on to index 18, one short of the read index
    EXPECT_EQ(txRingCount(), TX_RING_SIZE - 1);
    EXPECT_EQ(txRingFree(), 0);
    // A 32nd byte would make the ring look empty and lose all 32.
    EXPECT_FALSE(txRingPut(bytes + 31, 1));
    EXPECT_EQ(txRing.refused, 1u);
    std::uint8_t out[TX_RING_SIZE];
    ASSERT_EQ(txRingTake(out), TX_RING_SIZE - 1);
    for (int i = 0; i < TX_RING_SIZE - 1; ++i)
        EXPECT_EQ(out[i], bytes[i]) << i;
}

TEST_F(Transmit, AFullRingRefusesWholeFramesAndTheQueueHoldsItsCode)
{
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(sendCode(static_cast<DeviceCode>(200 + i)));
    EXPECT_EQ(txRingCount(), 30);
    EXPECT_FALSE(sendCode(CMD_RESET_MAX_PEAK)); // would need 6 of the 1 free byte
    EXPECT_EQ(txRing.refused, 1u);
    EXPECT_EQ(txRingCount(), 30);

    queueCode(3100, 80);
    EXPECT_EQ(sendQueuedCode(), QueuedSend::Held);
    EXPECT_EQ(codeQueueCount(), 1);
    EXPECT_EQ(drainCodes(), (std::vector<DeviceCode>{200, 201, 202, 203, 204}));
    EXPECT_EQ(sendQueuedCode(), QueuedSend::Sent);
    EXPECT_EQ(drainCodes(), std::vector<DeviceCode>{3180});
}

TEST_F(Transmit, FramesLeftForAClosedPortNeverBlockTheNextPortsRequest)
{
    // Five Reset clicks fill the ring while a port is open but not draining...
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(sendCode(CMD_RESET_MAX_PEAK));
    ASSERT_FALSE(requestUpload());
    // ...then the port closes and a probe opens the next one.
    detachTransmitWriter();
    EXPECT_TRUE(sendCode(CMD_RESET_MAX_PEAK)); // lost on the dead line, not kept
    EXPECT_EQ(txRingCount(), 0);
    attachTransmitWriter();
    ASSERT_TRUE(requestUpload());
    std::uint8_t buf[TX_RING_SIZE];
    EXPECT_EQ(txRingTake(buf), static_cast<int>(FRAME_SIZE));
}

TEST_F(Transmit, CommandsOvertakeQueuedParameterCodes)
{
    queueParameterSet();
    sendQueuedCode();
    EXPECT_EQ(drainCodes(), std::vector<DeviceCode>{3000});
    sendCode(CMD_RESET_MAX_PEAK);
    sendQueuedCode();
    EXPECT_EQ(drainCodes(), (std::vector<DeviceCode>{CMD_RESET_MAX_PEAK, 3010}));
}

TEST_F(Transmit, EmptyPutStillWakesTheWriter)
{
    const unsigned before = txReadySignals();
    EXPECT_TRUE(txRingPut(nullptr, 0));
    EXPECT_EQ(txReadySignals(), before + 1);
    EXPECT_EQ(txRingCount(), 0);
}

} // namespace
