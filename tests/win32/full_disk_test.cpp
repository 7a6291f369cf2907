// The program's file writers on a full disk: a failed save leaves the old file as it was and nothing else behind.
//
// Runs only inside tests/win32/full_disk.sh, which mounts a small file system
// and names it in K614_FULL_DISK_DIR; the test fills it up itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>

#include "params/parameter_file_win32.h"
#include "params/parameter_set.h"
#include "report/bmp_writer_win32.h"
#include "scratch_dir.h"

namespace {

std::string chosenPath;
int dumpMessages = 0; // boxes shown for one dump: one at most
// "Error Writing file to disc" when a write fails on a full disk; the box of
// a failed replacement at the end says "Error closing file...".
const char *expectedDumpMessage = "Error Writing file to disc";

// A dump of a side x side picture (64: 16 KB of pixels) into chosenPath, the
// boxes counted instead of shown; true when it reported a failure.
bool dumpOfSideFails(const std::string &path, LONG side)
{
    ScopedDc dc(CreateCompatibleDC(nullptr));
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), side, side, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void *bits = nullptr;
    ScopedGdiObject<HBITMAP> bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    chosenPath = path;
    dumpMessages = 0;
    BitmapDumpTarget target = {nullptr, bitmap.get(), dc.get(), {}};
    BitmapDumpOps ops = bitmapDumpOps(&target);
    ops.chooseFile = [](void *context, bool *created) {
        ReplacingFile &file = static_cast<BitmapDumpTarget *>(context)->file;
        const long result = file.begin(chosenPath.c_str());
        *created = file.isOpen();
        return result;
    };
    ops.showMessage = [](void *, const char *, const char *text) {
        EXPECT_STREQ(text, expectedDumpMessage);
        EXPECT_EQ(++dumpMessages, 1) << "one box for the whole dump";
    };
    ScopedLocalMemory record(buildBitmapInfo(nullptr, bitmap.get()));
    writeBitmapRecord(ops, static_cast<std::uint8_t *>(record.get()));
    return dumpMessages > 0;
}

bool dumpFails(const std::string &path)
{
    return dumpOfSideFails(path, 64);
}

bool parametersFail(const std::string &path)
{
    return writeParameterBlock(path.c_str()) != 0;
}

std::set<std::string> namesIn(const std::string &dir)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*.*").c_str(), &found);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    FindClose(h);
    return names;
}

TEST(FullDisk, AFailedSaveKeepsTheOldFileAndLeavesNoTemporaryOrEmptyFile)
{
    const char *mounted = std::getenv("K614_FULL_DISK_DIR");
    if (!mounted)
        GTEST_SKIP() << "no small file system to fill (tests/win32/full_disk.sh mounts one)";
    const std::string dir = std::string("Z:") + mounted;
    struct Row {
        const char *name;
        const char *oldContent; // nullptr: a new name
        bool (*saveFails)(const std::string &path);
    };
    const Row rows[] = {
        {"old.614", "the user's last good parameter file", parametersFail},
        {"new.614", nullptr, parametersFail},
        {"old.bmp", "BM the user's last good screen dump", dumpFails},
        {"new.bmp", nullptr, dumpFails},
    };
    std::set<std::string> before = {"filler"};
    for (const Row &row : rows) {
        if (row.oldContent) {
            writeWholeFile(dir + "/" + row.name, row.oldContent);
            before.insert(row.name);
        }
    }
    writeWholeFile(dir + "/filler", std::string(1 << 16, 'f')); // more than the disk holds
    ASSERT_EQ(namesIn(dir), before);

    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir + "/" + row.name;
        EXPECT_TRUE(row.saveFails(path)) << "a save on a full disk reported no failure";
        if (row.oldContent) {
            EXPECT_EQ(readWholeFile(path), row.oldContent) << "the old file was touched";
        }
        EXPECT_EQ(namesIn(dir), before) << "a temporary file, or a new name, was left behind";
    }

    // Two free pages: room for the temporary file of a 32 x 32 dump (4150
    // bytes), none for the one-page old dump to grow into; it stays whole.
    ASSERT_TRUE(DeleteFileA((dir + "/filler").c_str()));
    expectedDumpMessage = "Error closing file...";
    EXPECT_TRUE(dumpOfSideFails(dir + "/old.bmp", 32)) << "a dump that did not fit reported no failure";
    EXPECT_EQ(readWholeFile(dir + "/old.bmp"), "BM the user's last good screen dump") << "the old dump was touched";
    before.erase("filler");
    EXPECT_EQ(namesIn(dir), before) << "a temporary file was left behind";
}

} // namespace
