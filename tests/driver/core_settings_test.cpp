// Settings: the parameters' defaults and ranges, Param's copy and Print, and
// loading and saving a camera's section of the settings file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "support/settings.h"

namespace {

using coretest::IniSectionText;

// ---- Param and CameraSettings ----

struct IntParamCase {
    const char* name;
    Param<int32_t> CameraSettings::*param;
    const char* key;
    int32_t value;
    int32_t maxValue;
    int32_t minValue;
};

const IntParamCase kIntParams[] = {
    {"ConnectionTimeout", &CameraSettings::ConnectionTimeout, "ConnectionTimeout", 3000, 10000, 100},
    {"LogLevel", &CameraSettings::LogLevel, "LogLevel", 1, 4, 0},
    {"LogIntoFile", &CameraSettings::LogIntoFile, "LogIntoFile", 0, 1, 0},
};

class IntParamDefaultsTest : public testing::TestWithParam<IntParamCase> {};

TEST_P(IntParamDefaultsTest, HasKeyDefaultAndRange) {
    const IntParamCase& row = GetParam();
    const CameraSettings settings;
    const Param<int32_t>& param = settings.*row.param;
    EXPECT_EQ(row.key, param.key);
    EXPECT_EQ(row.value, param.value);
    EXPECT_EQ(row.value, param.defaultValue);
    EXPECT_EQ(row.maxValue, param.maxValue);
    EXPECT_EQ(row.minValue, param.minValue);
}

INSTANTIATE_TEST_SUITE_P(Rows, IntParamDefaultsTest, testing::ValuesIn(kIntParams), RowName());

TEST(SettingsTest, PipeNameHasOneValueInAllFour) {
    const CameraSettings settings;
    EXPECT_EQ("PipeName", settings.PipeName.key);
    EXPECT_EQ("Camera Share", settings.PipeName.value);
    EXPECT_EQ("Camera Share", settings.PipeName.defaultValue);
    EXPECT_EQ("Camera Share", settings.PipeName.maxValue);
    EXPECT_EQ("Camera Share", settings.PipeName.minValue);
}

TEST(SettingsTest, IntParamTakesValueMaxMinInThatOrder) {
    const Param<int32_t> param("Key", 5, 9, -3);
    EXPECT_EQ("Key", param.key);
    EXPECT_EQ(5, param.value);
    EXPECT_EQ(9, param.maxValue);
    EXPECT_EQ(-3, param.minValue);
    EXPECT_EQ(5, param.defaultValue);
}

TEST(SettingsTest, ParamChecksNoRange) {
    Param<int32_t> param("Key", 50, 10, 20);
    EXPECT_EQ(50, param.value);
    param.value = -1000;
    EXPECT_EQ(-1000, param.value);
    EXPECT_EQ(50, param.defaultValue);
}

TEST(SettingsTest, CopyingAParamCopiesKeyAndAllFourValues) {
    Param<int32_t> original("Original", 1, 2, 0);
    original.value = 7;
    original.defaultValue = 6;

    Param<int32_t> constructed(original);
    Param<int32_t> assigned("Other", 100, 200, 50);
    assigned = original;
    original.key = "Changed";
    original.value = 99;

    for (const Param<int32_t>* copy : {&constructed, &assigned}) {
        EXPECT_EQ("Original", copy->key);
        EXPECT_EQ(7, copy->value);
        EXPECT_EQ(2, copy->maxValue);
        EXPECT_EQ(0, copy->minValue);
        EXPECT_EQ(6, copy->defaultValue);
    }
}

TEST(SettingsTest, CopyingSettingsCopiesAllFourParams) {
    CameraSettings original;
    original.PipeName.value = "Elsewhere";
    original.ConnectionTimeout.value = 400;
    original.LogLevel.value = 3;
    original.LogIntoFile.value = 1;

    const CameraSettings copy(original);
    original.PipeName.value = "Changed";

    EXPECT_EQ("Elsewhere", copy.PipeName.value);
    EXPECT_EQ("Camera Share", copy.PipeName.defaultValue);
    EXPECT_EQ(400, copy.ConnectionTimeout.value);
    EXPECT_EQ(10000, copy.ConnectionTimeout.maxValue);
    EXPECT_EQ(3, copy.LogLevel.value);
    EXPECT_EQ(1, copy.LogIntoFile.value);
}

TEST(SettingsTest, PrintWritesKeyEqualsValueAndLineFeed) {
    CameraSettings settings;
    settings.LogLevel.value = -5;
    std::ostringstream stream;

    std::ostream& returned = settings.PipeName.Print(stream);
    settings.ConnectionTimeout.Print(stream);
    const Param<int32_t>& asBase = settings.LogLevel;
    asBase.Print(stream);

    EXPECT_EQ(&stream, &returned);
    EXPECT_EQ("PipeName=Camera Share\nConnectionTimeout=3000\nLogLevel=-5\n", stream.str());
}

// ---- The settings file ----

class SettingsFileTest : public coretest::CoreTest {
protected:
    std::string IniText() const { return dir.Read("Quorvex.ini"); }

    // The file's lines without their line ends, and without blank lines
    // (wine rewrites a profile in its own layout).
    std::vector<std::string> IniLines() const {
        std::vector<std::string> lines;
        for (std::string line : coretest::Split(IniText(), "\n")) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    // Settings that differ from the defaults in every stored value.
    static CameraSettings Marked() {
        CameraSettings settings;
        settings.PipeName.value = "Marked Share";
        settings.LogLevel.value = 3;
        settings.ConnectionTimeout.value = 777;
        settings.LogIntoFile.value = 1;
        return settings;
    }
};

TEST_F(SettingsFileTest, IniPathIsSystemPathAndFileName) {
    EXPECT_EQ(dir.Path() + platform::kPathSeparator + "Quorvex.ini", GetIniPath(GetDriverState()));

    GetDriverState()->SetSystemPath("");
    EXPECT_EQ(std::string(1, platform::kPathSeparator) + "Quorvex.ini", GetIniPath(GetDriverState()));
}

TEST_F(SettingsFileTest, WithoutFileLoadingKeepsDefaultsAndCreatesNothing) {
    CameraSettings settings;

    EXPECT_TRUE(SerializeSettings("Camera 1", settings, false));

    EXPECT_EQ("Camera Share", settings.PipeName.value);
    EXPECT_EQ(1, settings.LogLevel.value);
    EXPECT_EQ(3000, settings.ConnectionTimeout.value);
    EXPECT_EQ(0, settings.LogIntoFile.value);
    EXPECT_FALSE(dir.Exists("Quorvex.ini"));
}

struct LoadCase {
    const char* name;
    std::string section;
    std::vector<std::string> lines;
    std::string pipeName;
    int32_t logLevel;
    int32_t connectionTimeout;
};

// Loading starts from Marked(): a key that is missing keeps that value.
std::vector<LoadCase> LoadCases() {
    return {
        {"AllThreeKeys",
         "Camera 1",
         {"PipeName=Other Share", "LogLevel=2", "ConnectionTimeout=250"},
         "Other Share",
         2,
         250},
        {"PipeNameOnly", "Camera 1", {"PipeName=Only Share"}, "Only Share", 3, 777},
        {"LogLevelOnly", "Camera 1", {"LogLevel=4"}, "Marked Share", 4, 777},
        {"ConnectionTimeoutOnly", "Camera 1", {"ConnectionTimeout=1500"}, "Marked Share", 3, 1500},
        {"LogLevelOutOfRangePasses", "Camera 1", {"LogLevel=9"}, "Marked Share", 9, 777},
        {"ConnectionTimeoutOutOfRangePasses", "Camera 1", {"ConnectionTimeout=50"}, "Marked Share", 3, 50},
        {"EmptySection", "Camera 1", {}, "Marked Share", 3, 777},
        {"OtherCameraSectionOnly", "Camera 2", {"PipeName=Not Mine", "LogLevel=0"}, "Marked Share", 3, 777},
        {"SectionAndKeysInOtherCase", "CAMERA 1", {"pipename=Any Case", "LOGLEVEL=2"}, "Any Case", 2, 777},
    };
}

class SettingsLoadTest : public SettingsFileTest, public testing::WithParamInterface<LoadCase> {};

TEST_P(SettingsLoadTest, LoadsStoredKeysAndKeepsMissingOnes) {
    const LoadCase& row = GetParam();
    WriteIni(IniSectionText(row.section, row.lines));
    const std::string before = IniText();
    CameraSettings settings = Marked();

    EXPECT_TRUE(SerializeSettings("Camera 1", settings, false));

    EXPECT_EQ(row.pipeName, settings.PipeName.value);
    EXPECT_EQ(row.logLevel, settings.LogLevel.value);
    EXPECT_EQ(row.connectionTimeout, settings.ConnectionTimeout.value);
    EXPECT_EQ(1, settings.LogIntoFile.value);
    EXPECT_EQ(10000, settings.ConnectionTimeout.maxValue);
    EXPECT_EQ(100, settings.ConnectionTimeout.minValue);
    EXPECT_EQ(before, IniText());
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingsLoadTest, testing::ValuesIn(LoadCases()), RowName());

TEST_F(SettingsFileTest, LongPipeNameIsReadAsItsFirst255Characters) {
    std::string stored;
    for (int i = 0; i < 300; ++i) {
        stored += static_cast<char>('a' + i % 26);
    }
    WriteIni(IniSectionText("Camera 1", {"PipeName=" + stored}));
    CameraSettings settings;

    SerializeSettings("Camera 1", settings, false);

    EXPECT_EQ(stored.substr(0, 255), settings.PipeName.value);
}

TEST_F(SettingsFileTest, LogIntoFileInTheFileHasNoEffect) {
    WriteIni(IniSectionText("Camera 1", {"LogIntoFile=1", "LogLevel=2"}));
    CameraSettings settings;

    SerializeSettings("Camera 1", settings, false);

    EXPECT_EQ(2, settings.LogLevel.value);
    EXPECT_EQ(0, settings.LogIntoFile.value);
}

TEST_F(SettingsFileTest, SavingWritesTheThreeKeysInOrder) {
    CameraSettings settings;

    EXPECT_TRUE(SerializeSettings("Camera 1", settings, true));

    EXPECT_EQ((std::vector<std::string>{"[Camera 1]", "PipeName=Camera Share", "LogLevel=1", "ConnectionTimeout=3000"}),
              IniLines());
}

TEST_F(SettingsFileTest, SavingASecondCameraAddsItsOwnSection) {
    CameraSettings first;
    SerializeSettings("Camera 1", first, true);
    CameraSettings second = Marked();

    SerializeSettings("Camera 2", second, true);

    EXPECT_EQ((std::vector<std::string>{"[Camera 1]", "PipeName=Camera Share", "LogLevel=1", "ConnectionTimeout=3000",
                                        "[Camera 2]", "PipeName=Marked Share", "LogLevel=3", "ConnectionTimeout=777"}),
              IniLines());
}

TEST_F(SettingsFileTest, SavingReplacesStoredValuesAndLoadingReadsThemBack) {
    WriteIni(IniSectionText("Camera 5", {"PipeName=Old", "LogLevel=4", "ConnectionTimeout=9000"}));
    CameraSettings saved = Marked();
    saved.ConnectionTimeout.value = -20;

    SerializeSettings("Camera 5", saved, true);
    CameraSettings loaded;
    SerializeSettings("Camera 5", loaded, false);

    EXPECT_EQ("Marked Share", loaded.PipeName.value);
    EXPECT_EQ(3, loaded.LogLevel.value);
    EXPECT_EQ(-20, loaded.ConnectionTimeout.value);
    EXPECT_EQ(0, loaded.LogIntoFile.value);
    EXPECT_EQ(std::string::npos, IniText().find("LogIntoFile"));
    EXPECT_EQ(std::string::npos, IniText().find("Old"));
}

TEST_F(SettingsFileTest, NullSectionDoesNothing) {
    CameraSettings settings = Marked();

    EXPECT_FALSE(SerializeSettings(nullptr, settings, true));
    EXPECT_FALSE(dir.Exists("Quorvex.ini"));

    WriteIni(IniSectionText("Camera 1", {"PipeName=Stored"}));
    EXPECT_FALSE(SerializeSettings(nullptr, settings, false));
    EXPECT_EQ("Marked Share", settings.PipeName.value);
    EXPECT_EQ(3, settings.LogLevel.value);
    EXPECT_EQ(777, settings.ConnectionTimeout.value);
}

TEST_F(SettingsFileTest, ALaterSystemPathTakesEffectAtTheNextLoad) {
    testsupport::TempDir otherDir;
    WriteIni(IniSectionText("Camera 1", {"PipeName=First Directory"}));
    otherDir.Write("Quorvex.ini", IniSectionText("Camera 1", {"PipeName=Second Directory"}));
    CameraSettings settings;

    SerializeSettings("Camera 1", settings, false);
    EXPECT_EQ("First Directory", settings.PipeName.value);

    GetDriverState()->SetSystemPath(otherDir.Path().c_str());
    SerializeSettings("Camera 1", settings, false);
    EXPECT_EQ("Second Directory", settings.PipeName.value);
    EXPECT_EQ(otherDir.Path() + platform::kPathSeparator + "Quorvex.ini", GetIniPath(GetDriverState()));
}

}  // namespace
