// The settings dialog's rules, without a window: CCameraProp driven through
// its DialogControls by a fake toolkit that keeps each control's state and
// every call made to it. The fake delivers a text-changed notification for
// each text set into an edit, as Win32 and GTK do, and drops it while the
// dialog is transferring, as both adapters do; the real windows are tried in
// dialog_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/driver_state.h"
#include "support/row_name.h"
#include "support/settings.h"
#include "support/temp_dir.h"
#include "ui/camera_prop.h"
#include "ui/resource.h"

namespace {

constexpr int kIdOk = 1;
constexpr char kNoShare[] = "Please provide Share Name";
constexpr char kBadLevel[] = "Log level not in range";

// The sentence every face shows for a share name the driver would read back
// as another, kept for the rows' lifetime.
const char* Refused(const std::string& share, const std::string& reason) {
    static std::vector<std::unique_ptr<std::string>> kept;
    kept.push_back(std::make_unique<std::string>("the share name \"" + share + "\" is refused: " + reason));
    return kept.back()->c_str();
}
constexpr char kBlankDropped[] = "it begins or ends with a blank, which the driver drops";
constexpr char kQuotesDropped[] = "it is enclosed in quotes, which the driver drops";

// Each control's state, and every call in order, one line each.
class FakeControls : public DialogControls {
public:
    explicit FakeControls(CCameraProp& prop_) : prop(prop_) {}

    std::string GetText(int controlId) override {
        calls.push_back("GetText " + std::to_string(controlId));
        return texts[controlId];
    }
    void SetText(int controlId, const std::string& text) override {
        calls.push_back("SetText " + std::to_string(controlId) + " \"" + text + "\"");
        texts[controlId] = text;
        if (controlId == IDC_SHARE_NAME || controlId == IDC_LOG_LEVEL) {
            Changed();
        }
    }
    bool IsChecked(int controlId) override {
        calls.push_back("IsChecked " + std::to_string(controlId));
        return checked[controlId];
    }
    void SetChecked(int controlId, bool value) override {
        calls.push_back("SetChecked " + std::to_string(controlId) + " " + (value ? "1" : "0"));
        checked[controlId] = value;
    }
    void Enable(int controlId, bool value) override {
        calls.push_back("Enable " + std::to_string(controlId) + " " + (value ? "1" : "0"));
        enabled[controlId] = value;
    }
    void SetStatusText(const char* text) override {
        calls.push_back(std::string("Status \"") + text + "\"");
        status = text;
    }

    // The user's own edits, which the toolkit reports like any other.
    void UserTypes(int controlId, const std::string& text) {
        texts[controlId] = text;
        Changed();
    }
    // A click on the check box: no handler runs.
    void UserToggles(int controlId) { checked[controlId] = !checked[controlId]; }

    std::map<int, std::string> texts;
    std::map<int, bool> checked;
    std::map<int, bool> enabled;
    std::string status = "<never set>";
    std::vector<std::string> calls;
    int dropped = 0;

private:
    void Changed() {
        if (prop.IsTransferring()) {
            ++dropped;
        } else {
            prop.ValidateInput(*this);
        }
    }

    CCameraProp& prop;
};

// One dialog as the adapters run it: shown, edited, then closed with OK
// (which ends it only while enabled, with one more transfer) or Cancel.
class FakeDialog {
public:
    explicit FakeDialog(CameraSettings& settings) : prop("Configure camera on port #2: Camera 1", &settings) {}

    void Show() {
        prop.DoDataExchange(controls, false);
        prop.ValidateInput(controls);
    }
    // True when OK ended the dialog.
    bool PressOk() {
        if (!controls.enabled[kIdOk]) {
            return false;
        }
        prop.DoDataExchange(controls, true);
        return true;
    }

    CCameraProp prop;
    FakeControls controls{prop};
};

using Calls = std::vector<std::string>;

CameraSettings Record(const std::string& pipeName, int32_t logLevel, int32_t logIntoFile) {
    CameraSettings settings;
    settings.PipeName.value = pipeName;
    settings.LogLevel.value = logLevel;
    settings.LogIntoFile.value = logIntoFile;
    return settings;
}

// Every field of both records alike, ranges and defaults included.
testing::AssertionResult SameRecord(const CameraSettings& actual, const CameraSettings& expected) {
    const auto same = [](const auto& a, const auto& b) {
        return a.key == b.key && a.value == b.value && a.minValue == b.minValue && a.maxValue == b.maxValue &&
               a.defaultValue == b.defaultValue;
    };
    if (same(actual.PipeName, expected.PipeName) && same(actual.ConnectionTimeout, expected.ConnectionTimeout) &&
        same(actual.LogLevel, expected.LogLevel) && same(actual.LogIntoFile, expected.LogIntoFile)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "the record holds \"" << actual.PipeName.value << "\", level "
                                       << actual.LogLevel.value << " [" << actual.LogLevel.minValue << ", "
                                       << actual.LogLevel.maxValue << "], timeout " << actual.ConnectionTimeout.value
                                       << ", into file " << actual.LogIntoFile.value << "; expected \""
                                       << expected.PipeName.value << "\", level " << expected.LogLevel.value << " ["
                                       << expected.LogLevel.minValue << ", " << expected.LogLevel.maxValue
                                       << "], timeout " << expected.ConnectionTimeout.value << ", into file "
                                       << expected.LogIntoFile.value;
}

TEST(DialogRules, ShowFillsTheControlsInOrderThenChecksThem) {
    CameraSettings settings;
    FakeDialog dialog(settings);
    dialog.Show();
    EXPECT_EQ(dialog.controls.calls,
              Calls({"SetText 1000 \"Camera Share\"", "SetText 1001 \"1\"", "SetChecked 1002 0", "GetText 1000",
                     "GetText 1001", "IsChecked 1002", "SetText 1003 \"[0 ... 4]\"", "Enable 1 1", "Status \"\""}));
}

// The dialog's own text changes are not the user's: were they handled, the
// share name's change would read the still empty log level into the record.
TEST(DialogRules, ChangesMadeByTheTransferAreDropped) {
    CameraSettings settings = Record("Share", 3, 0);
    FakeDialog dialog(settings);
    dialog.Show();
    EXPECT_EQ(dialog.controls.dropped, 2);
    EXPECT_EQ(dialog.controls.texts[IDC_LOG_LEVEL], "3");
    EXPECT_EQ(settings.LogLevel.value, 3);
    EXPECT_FALSE(dialog.prop.IsTransferring());
}

TEST(DialogRules, CheckBoxRunsNoHandler) {
    CameraSettings settings;
    FakeDialog dialog(settings);
    dialog.Show();
    dialog.controls.calls.clear();
    dialog.controls.UserToggles(IDC_LOG_INTO_FILE);
    EXPECT_TRUE(dialog.controls.calls.empty());
    EXPECT_EQ(settings.LogIntoFile.value, 0);
}

TEST(DialogRules, CaptionIsKeptAsGiven) {
    CameraSettings settings;
    FakeDialog dialog(settings);
    EXPECT_EQ(dialog.prop.Caption(), "Configure camera on port #2: Camera 1");
}

struct ShowRow {
    const char* name;
    CameraSettings record;
    const char* shareShown;
    const char* levelShown;
    bool checked;
    const char* range;
    bool okEnabled;
    const char* status;

    friend void PrintTo(const ShowRow& row, std::ostream* out) { *out << row.name; }
};

CameraSettings WithRange(CameraSettings settings, int32_t minValue, int32_t maxValue) {
    settings.LogLevel.minValue = minValue;
    settings.LogLevel.maxValue = maxValue;
    return settings;
}

class DialogRulesShow : public testing::TestWithParam<ShowRow> {};

// What the dialog shows as it opens, and that opening changes nothing.
TEST_P(DialogRulesShow, ShowsTheRecord) {
    const ShowRow& row = GetParam();
    CameraSettings settings = row.record;
    FakeDialog dialog(settings);
    dialog.Show();
    FakeControls& controls = dialog.controls;
    EXPECT_EQ(controls.texts[IDC_SHARE_NAME], row.shareShown);
    EXPECT_EQ(controls.texts[IDC_LOG_LEVEL], row.levelShown);
    EXPECT_EQ(controls.checked[IDC_LOG_INTO_FILE], row.checked);
    EXPECT_EQ(controls.texts[IDC_LOG_LEVEL_RANGE], row.range);
    EXPECT_EQ(controls.enabled[kIdOk], row.okEnabled);
    EXPECT_EQ(controls.status, row.status);
    // The check box shows only 1 as checked; any other value reads back as 0.
    CameraSettings expected = row.record;
    expected.LogIntoFile.value = row.checked ? 1 : 0;
    EXPECT_TRUE(SameRecord(settings, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DialogRulesShow,
    testing::Values(
        ShowRow{"Defaults", CameraSettings{}, "Camera Share", "1", false, "[0 ... 4]", true, ""},
        ShowRow{"Stored", Record("Line 7", 4, 1), "Line 7", "4", true, "[0 ... 4]", true, ""},
        ShowRow{"LogIntoFileTwo", Record("S", 0, 2), "S", "0", false, "[0 ... 4]", true, ""},
        ShowRow{"LogIntoFileMinusOne", Record("S", 0, -1), "S", "0", false, "[0 ... 4]", true, ""},
        ShowRow{"BlankShare", Record("   ", 2, 0), "   ", "2", false, "[0 ... 4]", false,
                Refused("   ", kBlankDropped)},
        ShowRow{"QuotedShare", Record("'S'", 2, 0), "'S'", "2", false, "[0 ... 4]", false,
                Refused("'S'", kQuotesDropped)},
        // Both wrong: the share name is checked last and named.
        ShowRow{"LevelAndShareInvalid", Record("S ", 7, 0), "S ", "7", false, "[0 ... 4]", false,
                Refused("S ", kBlankDropped)},
        ShowRow{"EmptyShare", Record("", 1, 0), "", "1", false, "[0 ... 4]", false, kNoShare},
        ShowRow{"LevelAboveMaximum", Record("S", 9, 0), "S", "9", false, "[0 ... 4]", false, kBadLevel},
        ShowRow{"LevelBelowMinimum", Record("S", -3, 0), "S", "-3", false, "[0 ... 4]", false, kBadLevel},
        ShowRow{"LevelLowest", Record("S", INT32_MIN, 0), "S", "-2147483648", false, "[0 ... 4]", false, kBadLevel},
        ShowRow{"LevelHighest", Record("S", INT32_MAX, 0), "S", "2147483647", false, "[0 ... 4]", false, kBadLevel},
        // Both wrong: the share name is checked last and named.
        ShowRow{"BothInvalid", Record("", 12, 0), "", "12", false, "[0 ... 4]", false, kNoShare},
        // The range shown is the record's own, smallest first.
        ShowRow{"OwnRange", WithRange(Record("S", 3, 0), 2, 3), "S", "3", false, "[2 ... 3]", true, ""},
        ShowRow{"OwnRangeBelow", WithRange(Record("S", 1, 0), 2, 3), "S", "1", false, "[2 ... 3]", false, kBadLevel},
        ShowRow{"NegativeRange", WithRange(Record("S", -1, 0), -5, -1), "S", "-1", false, "[-5 ... -1]", true, ""}),
    RowName());

struct EditRow {
    const char* name;
    int controlId;
    std::string text;
    bool okEnabled;
    const char* status;
    // The record after the edit (which goes into it at once) and after OK.
    const char* pipeName;
    int32_t logLevel;

    friend void PrintTo(const EditRow& row, std::ostream* out) { *out << row.name; }
};

constexpr char kRowShare[] = "Row Share";
constexpr int32_t kRowLevel = 1;

class DialogRulesEdit : public testing::TestWithParam<EditRow> {};

// Each edit is read into the record at once and checked; OK, while enabled,
// reads the controls once more and ends the dialog.
TEST_P(DialogRulesEdit, ReadsChecksAndStores) {
    const EditRow& row = GetParam();
    CameraSettings settings = Record(kRowShare, kRowLevel, 1);
    FakeDialog dialog(settings);
    dialog.Show();
    dialog.controls.UserTypes(row.controlId, row.text);

    CameraSettings expected = Record(row.pipeName, row.logLevel, 1);
    EXPECT_EQ(dialog.controls.enabled[kIdOk], row.okEnabled);
    EXPECT_EQ(dialog.controls.status, row.status);
    EXPECT_EQ(dialog.controls.texts[IDC_LOG_LEVEL_RANGE], "[0 ... 4]");
    EXPECT_EQ(dialog.controls.texts[row.controlId], row.text) << "the dialog rewrote what was typed";
    EXPECT_TRUE(SameRecord(settings, expected));
    EXPECT_EQ(dialog.PressOk(), row.okEnabled);
    EXPECT_TRUE(SameRecord(settings, expected));
}

const std::string kLongShare(300, 'n');
const std::string kShare256(256, 's');
const std::string kShare255(255, 's');

INSTANTIATE_TEST_SUITE_P(
    Rows, DialogRulesEdit,
    testing::Values(
        EditRow{"ShareCleared", IDC_SHARE_NAME, "", false, kNoShare, "", kRowLevel},
        EditRow{"ShareBlanksOnly", IDC_SHARE_NAME, "   ", false, Refused("   ", kBlankDropped), "   ", kRowLevel},
        EditRow{"ShareTyped", IDC_SHARE_NAME, "Line 7 Share-b", true, "", "Line 7 Share-b", kRowLevel},
        // The whole text goes into the record, but a name the driver
        // reads only 255 bytes of is refused, with the same words as
        // the host library's.
        EditRow{"ShareLong", IDC_SHARE_NAME, kLongShare, false,
                Refused(kLongShare, "it is 256 bytes or longer, and the driver reads at most 255"), kLongShare.c_str(),
                kRowLevel},
        EditRow{"Share256Bytes", IDC_SHARE_NAME, kShare256, false,
                Refused(kShare256, "it is 256 bytes or longer, and the driver reads at most 255"), kShare256.c_str(),
                kRowLevel},
        EditRow{"Share255Bytes", IDC_SHARE_NAME, kShare255, true, "", kShare255.c_str(), kRowLevel},
        EditRow{"ShareLineBreak", IDC_SHARE_NAME, "mine\n[Camera 2]\nPipeName=stolen", false,
                Refused("mine\n[Camera 2]\nPipeName=stolen", "it holds a line break"),
                "mine\n[Camera 2]\nPipeName=stolen", kRowLevel},
        EditRow{"ShareCarriageReturn", IDC_SHARE_NAME, "mine\rmore", false,
                Refused("mine\rmore", "it holds a line break"), "mine\rmore", kRowLevel},
        EditRow{"ShareTabInside", IDC_SHARE_NAME, "a\tb", false, Refused("a\tb", "it holds a control character"),
                "a\tb", kRowLevel},
        EditRow{"ShareDoubleQuotes", IDC_SHARE_NAME, "\"quoted\"", false, Refused("\"quoted\"", kQuotesDropped),
                "\"quoted\"", kRowLevel},
        EditRow{"ShareSingleQuotes", IDC_SHARE_NAME, "'quoted'", false, Refused("'quoted'", kQuotesDropped), "'quoted'",
                kRowLevel},
        EditRow{"ShareLeadingBlank", IDC_SHARE_NAME, " share", false, Refused(" share", kBlankDropped), " share",
                kRowLevel},
        EditRow{"ShareTrailingBlank", IDC_SHARE_NAME, "share ", false, Refused("share ", kBlankDropped), "share ",
                kRowLevel},
        // Read back as written: quotes inside, one quote, = ; and brackets.
        EditRow{"ShareQuotesInside", IDC_SHARE_NAME, "a \"quote\" inside", true, "", "a \"quote\" inside", kRowLevel},
        EditRow{"ShareHalfQuoted", IDC_SHARE_NAME, "'half", true, "", "'half", kRowLevel},
        EditRow{"ShareIniPunctuation", IDC_SHARE_NAME, "with = and ; and [brackets]", true, "",
                "with = and ; and [brackets]", kRowLevel},
        EditRow{"LevelMinimum", IDC_LOG_LEVEL, "0", true, "", kRowShare, 0},
        EditRow{"LevelMaximum", IDC_LOG_LEVEL, "4", true, "", kRowShare, 4},
        EditRow{"LevelFive", IDC_LOG_LEVEL, "5", false, kBadLevel, kRowShare, 5},
        EditRow{"LevelMinusOne", IDC_LOG_LEVEL, "-1", false, kBadLevel, kRowShare, -1},
        // Read as atoi reads: never an error, and no digits give 0.
        EditRow{"LevelLettersOnly", IDC_LOG_LEVEL, "abc", true, "", kRowShare, 0},
        EditRow{"LevelCleared", IDC_LOG_LEVEL, "", true, "", kRowShare, 0},
        EditRow{"LevelTwoThenLetters", IDC_LOG_LEVEL, "2abc", true, "", kRowShare, 2},
        EditRow{"LevelDecimal", IDC_LOG_LEVEL, "3.9", true, "", kRowShare, 3},
        EditRow{"LevelHexadecimal", IDC_LOG_LEVEL, "0x3", true, "", kRowShare, 0},
        EditRow{"LevelLeadingZeros", IDC_LOG_LEVEL, "0003", true, "", kRowShare, 3},
        EditRow{"LevelBlanksAndPlus", IDC_LOG_LEVEL, "  +3", true, "", kRowShare, 3},
        EditRow{"LevelTabAndNewline", IDC_LOG_LEVEL, "\t\n2", true, "", kRowShare, 2},
        EditRow{"LevelSignOnly", IDC_LOG_LEVEL, "-", true, "", kRowShare, 0},
        EditRow{"LevelBlankAfterSign", IDC_LOG_LEVEL, "- 2", true, "", kRowShare, 0},
        EditRow{"LevelTwoSigns", IDC_LOG_LEVEL, "+-2", true, "", kRowShare, 0},
        EditRow{"LevelMinusZero", IDC_LOG_LEVEL, "-0", true, "", kRowShare, 0},
        EditRow{"LevelTrailingBlank", IDC_LOG_LEVEL, "4 ", true, "", kRowShare, 4},
        EditRow{"LevelHighest", IDC_LOG_LEVEL, "2147483647", false, kBadLevel, kRowShare, INT32_MAX},
        EditRow{"LevelBeyond32Bits", IDC_LOG_LEVEL, "99999999999", false, kBadLevel, kRowShare, INT32_MAX},
        EditRow{"LevelLowest", IDC_LOG_LEVEL, "-2147483648", false, kBadLevel, kRowShare, INT32_MIN},
        EditRow{"LevelBelow32Bits", IDC_LOG_LEVEL, "-99999999999", false, kBadLevel, kRowShare, INT32_MIN},
        // Beyond 32 bits the value stops at the limit: cut to 32 bits it would
        // wrap round to 1, inside the range.
        EditRow{"LevelTwoTo32PlusOne", IDC_LOG_LEVEL, "4294967297", false, kBadLevel, kRowShare, INT32_MAX}),
    RowName());

// The status bar names the problem checked last and clears only once the
// input is valid again; OK follows.
TEST(DialogRules, StatusFollowsEachEdit) {
    struct Step {
        int controlId;
        const char* text;
        bool okEnabled;
        const char* status;
    };
    const Step steps[] = {{IDC_LOG_LEVEL, "7", false, kBadLevel},  {IDC_SHARE_NAME, "", false, kNoShare},
                          {IDC_LOG_LEVEL, "3", false, kNoShare},   {IDC_SHARE_NAME, "x", true, ""},
                          {IDC_LOG_LEVEL, "-5", false, kBadLevel}, {IDC_LOG_LEVEL, "1", true, ""}};
    CameraSettings settings;
    FakeDialog dialog(settings);
    dialog.Show();
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string("typed \"") + step.text + "\" into " + std::to_string(step.controlId));
        dialog.controls.UserTypes(step.controlId, step.text);
        EXPECT_EQ(dialog.controls.enabled[kIdOk], step.okEnabled);
        EXPECT_EQ(dialog.controls.status, step.status);
    }
    EXPECT_TRUE(dialog.PressOk());
    EXPECT_TRUE(SameRecord(settings, Record("x", 1, 0)));
}

// Both problems at once: each goes through the status bar in turn, and the
// share name's stays.
TEST(DialogRules, BothProblemsAreReportedInOrder) {
    CameraSettings settings = Record("", 8, 0);
    FakeDialog dialog(settings);
    dialog.Show();
    EXPECT_EQ(dialog.controls.calls,
              Calls({"SetText 1000 \"\"", "SetText 1001 \"8\"", "SetChecked 1002 0", "GetText 1000", "GetText 1001",
                     "IsChecked 1002", "SetText 1003 \"[0 ... 4]\"", "Status \"Log level not in range\"",
                     "Status \"Please provide Share Name\"", "Enable 1 0"}));
}

TEST(DialogRules, OkWhileDisabledDoesNotEndTheDialog) {
    CameraSettings settings = Record("S", 9, 0);
    FakeDialog dialog(settings);
    dialog.Show();
    dialog.controls.calls.clear();
    EXPECT_FALSE(dialog.PressOk());
    EXPECT_TRUE(dialog.controls.calls.empty());
}

// OK reads every control once more, the check box included, whose clicks
// ran no handler.
TEST(DialogRules, OkReadsTheCheckBox) {
    CameraSettings settings = Record("S", 2, 0);
    FakeDialog dialog(settings);
    dialog.Show();
    dialog.controls.UserToggles(IDC_LOG_INTO_FILE);
    dialog.controls.calls.clear();
    EXPECT_TRUE(dialog.PressOk());
    EXPECT_EQ(dialog.controls.calls, Calls({"GetText 1000", "GetText 1001", "IsChecked 1002"}));
    EXPECT_TRUE(SameRecord(settings, Record("S", 2, 1)));
}

// The fields the dialog does not show stay as they were, whatever is typed.
TEST(DialogRules, EditsLeaveTheOtherFieldsAlone) {
    CameraSettings settings = WithRange(Record("S", 2, 0), 1, 3);
    settings.ConnectionTimeout.value = 7777;
    FakeDialog dialog(settings);
    dialog.Show();
    dialog.controls.UserTypes(IDC_SHARE_NAME, "T");
    dialog.controls.UserTypes(IDC_LOG_LEVEL, "3");
    EXPECT_TRUE(dialog.PressOk());
    CameraSettings expected = WithRange(Record("T", 3, 0), 1, 3);
    expected.ConnectionTimeout.value = 7777;
    EXPECT_TRUE(SameRecord(settings, expected));
}

// What OK leaves in the record reaches the camera's section of the settings
// file under three keys; the log-to-file choice stays in memory.
TEST(DialogRules, OkRecordIsStoredUnderThreeKeys) {
    testsupport::TempDir dir;
    // The settings file goes to the system folder the driver was given.
    struct SystemFolder {
        explicit SystemFolder(const std::string& path) { GetDriverState()->SetSystemPath(path.c_str()); }
        ~SystemFolder() { GetDriverState()->SetSystemPath(""); }
    } systemFolder(dir.Path());
    CameraSettings settings = Record("S", 2, 0);
    settings.ConnectionTimeout.value = 4321;
    FakeDialog dialog(settings);
    dialog.Show();
    dialog.controls.UserTypes(IDC_SHARE_NAME, "Stored Share");
    dialog.controls.UserTypes(IDC_LOG_LEVEL, "4");
    dialog.controls.UserToggles(IDC_LOG_INTO_FILE);
    ASSERT_TRUE(dialog.PressOk());
    ASSERT_TRUE(SerializeSettings("Camera 9", settings, true));

    const std::string file = dir.Read("Quorvex.ini");
    EXPECT_NE(file.find("[Camera 9]"), std::string::npos) << file;
    EXPECT_NE(file.find("PipeName=Stored Share"), std::string::npos) << file;
    EXPECT_NE(file.find("LogLevel=4"), std::string::npos) << file;
    EXPECT_NE(file.find("ConnectionTimeout=4321"), std::string::npos) << file;
    EXPECT_EQ(file.find("LogIntoFile"), std::string::npos) << file;

    CameraSettings loaded;
    ASSERT_TRUE(SerializeSettings("Camera 9", loaded, false));
    CameraSettings expected = Record("Stored Share", 4, 0);
    expected.ConnectionTimeout.value = 4321;
    EXPECT_TRUE(SameRecord(loaded, expected));
}

struct StatusRow {
    const char* name;
    std::string argument;
    std::string shown;

    friend void PrintTo(const StatusRow& row, std::ostream* out) { *out << row.name; }
};

class DialogRulesStatus : public testing::TestWithParam<StatusRow> {};

// The status bar's text is formatted into 255 characters, the terminator
// included: a longer one is cut.
TEST_P(DialogRulesStatus, FormatsIntoTheBar) {
    const StatusRow& row = GetParam();
    CameraSettings settings;
    CCameraProp prop("caption", &settings);
    FakeControls controls(prop);
    prop.ShowStatus(controls, "%s", row.argument.c_str());
    EXPECT_EQ(controls.status, row.shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, DialogRulesStatus,
                         testing::Values(StatusRow{"Empty", "", ""}, StatusRow{"Short", "Short", "Short"},
                                         StatusRow{"Fits", std::string(254, 'a'), std::string(254, 'a')},
                                         StatusRow{"OneTooLong", std::string(255, 'b'), std::string(254, 'b')},
                                         StatusRow{"FarTooLong", std::string(1000, 'c'), std::string(254, 'c')}),
                         RowName());

TEST(DialogRules, StatusFormatsLikePrintf) {
    CameraSettings settings;
    CCameraProp prop("caption", &settings);
    FakeControls controls(prop);
    prop.ShowStatus(controls, "%d of %s", -3, "x");
    EXPECT_EQ(controls.status, "-3 of x");
}

}  // namespace
