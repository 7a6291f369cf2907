// "K614Mon.cnf" read-or-create and write, against real files in a scratch directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "app/settings_file_win32.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "scratch_dir.h"

namespace {

std::string defaultImage()
{
    std::string s(SETTINGS_FILE_SIZE, '\0');
    s[0] = 1;
    s[260] = 1;
    return s;
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { setSettingsDefaults(); }
    ScratchDir dir;
};

TEST_F(SettingsFile, FirstRunCreatesTheDefaultImage)
{
    EXPECT_EQ(readSettingsFile(), 0);
    EXPECT_EQ(readWholeFile(dir.path(SETTINGS_FILE_NAME)), defaultImage());
    EXPECT_EQ(monitorSettings.comPort, 1);
    EXPECT_EQ(monitorSettings.rollMode, 1);
}

TEST_F(SettingsFile, ShortFileIsReportedKeepsDefaultsBehindAndIsMadeWhole)
{
    const std::string ten("\x04\x00\x11\x22\x33\x44\x55\x66\x77\x88", 10);
    writeWholeFile(dir.path(SETTINGS_FILE_NAME), ten);
    EXPECT_EQ(readSettingsFile(), ERR_SHORT_IO);
    EXPECT_EQ(monitorSettings.comPort, 4);
    EXPECT_EQ(monitorSettings.reserved1[0], 0x11);
    EXPECT_EQ(monitorSettings.reserved1[7], 0x88);
    EXPECT_EQ(monitorSettings.reserved1[8], 0);
    EXPECT_EQ(monitorSettings.rollMode, 1);
    EXPECT_EQ(writeSettingsFile(), 0);
    const std::string written = readWholeFile(dir.path(SETTINGS_FILE_NAME));
    ASSERT_EQ(written.size(), SETTINGS_FILE_SIZE);
    EXPECT_EQ(written.substr(0, 10), ten);
    EXPECT_EQ(written[260], 1);
}

TEST_F(SettingsFile, EmptyFileIsAShortRead)
{
    writeWholeFile(dir.path(SETTINGS_FILE_NAME), "");
    EXPECT_EQ(readSettingsFile(), ERR_SHORT_IO);
    EXPECT_EQ(monitorSettings.comPort, 1);
}

TEST_F(SettingsFile, LongerFileKeepsItsTailAcrossWrites)
{
    std::string image = defaultImage();
    image[0] = 3;
    image += std::string(20, '\x5A');
    writeWholeFile(dir.path(SETTINGS_FILE_NAME), image);
    EXPECT_EQ(readSettingsFile(), 0);
    EXPECT_EQ(monitorSettings.comPort, 3);
    monitorSettings.rollMode = 2;
    EXPECT_EQ(writeSettingsFile(), 0);
    const std::string written = readWholeFile(dir.path(SETTINGS_FILE_NAME));
    ASSERT_EQ(written.size(), 300u);
    EXPECT_EQ(written[260], 2);
    EXPECT_EQ(written.substr(280), std::string(20, '\x5A'));
}

TEST_F(SettingsFile, ReservedBytesSurviveRunAfterRun)
{
    std::string image = defaultImage();
    for (int i = 2; i < 260; ++i)
        image[i] = static_cast<char>(i);
    for (int i = 264; i < 280; ++i)
        image[i] = static_cast<char>(0xF0 + i - 264);
    writeWholeFile(dir.path(SETTINGS_FILE_NAME), image);
    for (int run = 0; run < 3; ++run) {
        setSettingsDefaults();
        ASSERT_EQ(readSettingsFile(), 0);
        monitorSettings.stopAtAlarm ^= 1;
        ASSERT_EQ(writeSettingsFile(), 0);
    }
    image[262] = 1;
    EXPECT_EQ(readWholeFile(dir.path(SETTINGS_FILE_NAME)), image);
}

TEST_F(SettingsFile, OutOfRangeValuesFallBackToDefaults)
{
    std::string image = defaultImage();
    image[0] = 42;
    image[260] = 9;
    image[262] = 5;
    writeWholeFile(dir.path(SETTINGS_FILE_NAME), image);
    EXPECT_EQ(readSettingsFile(), 0);
    EXPECT_EQ(monitorSettings.comPort, 1);
    EXPECT_EQ(monitorSettings.rollMode, 1);
    EXPECT_EQ(monitorSettings.stopAtAlarm, 0);
}

TEST_F(SettingsFile, FileHeldOpenElsewhereGivesTheSharingViolation)
{
    ASSERT_EQ(readSettingsFile(), 0);
    HANDLE other = CreateFileA(SETTINGS_FILE_NAME, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readSettingsFile(), static_cast<long>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(writeSettingsFile(), static_cast<long>(ERROR_SHARING_VIOLATION));
    CloseHandle(other);
    EXPECT_EQ(writeSettingsFile(), 0);
}

TEST_F(SettingsFile, DirectoryInsteadOfAFileIsAnError)
{
    ASSERT_TRUE(CreateDirectoryA(SETTINGS_FILE_NAME, nullptr));
    EXPECT_NE(readSettingsFile(), 0);
    EXPECT_NE(writeSettingsFile(), 0);
    RemoveDirectoryA(SETTINGS_FILE_NAME);
}

} // namespace
