// The 88-byte parameter block on disk: exact image, round trip, long, short and locked files.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "base/result_codes.h"
#include "params/parameter_file_win32.h"
#include "params/parameter_set.h"
#include "scratch_dir.h"

namespace {

class ParameterFile : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&deviceParameters, 0, sizeof deviceParameters); }
    ScratchDir dir;
};

std::string blockImage()
{
    return std::string(reinterpret_cast<const char *>(&deviceParameters), PARAMETER_FILE_SIZE);
}

TEST_F(ParameterFile, SavedFileIsExactlyTheBlock)
{
    deviceParameters.limit1Mode = 2;
    deviceParameters.limit1Setpoint = 80;
    const std::string path = dir.path("a.614");
    ASSERT_EQ(writeParameterBlock(path.c_str()), 0);
    const std::string written = readWholeFile(path);
    ASSERT_EQ(written.size(), PARAMETER_FILE_SIZE);
    EXPECT_EQ(written.substr(0, 4), std::string("\x02\x00\x50\x00", 4));
}

TEST_F(ParameterFile, RoundTripKeepsUnitTextAndReservedBytes)
{
    for (std::size_t i = 0; i < PARAMETER_FILE_SIZE; ++i)
        reinterpret_cast<std::uint8_t *>(&deviceParameters)[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::string saved = blockImage();
    const std::string path = dir.path("b.614");
    ASSERT_EQ(writeParameterBlock(path.c_str()), 0);
    std::memset(&deviceParameters, 0, sizeof deviceParameters);
    ASSERT_EQ(readParameterBlock(path.c_str(), &deviceParameters), 0);
    EXPECT_EQ(blockImage(), saved);
}

TEST_F(ParameterFile, LongerFileContributesItsFirst88Bytes)
{
    std::string image(120, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i);
    writeWholeFile(dir.path("long.614"), image);
    ASSERT_EQ(readParameterBlock(dir.path("long.614").c_str(), &deviceParameters), 0);
    EXPECT_EQ(blockImage(), image.substr(0, PARAMETER_FILE_SIZE));
}

TEST_F(ParameterFile, ShortEmptyOrNewFileChangesNothing)
{
    deviceParameters.dvdt = 12;
    std::strcpy(deviceParameters.unitText, "MW");
    const std::string before = blockImage();

    writeWholeFile(dir.path("short.614"), std::string(40, '\x7F'));
    EXPECT_EQ(readParameterBlock(dir.path("short.614").c_str(), &deviceParameters), ERR_NOT_PARAMETER_FILE);
    EXPECT_EQ(blockImage(), before);

    writeWholeFile(dir.path("empty.614"), "");
    EXPECT_EQ(readParameterBlock(dir.path("empty.614").c_str(), &deviceParameters), ERR_NOT_PARAMETER_FILE);
    EXPECT_EQ(blockImage(), before);

    // A new name is created empty, as the open dialog offers it.
    const std::string fresh = dir.path("new.614");
    EXPECT_EQ(readParameterBlock(fresh.c_str(), &deviceParameters), ERR_NOT_PARAMETER_FILE);
    EXPECT_EQ(GetFileAttributesA(fresh.c_str()) != INVALID_FILE_ATTRIBUTES, true);
    EXPECT_EQ(blockImage(), before);
}

TEST_F(ParameterFile, LockedFileGivesTheSharingViolation)
{
    const std::string path = dir.path("locked.614");
    ASSERT_EQ(writeParameterBlock(path.c_str()), 0);
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readParameterBlock(path.c_str(), &deviceParameters), static_cast<long>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(writeParameterBlock(path.c_str()), static_cast<long>(ERROR_SHARING_VIOLATION));
    CloseHandle(other);
}

TEST_F(ParameterFile, SaveReplacesALongerFile)
{
    const std::string path = dir.path("c.614");
    writeWholeFile(path, std::string(500, 'x'));
    ASSERT_EQ(writeParameterBlock(path.c_str()), 0);
    EXPECT_EQ(readWholeFile(path).size(), PARAMETER_FILE_SIZE);
}

} // namespace
