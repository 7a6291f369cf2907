// The command-line tool's serial line under wine against the simulated device: upload request, time-out, unplug, names.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "link/device_code.h"
#include "link/frame_codec.h"
#include "link/serial_line.h"
#include "tests/port/device_harness.h"

namespace {

constexpr int WAIT_MS = 2000;
constexpr int FRAME_BUFFER = 8;          // the longest device frame and its end
constexpr int SCAN_LIMIT_BYTES = 9600;   // ten seconds of the line
constexpr DeviceCode UPLOAD_ANSWER_LAST = UPLOAD_ANSWER_BASE + 9;

// Collects bytes up to CR, as the device sends its frames, and gives the code
// of each valid frame; -1 while a frame is incomplete or after a bad one.
struct FrameCollector {
    std::uint8_t bytes[FRAME_BUFFER + 1] = {};
    int length = 0;
};

int collectByte(FrameCollector *c, std::uint8_t byte)
{
    if (byte != FRAME_END) {
        if (c->length < FRAME_BUFFER)
            c->bytes[c->length++] = byte;
        return -1;
    }
    c->bytes[c->length] = 0x00;
    const bool valid = c->length > 0 && checksumValid(c->bytes);
    const int code = valid ? decodeFrame(c->bytes) : -1;
    c->length = 0;
    return code;
}

class SerialLineDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(deviceComPort(), 0) << "run under scripts/with-device.sh";
        ASSERT_TRUE(simOk("resume"));
        std::snprintf(name, sizeof name, "COM%d", deviceComPort());
        ASSERT_EQ(openSerialLine(name, &line), SerialOpenResult::ok) << name;
    }
    void TearDown() override
    {
        closeSerialLine(&line);
        simCommand("replug"); // should a test stop with the cable out
        simOk("resume");
    }
    char name[16] = {};
    SerialLine line;
};

TEST_F(SerialLineDevice, UploadRequestGetsTheDevicesAnswer)
{
    std::uint8_t frame[FRAME_SIZE];
    encodeFrame(CMD_REQUEST_UPLOAD, frame);
    ASSERT_TRUE(writeSerialLine(&line, frame, FRAME_SIZE));

    FrameCollector collector;
    int answer = -1;
    for (int scanned = 0; scanned < SCAN_LIMIT_BYTES && answer < 0;) {
        std::uint8_t buffer[64];
        const int got = readSerialLine(&line, buffer, sizeof buffer, WAIT_MS);
        ASSERT_GT(got, 0) << "after " << scanned << " bytes";
        for (int i = 0; i < got && answer < 0; ++i) {
            const int code = collectByte(&collector, buffer[i]);
            if (code >= UPLOAD_ANSWER_BASE && code <= UPLOAD_ANSWER_LAST)
                answer = code;
        }
        scanned += got;
    }
    EXPECT_GE(answer, static_cast<int>(UPLOAD_ANSWER_BASE)) << "no upload answer among the device's frames";
}

// What wine does with the time-outs on a pty: a silent line reads as 0 after
// the time-out, and a read of many bytes returns with the first frame rather
// than waiting for its buffer to fill. The times are printed, not checked.
TEST_F(SerialLineDevice, ReadWaitsForTheFirstByteOnly)
{
    ASSERT_TRUE(simOk("silent"));
    std::uint8_t buffer[256];
    // Whatever was on its way when the device fell silent.
    while (readSerialLine(&line, buffer, sizeof buffer, 200) > 0) {
    }
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, 300), 0);
    QueryPerformanceCounter(&t1);
    std::printf("silent line: read with a 300 ms time-out returned after %.0f ms\n",
                1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));

    // Measurements again, one frame each 20 ms: a read that waited to fill
    // its buffer would come back with all of it.
    ASSERT_TRUE(simOk("resume"));
    QueryPerformanceCounter(&t0);
    const int got = readSerialLine(&line, buffer, sizeof buffer, 60000);
    QueryPerformanceCounter(&t1);
    std::printf("streaming again: read of up to %d bytes with a 60 s time-out returned %d after %.0f ms\n",
                static_cast<int>(sizeof buffer), got,
                1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
    EXPECT_GT(got, 0);
    EXPECT_LT(got, static_cast<int>(sizeof buffer));
}

TEST_F(SerialLineDevice, UnplugFailsTheReadAndTheNextOpen)
{
    std::uint8_t buffer[64];
    ASSERT_GT(readSerialLine(&line, buffer, sizeof buffer, WAIT_MS), 0);
    ASSERT_TRUE(simOk("unplug"));
    // What was sent before the unplug may still come; then the line fails,
    // and never reads as a time-out.
    int got = 1;
    while (got > 0)
        got = readSerialLine(&line, buffer, sizeof buffer, WAIT_MS);
    EXPECT_EQ(got, SERIAL_READ_FAILED);
    EXPECT_EQ(readSerialLine(&line, buffer, sizeof buffer, WAIT_MS), SERIAL_READ_FAILED);
    EXPECT_FALSE(writeSerialLine(&line, buffer, 1));
    closeSerialLine(&line);
    EXPECT_EQ(openSerialLine(name, &line), SerialOpenResult::noSuchPort);

    ASSERT_TRUE(simOk("replug"));
    EXPECT_EQ(openSerialLine(name, &line), SerialOpenResult::ok);
}

TEST(SerialLineNames, OnlyCom1ToCom256AreOpened)
{
    const char *wrong[] = {"", "COM", "COM0", "COM01", "COM257", "COM1000", "LPT1", "COM1:", "\\\\.\\COM1", "XCOM1"};
    for (const char *name : wrong) {
        SerialLine line;
        EXPECT_EQ(openSerialLine(name, &line), SerialOpenResult::noSuchPort) << "'" << name << "'";
        EXPECT_EQ(line.handle, SERIAL_LINE_CLOSED);
    }
    // A well-formed name with nothing behind it (COM256 is never mapped here).
    SerialLine line;
    EXPECT_EQ(openSerialLine("COM256", &line), SerialOpenResult::noSuchPort);
}

} // namespace
