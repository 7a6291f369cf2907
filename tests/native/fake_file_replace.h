// A scripted FileReplaceOps for the writers' decisions: one step fails with a code, every call is logged.
#pragma once

#include <string>
#include <vector>

#include "fileio/replacing_file.h"

struct FakeFileReplace {
    std::string failing; // "begin", "write" or "commit"; empty: nothing fails
    long code = 28;      // what the failing step returns
    std::vector<std::string> log;
    std::string written;

    FileReplaceOps ops()
    {
        return {
            this,
            [](void *c, const char *target) { return of(c).step("begin " + std::string(target), "begin"); },
            [](void *c, const void *bytes, std::uint32_t count) {
                FakeFileReplace &f = of(c);
                f.written.append(static_cast<const char *>(bytes), count);
                return f.step("write " + std::to_string(count), "write");
            },
            [](void *c) { return of(c).step("commit", "commit"); },
            [](void *c) { of(c).log.push_back("discard"); },
        };
    }

private:
    static FakeFileReplace &of(void *context) { return *static_cast<FakeFileReplace *>(context); }
    long step(const std::string &entry, const char *name)
    {
        log.push_back(entry);
        return failing == name ? code : 0;
    }
};
