// Throughput of the receive path and of encodeFrame + txRingPut, against the 960 bytes/s line rate,
// with a count of heap allocations made on the measured paths (there must be none).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "app/code_dispatch.h"
#include "base/settings.h"
#include "link/frame_codec.h"
#include "link/transmit.h"
#include "sim/frames.h"

namespace {

std::atomic<long> allocations{0};
std::atomic<bool> countingAllocations{false};

constexpr double LINE_RATE = 960.0; // bytes per second at 9600 baud, 8N1

// A realistic device stream: mostly short measurement frames, peaks and
// occasionally a long parameter or unit-text frame.
std::vector<std::uint8_t> deviceStream()
{
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 4096; ++i) {
        const DeviceCode code = (i % 50 == 0) ? static_cast<DeviceCode>(3100 + i % 90)
                                : (i % 25 == 0) ? static_cast<DeviceCode>(65232 + i % 60)
                                : (i % 10 == 0) ? static_cast<DeviceCode>(400 + i % 150)
                                                : static_cast<DeviceCode>(i % 200);
        std::uint8_t f[DEVICE_FRAME_MAX];
        const std::size_t n = encodeDeviceFrame(code, f);
        bytes.insert(bytes.end(), f, f + n);
    }
    return bytes;
}

void BM_ReceiveBytes(benchmark::State &state)
{
    setSettingsDefaults();
    const std::vector<std::uint8_t> stream = deviceStream();
    long before = allocations.load();
    countingAllocations = true;
    for (auto _ : state) {
        // Four bytes per call, as the reader thread hands them over.
        for (std::size_t i = 0; i + 4 <= stream.size(); i += 4)
            receiveBytes(stream.data() + i, 4);
        benchmark::ClobberMemory();
    }
    countingAllocations = false;
    const double bytes = static_cast<double>(stream.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["x_line_rate"] = benchmark::Counter(bytes / LINE_RATE, benchmark::Counter::kIsRate);
    state.counters["allocations"] = static_cast<double>(allocations.load() - before);
}
BENCHMARK(BM_ReceiveBytes);

void BM_EncodeAndPut(benchmark::State &state)
{
    resetTransmitPath();
    attachTransmitWriter();
    std::uint8_t sink[TX_RING_SIZE];
    long before = allocations.load();
    countingAllocations = true;
    DeviceCode code = 0;
    for (auto _ : state) {
        std::uint8_t frame[FRAME_SIZE];
        encodeFrame(code++, frame);
        txRingPut(frame, FRAME_SIZE);
        benchmark::DoNotOptimize(txRingTake(sink)); // the writer's side, so the ring never fills
    }
    countingAllocations = false;
    const double bytes = FRAME_SIZE * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["x_line_rate"] = benchmark::Counter(bytes / LINE_RATE, benchmark::Counter::kIsRate);
    state.counters["allocations"] = static_cast<double>(allocations.load() - before);
}
BENCHMARK(BM_EncodeAndPut);

} // namespace

// Counting allocator: every operator new while a measurement runs is counted.
void *operator new(std::size_t n)
{
    if (countingAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

BENCHMARK_MAIN();
