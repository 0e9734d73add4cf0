#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "settings_file.h"
#include "support/temp_dir.h"

namespace {

TEST(SettingsFile, LiesInTheSystemFolderAsTheDriverNamesIt) {
    EXPECT_EQ(std::string("dir") + platform::kPathSeparator + "Quorvex.ini", tools::SettingsFilePath("dir"));
}

TEST(SettingsFile, WritesKeysIntoTheCamerasSection) {
    testsupport::TempDir dir;
    ASSERT_TRUE(tools::WriteCameraSetting(dir.Path(), "Camera 3", "PipeName", "Line 2"));
    ASSERT_TRUE(tools::WriteCameraSetting(dir.Path(), "Camera 3", "LogLevel", "4"));
    ASSERT_TRUE(dir.Exists("Quorvex.ini"));
    char value[64] = "poison";
    const std::string file = tools::SettingsFilePath(dir.Path());
    GetPrivateProfileStringA("Camera 3", "PipeName", "missing", value, sizeof value, file.c_str());
    EXPECT_STREQ("Line 2", value);
    EXPECT_EQ(4u, GetPrivateProfileIntA("Camera 3", "LogLevel", -1, file.c_str()));
    EXPECT_EQ(7u, GetPrivateProfileIntA("Camera 1", "LogLevel", 7, file.c_str())) << "another section untouched";
}

TEST(SettingsFile, AMissingFolderFails) {
    testsupport::TempDir dir;
    EXPECT_FALSE(tools::WriteCameraSetting(dir.File("missing"), "Camera 1", "LogLevel", "1"));
}

}  // namespace
