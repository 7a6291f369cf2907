// The port connection under wine against the simulated device: open, stream, send, close, unplug, noise, cycles.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/code_dispatch.h"
#include "base/live_readings.h"
#include "base/settings.h"
#include "link/device_code.h"
#include "link/frame_codec.h"
#include "link/port_win32.h"
#include "link/shared_field.h"
#include "link/transmit.h"
#include "tests/port/device_harness.h"
#include "trend/trend_history.h"

namespace {

constexpr unsigned long BAUD = 9600;

unsigned samplePos()
{
    return trendHistory.sampleWritePos.load(std::memory_order_acquire);
}

unsigned samplesSince(unsigned from)
{
    return (samplePos() + TREND_LENGTH - from) % TREND_LENGTH;
}

// True once a fresh valid frame reloads the watchdog after it was cleared here.
bool framesArrive(DWORD timeoutMs = 2000)
{
    sharedStore(liveReadings.linkAliveTicks, 0);
    return waitFor([] { return sharedLoad(liveReadings.linkAliveTicks) == LINK_ALIVE_RELOAD; }, timeoutMs);
}

bool measurementBecomes(int value, DWORD timeoutMs = 2000)
{
    return waitFor([value] { return sharedLoad(liveReadings.measurement) == value; }, timeoutMs);
}

// closePort, timed; the figure is printed by the caller. A close that has not
// returned after 10 s never will (a worker waits for ever): the run ends then,
// as a failure, rather than hanging until the test driver's time-out.
double timedClose(int *result = nullptr)
{
    static int closeResult;
    const double t0 = nowSeconds();
    HANDLE closer = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { closeResult = closePort(); return 0; }, nullptr, 0, nullptr);
    if (!closer) {
        closeResult = closePort();
    } else if (WaitForSingleObject(closer, 10000) != WAIT_OBJECT_0) {
        std::printf("closePort has not returned after 10 s: the port connection hangs\n");
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    if (closer)
        CloseHandle(closer);
    if (result)
        *result = closeResult;
    return nowSeconds() - t0;
}

// A COM port number with no device behind it, other than the ones the runner mapped.
int unmappedPort()
{
    for (int n = 8; n >= 2; --n) {
        if (n == deviceComPort() || n == stalledComPort())
            continue;
        char name[8], target[512];
        std::snprintf(name, sizeof name, "COM%d", n);
        if (QueryDosDeviceA(name, target, sizeof target) == 0)
            return n;
    }
    return 0;
}

TEST(PortOpen, NoDeviceLeavesNothingOpenAndCloseDoesNothing)
{
    const int port = unmappedPort();
    if (port == 0)
        GTEST_SKIP() << "every COM port is mapped";
    ASSERT_FALSE(portIsOpen());
    const ProcessCounters before = processCounters();
    EXPECT_EQ(openPort(port, BAUD, receiveBytes), 0);
    EXPECT_FALSE(portIsOpen());
    const ProcessCounters after = processCounters();
    std::printf("COM%d: handles %lu -> %lu, threads %d -> %d\n", port, before.handles, after.handles, before.threads,
                after.threads);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(closePort(), 0);
    EXPECT_EQ(closePort(), 0);
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(processCounters().handles, before.handles);
}

// Tests against the simulated device: each starts with the device plugged in
// and sending, nothing waiting in the transmit ring, roll mode 10 s (every
// measurement becomes a trend sample), and ends with the port closed.
class PortDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = deviceComPort();
        if (port_ == 0) {
            GTEST_SKIP() << "no simulated device (run through scripts/with-device.sh)";
        }
        ASSERT_FALSE(portIsOpen());
        if (simStatus("connected") == 0) {
            ASSERT_TRUE(simOk("replug"));
        }
        ASSERT_TRUE(simOk("resume"));
        ASSERT_EQ(simStatus("connected"), 1) << simCommand("status");
        resetTransmitPath();
        sharedStore(monitorSettings.rollMode, 0);
    }

    void TearDown() override
    {
        timedClose();
        resetTransmitPath();
    }

    int port_ = 0;
};

TEST_F(PortDevice, DecodesEveryMeasurementTheDeviceSent)
{
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    ASSERT_TRUE(simOk("set-measurement 57"));
    ASSERT_TRUE(measurementBecomes(57));
    // Count over a window bounded by silence on both sides, so that nothing is
    // on its way when the counts are taken. The device runs unpaced here: a
    // paced one that is silenced cuts off the frame on the line, and the torn
    // frame would cost a measurement at the window's start.
    ASSERT_TRUE(simOk("silent"));
    Sleep(300);
    const long long sent0 = simStatus("sent");
    const unsigned pos0 = samplePos();
    ASSERT_TRUE(simOk("resume"));
    Sleep(4000);
    ASSERT_TRUE(simOk("silent"));
    Sleep(300);
    const long long sent = simStatus("sent") - sent0;
    const unsigned decoded = samplesSince(pos0);
    ASSERT_TRUE(simOk("resume"));
    std::printf("measurements sent %lld, decoded %u\n", sent, decoded);
    EXPECT_GT(sent, 150);
    // A frame whose last bytes wait in an unfinished 4-byte read at one end of
    // the window may be counted on the other side of it: one either way.
    EXPECT_NEAR(static_cast<double>(decoded), static_cast<double>(sent), 1.0);
    for (unsigned i = pos0; i != samplePos(); i = (i + 1) % TREND_LENGTH)
        ASSERT_EQ(trendHistory.samples[i], 114) << "sample " << i;
}

TEST_F(PortDevice, SurvivesNoiseCrStormsZerosAndBadFrames)
{
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    const char *bursts[] = {"noise 1000", "crstorm 500", "zeros 500", "badframes 100", "noise 800"};
    int value = 20;
    for (const char *burst : bursts) {
        SCOPED_TRACE(burst);
        ASSERT_TRUE(simOk(burst));
        ASSERT_TRUE(simOk("set-measurement " + std::to_string(value)));
        EXPECT_TRUE(measurementBecomes(value, 5000));
        EXPECT_TRUE(framesArrive());
        const unsigned pos = samplePos();
        Sleep(500);
        EXPECT_GE(samplesSince(pos), 15u);
        value += 17;
    }
    EXPECT_FALSE(portReadFailed());
}

TEST_F(PortDevice, CloseReturnsPromptlyAndEndsBothThreads)
{
    const ProcessCounters idle = processCounters();
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    EXPECT_TRUE(portIsOpen());
    EXPECT_EQ(processCounters().threads, idle.threads + 2);
    ASSERT_TRUE(framesArrive());
    int result = -1;
    const double streaming = timedClose(&result);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(processCounters().threads, idle.threads);

    // Silent device: the read stays pending until the stop request wakes the reader.
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    ASSERT_TRUE(simOk("silent"));
    Sleep(300);
    const double silent = timedClose(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(processCounters().threads, idle.threads);

    // Closed right after opening; then a second close does nothing.
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    const double atOnce = timedClose(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(closePort(), 0);
    const ProcessCounters end = processCounters();
    std::printf("closePort took %.2f ms streaming, %.2f ms silent, %.2f ms right after open; "
                "threads %d -> %d, handles %lu -> %lu\n",
                streaming * 1e3, silent * 1e3, atOnce * 1e3, idle.threads, end.threads, idle.handles, end.handles);
    EXPECT_LT(streaming, 1.0);
    EXPECT_LT(silent, 1.0);
    EXPECT_LT(atOnce, 1.0);
    EXPECT_EQ(end.threads, idle.threads);
    EXPECT_EQ(end.handles, idle.handles);
}

TEST_F(PortDevice, SentCodesArriveInOrder)
{
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    ASSERT_TRUE(framesArrive());
    const std::size_t logStart = simLogText().size();
    std::vector<unsigned> expected;

    // Parameter codes paced through the code queue, one per 20 ms tick, with a
    // command overtaking them half-way.
    const int params[][2] = {{3000, 1}, {3100, 80}, {3200, 120}, {3300, 99}, {3500, 5},  {3700, 0},
                             {3800, 6199}, {10000, 1234}, {20000, 9999}, {30000, 34999}, {3085, 14}, {3000, 0}};
    for (const auto &p : params)
        ASSERT_TRUE(queueCode(p[0], p[1]));
    int ticks = 0;
    while (!codeQueueEmpty()) {
        const DeviceCode next = codeQueue.codes[codeQueue.read];
        if (sendQueuedCode() == QueuedSend::Sent)
            expected.push_back(next);
        if (++ticks == 6) {
            ASSERT_TRUE(sendCode(CMD_RESET_MAX_PEAK));
            expected.push_back(CMD_RESET_MAX_PEAK);
        }
        Sleep(20);
    }

    // Then a burst straight into the ring, as fast as the writer takes it:
    // codes across the whole range, nibbles 0 and D included.
    for (unsigned i = 0; i < 600; ++i) {
        const DeviceCode code = static_cast<DeviceCode>((i * 7919u + 0x0D0Du) & 0xFFFF);
        if (code >= CMD_REQUEST_UPLOAD && code <= CMD_RESET_DPDT_PEAK)
            continue; // keep the device from answering with uploads and pulses
        ASSERT_TRUE(waitFor([code] { return sendCode(code); }, 2000));
        expected.push_back(code);
    }
    for (DeviceCode edge : {DeviceCode{0}, DeviceCode{0x0D}, DeviceCode{0xD0D0}, DeviceCode{65535}}) {
        ASSERT_TRUE(waitFor([edge] { return sendCode(edge); }, 2000));
        expected.push_back(edge);
    }

    std::vector<unsigned> received;
    waitFor([&] {
        received = simLogReceived(logStart);
        return received.size() >= expected.size();
    }, 10000);
    std::printf("codes sent %zu, logged by the device %zu\n", expected.size(), received.size());
    EXPECT_EQ(received, expected);
    EXPECT_EQ(simLogEvents(logStart, "rx-rejected"), 0);
}

TEST_F(PortDevice, UnpluggedDeviceStopsTheReaderWithoutSpinning)
{
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    ASSERT_TRUE(framesArrive());
    EXPECT_FALSE(portReadFailed());

    // The CPU measure itself: a spinning thread must show up in it.
    const ProcessCounters calib0 = processCounters();
    const double calibStart = nowSeconds();
    std::thread spinner([] {
        const double end = nowSeconds() + 0.5;
        volatile unsigned x = 0;
        while (nowSeconds() < end)
            x = x + 1;
    });
    spinner.join();
    const double calibShare = (processCounters().cpu100ns - calib0.cpu100ns) / 1e7 / (nowSeconds() - calibStart);

    ASSERT_TRUE(simOk("unplug"));
    const double t0 = nowSeconds();
    EXPECT_TRUE(waitFor([] { return portReadFailed(); }, 3000));
    const double failedAfter = nowSeconds() - t0;
    // The writer meets the dead port too.
    sendCode(CMD_RESET_MIN_PEAK);

    const ProcessCounters c0 = processCounters();
    const double w0 = nowSeconds();
    sharedStore(liveReadings.linkAliveTicks, 0);
    Sleep(3000);
    const double wall = nowSeconds() - w0;
    const ProcessCounters c1 = processCounters();
    const double cpu = (c1.cpu100ns - c0.cpu100ns) / 1e7;
    std::printf("after unplug: reader gave up after %.0f ms; CPU %.3f s in %.2f s (%.1f %%); "
                "a spinning thread measured %.0f %%\n",
                failedAfter * 1e3, cpu, wall, 100 * cpu / wall, 100 * calibShare);
    EXPECT_GT(calibShare, 0.5) << "the CPU measure does not see a busy thread";
    // A reader that keeps asking a dead port shows only about 45 % here: each
    // failing ReadFile is a round trip to the wineserver, which burns the rest
    // in its own process. A reader that has stopped shows about 0 %.
    EXPECT_LT(cpu / wall, 0.2);
    EXPECT_EQ(sharedLoad(liveReadings.linkAliveTicks), 0) << "frames still arrive from an unplugged device";

    int result = -1;
    const double closeTime = timedClose(&result);
    std::printf("closePort on the dead port: %.2f ms, result %d\n", closeTime * 1e3, result);
    EXPECT_LT(closeTime, 1.0);
    EXPECT_EQ(processCounters().threads, c0.threads - 2);

    ASSERT_TRUE(simOk("replug"));
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    EXPECT_FALSE(portReadFailed());
    ASSERT_TRUE(simOk("set-measurement 77"));
    EXPECT_TRUE(measurementBecomes(77));
    EXPECT_TRUE(framesArrive());
}

TEST_F(PortDevice, ThousandOpenCloseCyclesLeakNothing)
{
    // One cycle first, so that whatever wine sets up once is in the baseline.
    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    ASSERT_EQ(closePort(), 0);
    const ProcessCounters before = processCounters();
    const double t0 = nowSeconds();
    constexpr int CYCLES = 1000;
    int opened = 0, closedCleanly = 0;
    for (int i = 0; i < CYCLES; ++i) {
        opened += openPort(port_, BAUD, receiveBytes);
        if (i % 10 == 0)
            sendCode(CMD_RESET_MIN_PEAK);
        if (i % 100 == 0)
            Sleep(30); // now and then with a read completed and another pending
        closedCleanly += closePort() == 0;
    }
    const double seconds = nowSeconds() - t0;
    const ProcessCounters after = processCounters();
    std::printf("%d open/close cycles in %.2f s (%.2f ms each): handles %lu -> %lu, threads %d -> %d\n", CYCLES,
                seconds, seconds * 1e3 / CYCLES, before.handles, after.handles, before.threads, after.threads);
    EXPECT_EQ(opened, CYCLES);
    EXPECT_EQ(closedCleanly, CYCLES);
    EXPECT_LE(after.handles, before.handles + 4);
    EXPECT_EQ(after.threads, before.threads);

    ASSERT_EQ(openPort(port_, BAUD, receiveBytes), 1);
    ASSERT_TRUE(simOk("set-measurement 33"));
    EXPECT_TRUE(measurementBecomes(33));
}

// A line that takes no bytes (a pseudo-terminal that nobody reads) leaves a
// write pending for ever: closePort must still end the writer.
TEST(PortStalledLine, CloseEndsAWriteThatNeverCompletes)
{
    const int port = stalledComPort();
    if (port == 0)
        GTEST_SKIP() << "no stalled line (run through tests/port/stalled_line.py)";
    resetTransmitPath();
    const ProcessCounters idle = processCounters();
    ASSERT_EQ(openPort(port, BAUD, receiveBytes), 1);
    long long frames = 0;
    double fullSince = 0;
    const double end = nowSeconds() + 60;
    while (nowSeconds() < end) {
        if (sendCode(static_cast<DeviceCode>(frames & 0xFFFF))) {
            ++frames;
            fullSince = 0;
            continue;
        }
        if (fullSince == 0)
            fullSince = nowSeconds();
        else if (nowSeconds() - fullSince > 0.3)
            break; // the ring stays full: the writer sits in a write
        Sleep(1);
    }
    ASSERT_LT(txRingFree(), static_cast<int>(FRAME_SIZE)) << "the line never stalled";
    int result = -1;
    const double closeTime = timedClose(&result);
    const ProcessCounters after = processCounters();
    std::printf("line stalled after %lld frames (%lld bytes); closePort took %.2f ms, result %d; threads %d -> %d\n",
                frames, frames * 6, closeTime * 1e3, result, idle.threads, after.threads);
    EXPECT_LT(closeTime, 2.0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(after.threads, idle.threads);
    resetTransmitPath();
}

} // namespace
