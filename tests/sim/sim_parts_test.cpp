// Tests of the simulator's parts below the device model: device frames, waveforms, the parameter image, line pacing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "link/frame_codec.h"
#include "sim/device_model.h"
#include "sim/frames.h"
#include "sim/line_pacer.h"
#include "sim/param_store.h"
#include "sim/waveform.h"

namespace {

std::string tempDir()
{
    char tmpl[] = "/tmp/k614simtest.XXXXXX";
    const char *d = mkdtemp(tmpl);
    return d ? d : "/tmp";
}

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

} // namespace

TEST(DeviceFrames, ShortBelow256LongAboveAndAllDecodeBack)
{
    std::uint8_t f[DEVICE_FRAME_MAX];
    ASSERT_EQ(encodeDeviceFrame(57, f), 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(f, f + 4), (std::vector<std::uint8_t>{0x31, 0x91, 0xC2, 0x0D}));
    ASSERT_EQ(encodeDeviceFrame(473, f), 6u);
    EXPECT_EQ(std::vector<std::uint8_t>(f, f + 6), (std::vector<std::uint8_t>{0x01, 0x11, 0xD1, 0x91, 0x74, 0x0D}));

    // Every code survives the trip through the assembler, and no byte before
    // the CR can end a frame early.
    FrameAssembler rx;
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        const std::size_t n = encodeDeviceFrame(static_cast<DeviceCode>(c), f);
        EXPECT_EQ(n, c <= 255 ? 4u : 6u);
        DeviceCode got = 0;
        bool done = false;
        for (std::size_t i = 0; i < n; ++i) {
            if (i + 1 < n) {
                ASSERT_TRUE(f[i] != 0x0D && f[i] != 0x00) << c;
            }
            done = rx.feed(f[i], got);
        }
        ASSERT_TRUE(done) << c;
        ASSERT_EQ(got, c);
    }
    EXPECT_EQ(rx.rejected(), 0u);
}

TEST(DeviceFrames, AssemblerDropsBadChecksumsEmptyFramesAndNoise)
{
    FrameAssembler rx;
    DeviceCode code;
    std::uint8_t f[FRAME_SIZE];
    encodeFrame(CMD_REQUEST_UPLOAD, f);
    f[4] = static_cast<std::uint8_t>(f[4] + 1);
    for (std::uint8_t b : f)
        EXPECT_FALSE(rx.feed(b, code));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(rx.feed(0x0D, code));
    EXPECT_EQ(rx.rejected(), 4u);
    // Long noise without CR, then a valid frame after the next CR.
    for (int i = 0; i < 50; ++i)
        rx.feed(static_cast<std::uint8_t>(0x41 + i), code);
    rx.feed(0x0D, code);
    encodeFrame(3165, f);
    bool done = false;
    for (std::uint8_t b : f)
        done = rx.feed(b, code);
    ASSERT_TRUE(done);
    EXPECT_EQ(code, 3165);
}

TEST(Waveforms, ShapesAndProfiles)
{
    Waveform w;
    std::string err;
    WaveSettings s{100, 20, 1.0}; // one-second period = 50 ticks
    ASSERT_TRUE(w.configure("steps", s, err));
    EXPECT_EQ(w.valueAt(0), 120);
    EXPECT_EQ(w.valueAt(24), 120);
    EXPECT_EQ(w.valueAt(25), 80);
    EXPECT_EQ(w.valueAt(50), 120);
    ASSERT_TRUE(w.configure("ramp", s, err));
    EXPECT_DOUBLE_EQ(w.valueAt(0), 80);
    EXPECT_NEAR(w.valueAt(25), 100, 1e-9);
    ASSERT_TRUE(w.configure("sine", s, err));
    EXPECT_NEAR(w.valueAt(0), 100, 1e-9);
    EXPECT_NEAR(w.valueAt(12) + 0.0, 100 + 20 * std::sin(2 * M_PI * 0.24), 1e-9);
    EXPECT_FALSE(w.configure("square", s, err));
    EXPECT_NE(err.find("unknown waveform"), std::string::npos);
    EXPECT_EQ(w.shape(), "sine"); // unchanged by the failure

    const std::string dir = tempDir();
    writeFile(dir + "/plain.txt", "# per tick\n10\n20\n\n30 # three\n");
    ASSERT_TRUE(w.configure("profile:" + dir + "/plain.txt", s, err)) << err;
    EXPECT_EQ(w.valueAt(0), 10);
    EXPECT_EQ(w.valueAt(2), 30);
    EXPECT_EQ(w.valueAt(3), 10); // loops

    writeFile(dir + "/timed.txt", "0 50\n0.1 150\n0.2 0\n");
    ASSERT_TRUE(w.configure("profile:" + dir + "/timed.txt", s, err)) << err;
    EXPECT_EQ(w.valueAt(4), 50);
    EXPECT_EQ(w.valueAt(5), 150);
    EXPECT_EQ(w.valueAt(9), 150);
    EXPECT_EQ(w.valueAt(10), 0);
    EXPECT_EQ(w.valueAt(11), 50);

    writeFile(dir + "/mixed.txt", "10\n0.1 20\n");
    EXPECT_FALSE(w.configure("profile:" + dir + "/mixed.txt", s, err));
    EXPECT_FALSE(w.configure("profile:" + dir + "/missing.txt", s, err));
    std::string cleanup = "rm -rf " + dir;
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

TEST(ParameterImage, MissingFileCreatedFromDefaultsSavedSetRoundTrips)
{
    const std::string dir = tempDir();
    const std::string path = dir + "/dev.614";
    ParameterSet p;
    std::string err;
    ASSERT_TRUE(loadParameterImage(path, defaultParameterSet(), p, err)) << err;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 88u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\x00\x50\x00", 4));

    p.zero = 2;
    p.reserved[9] = 0xAB;
    ASSERT_TRUE(saveParameterImage(path, p, err)) << err;
    ParameterSet q;
    ASSERT_TRUE(loadParameterImage(path, defaultParameterSet(), q, err)) << err;
    EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0);

    writeFile(dir + "/short.614", "abc");
    EXPECT_FALSE(loadParameterImage(dir + "/short.614", defaultParameterSet(), q, err));
    EXPECT_NE(err.find("3 bytes"), std::string::npos);
    std::string cleanup = "rm -rf " + dir;
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

// The pacer writes into a pipe; times are handed in, so the test controls the clock.
TEST(LinePacing, NoByteLeavesBeforeItsSlot)
{
    int p[2];
    ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
    LinePacer pacer(true);
    const auto t0 = SimClock::now();
    std::uint8_t frame[DEVICE_FRAME_MAX];
    for (int i = 0; i < 10; ++i)
        pacer.enqueue(frame, encodeDeviceFrame(static_cast<DeviceCode>(1000 + i), frame), false, t0);
    pacer.enqueue(frame, encodeDeviceFrame(57, frame), true, t0);
    ASSERT_EQ(pacer.queuedBytes(), 64u);

    std::size_t total = 0;
    for (int k = 0; k <= 70; ++k) {
        const auto now = t0 + BYTE_SLOT * k;
        ASSERT_TRUE(pacer.pump(p[1], now));
        char buf[128];
        const ssize_t n = read(p[0], buf, sizeof buf);
        total += n > 0 ? static_cast<std::size_t>(n) : 0;
        // At slot k at most k + 1 bytes may have left.
        EXPECT_EQ(total, std::min<std::size_t>(static_cast<std::size_t>(k) + 1, 64)) << k;
    }
    EXPECT_EQ(pacer.measurementsSent(), 1u);
    EXPECT_EQ(pacer.nextSlot(), SimClock::time_point::max());

    LinePacer fast(false);
    for (int i = 0; i < 10; ++i)
        fast.enqueue(frame, 6, false, t0);
    ASSERT_TRUE(fast.pump(p[1], t0));
    EXPECT_EQ(fast.bytesWritten(), 60u);
    close(p[0]);
    close(p[1]);
}

TEST(LinePacing, FullPortKeepsFramesThenDropsOldestBeyondLimit)
{
    int p[2];
    ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
    const int pipeSize = fcntl(p[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(pipeSize, 0);
    LinePacer pacer(false);
    const auto t0 = SimClock::now();
    std::vector<std::uint8_t> big(static_cast<std::size_t>(pipeSize), 0x41);
    pacer.enqueue(big.data(), big.size(), false, t0);
    ASSERT_TRUE(pacer.pump(p[1], t0));
    std::uint8_t frame[DEVICE_FRAME_MAX];
    for (std::size_t i = 0; i < TX_QUEUE_LIMIT + 10; ++i)
        pacer.enqueue(frame, encodeDeviceFrame(static_cast<DeviceCode>(i % 200), frame), true, t0);
    ASSERT_TRUE(pacer.pump(p[1], t0)); // must return, not block
    EXPECT_TRUE(pacer.waitingForRoom());
    EXPECT_EQ(pacer.framesDropped(), 10u);
    EXPECT_EQ(pacer.queuedBytes(), TX_QUEUE_LIMIT * 4);
    close(p[0]);
    close(p[1]);
}
