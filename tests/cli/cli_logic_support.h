// Shared by k614ctl's tests without a device: frames of codes, a stream's text, a scripted line on a virtual
// clock and CtlOps over it, a word list parsed as a command line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/ctl_commands.h"
#include "link/frame_codec.h"

namespace cli_test {

inline std::string framesOf(std::initializer_list<unsigned> codes)
{
    std::string bytes;
    for (unsigned code : codes) {
        std::uint8_t frame[FRAME_SIZE];
        encodeFrame(static_cast<DeviceCode>(code), frame);
        bytes.append(reinterpret_cast<const char *>(frame), FRAME_SIZE);
    }
    return bytes;
}

// All of a stream's text, from its start.
inline std::string streamText(FILE *f)
{
    std::string s;
    std::rewind(f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

struct Chunk {
    std::int64_t at; // virtual ms
    std::string bytes;
    bool fails;
};

// A line that brings its script's chunks at their times, on a clock moved by what a read waits; as CtlOps:
// opens as `opens` says (then ok), the frames written with their times, a stop request from stopAt on.
struct FakeLine {
    std::int64_t now = 0;
    std::vector<Chunk> script;
    std::size_t next = 0;
    std::int64_t stopAt = std::numeric_limits<std::int64_t>::max();
    std::vector<bool> opens;
    std::vector<std::int64_t> openedAt;                  // times of the open attempts
    std::vector<std::pair<std::int64_t, unsigned>> sent; // (time, code) of each frame written
    FrameAssembly sentAssembly = {};
};

inline FakeLine *fakeOf(void *context)
{
    return static_cast<FakeLine *>(context);
}

inline int readScripted(FakeLine *line, std::uint8_t *buffer, int size, int timeoutMs)
{
    if (line->next < line->script.size() && line->script[line->next].at <= line->now + timeoutMs) {
        const Chunk &chunk = line->script[line->next++];
        line->now = chunk.at > line->now ? chunk.at : line->now;
        if (chunk.fails)
            return SERIAL_READ_FAILED;
        EXPECT_LE(static_cast<int>(chunk.bytes.size()), size);
        std::memcpy(buffer, chunk.bytes.data(), chunk.bytes.size());
        return static_cast<int>(chunk.bytes.size());
    }
    line->now += timeoutMs;
    return 0;
}

inline const CtlOps FAKE_OPS = {
    nullptr,
    [](void *c, const char *) {
        FakeLine *f = fakeOf(c);
        f->openedAt.push_back(f->now);
        const bool ok = f->openedAt.size() > f->opens.size() || f->opens[f->openedAt.size() - 1];
        return ok ? SerialOpenResult::ok : SerialOpenResult::noSuchPort;
    },
    [](void *c, std::uint8_t *buffer, int size, int ms) { return readScripted(fakeOf(c), buffer, size, ms); },
    [](void *c, const std::uint8_t *bytes, int count) {
        FakeLine *f = fakeOf(c);
        assembleFrames(
            &f->sentAssembly, bytes, count,
            [](void *c2, DeviceCode code) { fakeOf(c2)->sent.push_back({fakeOf(c2)->now, code}); }, f);
        return true;
    },
    [](void *) {},
    [](void *c) { return fakeOf(c)->now; },
    [](void *c) -> std::int64_t { return 1700000000000LL + fakeOf(c)->now; },
    [](void *c, int ms) { fakeOf(c)->now += ms; },
    [](void *) {},
    [](void *c) { return fakeOf(c)->now >= fakeOf(c)->stopAt; },
    [](void *) { return false; },
    {}, // no output file: a test that writes one puts its own in
};

// `words` after "k614ctl".
inline ParseOutcome parseWords(std::vector<const char *> words, CtlArgs *args, FILE *err)
{
    words.insert(words.begin(), "k614ctl");
    return parseCtlArgs(static_cast<int>(words.size()), const_cast<char **>(words.data()), args, err);
}

} // namespace cli_test
