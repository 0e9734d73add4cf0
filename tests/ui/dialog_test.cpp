// The camera settings dialog as a host's user meets it: configureCamera runs
// on a thread of its own, as on a host's window thread, while the test finds
// the dialog on the screen, types, reads what it shows and closes it. What
// OK stores is checked in the settings file, in the next dialog and in what
// the next open of the camera does.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dialog_driver.h"
#include "host_harness.h"
#include "ui/resource.h"

namespace dialogtest {
namespace {

using hosttest::CameraSection;
using hosttest::operator<<;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
// The first dialog of a process also loads GTK, which takes a while under a
// sanitizer.
constexpr int kDialogTimeoutMs = 30000;
constexpr int kCloseTimeoutMs = 10000;
constexpr int kNoPortInCaption = -1;

// The keys of one section of the settings file, in the file's order, as
// written (no blanks trimmed).
using Keys = std::vector<std::pair<std::string, std::string>>;

Keys ParseSection(const std::string& file, const std::string& section) {
    Keys keys;
    bool inSection = false;
    size_t at = 0;
    while (at < file.size()) {
        size_t end = file.find('\n', at);
        if (end == std::string::npos) {
            end = file.size();
        }
        std::string line = file.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[" + section + "]";
            continue;
        }
        const size_t equals = line.find('=');
        if (inSection && equals != std::string::npos) {
            keys.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return keys;
}

Keys StoredKeys(const std::string& pipeName, int logLevel, int connectionTimeout) {
    return Keys{{"PipeName", pipeName},
                {"LogLevel", std::to_string(logLevel)},
                {"ConnectionTimeout", std::to_string(connectionTimeout)}};
}

std::string CaptionOf(int port, const std::string& cameraName) {
    return "Configure camera on port #" + std::to_string(port) + ": " + cameraName;
}

// configureCamera(null window, name) on a thread of its own.
class ConfigureCall {
public:
    ConfigureCall(const hosttest::DriverExports& driver, std::string cameraName) : name(std::move(cameraName)) {
        thread = std::thread([this, &driver] {
            threadId = GetCurrentThreadId();
            const int returned = driver.configureCamera(nullptr, name.c_str());
            {
                std::lock_guard<std::mutex> hold(mutex);
                result = returned;
            }
            returned_.notify_all();
        });
    }
    ~ConfigureCall() { thread.join(); }
    ConfigureCall(const ConfigureCall&) = delete;
    ConfigureCall& operator=(const ConfigureCall&) = delete;

    // What configureCamera returned, or nothing while it has not returned.
    std::optional<int> Result(int timeoutMs) {
        std::unique_lock<std::mutex> hold(mutex);
        returned_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return result.has_value(); });
        return result;
    }
    DWORD ThreadId() const { return threadId; }

private:
    const std::string name;
    std::mutex mutex;
    std::condition_variable returned_;
    std::optional<int> result;
    std::atomic<DWORD> threadId{0};
    std::thread thread;
};

class DialogTest : public hosttest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        const std::string problem = DialogDriver::DisplayProblem();
        if (!problem.empty()) {
            FAIL() << "The settings dialog cannot be shown here: " << problem;
        }
        dialog = DialogDriver::Create();
        ASSERT_EQ(Initialize(), 1);
    }

    // A dialog a failed test left open is cancelled, so that the call ends.
    // One that cannot be closed would keep its thread, and the program, from
    // ever ending: the run stops at once instead.
    void TearDown() override {
        if (call && !call->Result(0)) {
            dialog->Click(kIdCancel);
            if (!call->Result(kCloseTimeoutMs)) {
                std::cerr << "configureCamera did not return after Cancel; stopping the run\n";
                std::abort();
            }
        }
        call.reset();
        HostTest::TearDown();
    }

    // Starts configureCamera for a camera not open on any port and waits for
    // its dialog.
    testing::AssertionResult ShowDialog(const std::string& cameraName, int portInCaption = kNoPortInCaption) {
        call = std::make_unique<ConfigureCall>(driver, cameraName);
        testing::AssertionResult shown = dialog->WaitForDialog(CaptionOf(portInCaption, cameraName), kDialogTimeoutMs);
        if (!shown) {
            shown << DialogMissingContext();
        }
        return shown;
    }

    // What tells apart a dialog that was never made from one that was not
    // found: the display, whether configureCamera returned, what it logged.
    std::string DialogMissingContext() {
        const char* display = std::getenv("DISPLAY");
        std::ostringstream context;
        context << "; DISPLAY=" << (display != nullptr ? display : "(unset)") << "; configureCamera ";
        const std::optional<int> result = call->Result(0);
        if (result) {
            context << "returned " << *result;
        } else {
            context << "has not returned";
        }
        context << "; the log:";
        for (const std::string& message : log.MessagesOf(call->ThreadId())) {
            context << "\n  " << message;
        }
        return context.str();
    }

    // Closes the dialog with a button and returns configureCamera's result.
    std::optional<int> CloseWith(int buttonId) {
        dialog->Click(buttonId);
        return Returned();
    }

    std::optional<int> Returned() {
        const std::optional<int> result = call->Result(kCloseTimeoutMs);
        call.reset();
        return result;
    }

    testing::AssertionResult Shows(bool okEnabled, const std::string& status) {
        const bool enabled = dialog->IsEnabled(kIdOk);
        const std::string shown = dialog->Text(IDC_STATUS_BAR);
        if (enabled != okEnabled || shown != status) {
            return testing::AssertionFailure()
                   << "OK is " << (enabled ? "enabled" : "disabled") << " with status \"" << shown << "\"; expected "
                   << (okEnabled ? "enabled" : "disabled") << " with \"" << status << "\"";
        }
        return testing::AssertionSuccess();
    }

    // What the dialog shows in its share name, log level and check box.
    testing::AssertionResult ShowsValues(const std::string& shareName, const std::string& logLevel, bool logIntoFile) {
        const std::string share = dialog->Text(IDC_SHARE_NAME);
        const std::string level = dialog->Text(IDC_LOG_LEVEL);
        const bool checked = dialog->IsChecked(IDC_LOG_INTO_FILE);
        if (share != shareName || level != logLevel || checked != logIntoFile) {
            return testing::AssertionFailure()
                   << "the dialog shows \"" << share << "\", \"" << level << "\", "
                   << (checked ? "checked" : "unchecked") << "; expected \"" << shareName << "\", \"" << logLevel
                   << "\", " << (logIntoFile ? "checked" : "unchecked");
        }
        return testing::AssertionSuccess();
    }

    std::string SystemFile(const char* name) const { return systemDir.Path() + platform::kPathSeparator + name; }

    // The settings file's bytes; "<no file>" when there is none.
    std::string IniFile() const {
        std::ifstream file(SystemFile("Quorvex.ini"), std::ios::binary);
        if (!file) {
            return "<no file>";
        }
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    Keys StoredSection(const std::string& cameraName) const { return ParseSection(IniFile(), cameraName); }

    void TakeScreenshot(const std::string& name) {
        const std::string problem = dialog->Screenshot(name);
        if (!problem.empty()) {
            std::cout << "No screenshot " << name << ": " << problem << "\n";
        }
    }

    std::unique_ptr<DialogDriver> dialog;
    std::unique_ptr<ConfigureCall> call;
};

TEST_F(DialogTest, ShowsTheStoredSettingsOfACameraNotOpened) {
    WriteSection("Camera 2", CameraSection{"Stored Share", 3, 2500});
    ASSERT_TRUE(ShowDialog("Camera 2"));
    EXPECT_EQ(dialog->Caption(), "Configure camera on port #-1: Camera 2");
    EXPECT_TRUE(ShowsValues("Stored Share", "3", false));
    EXPECT_EQ(dialog->Text(IDC_LOG_LEVEL_RANGE), "[0 ... 4]");
    EXPECT_TRUE(Shows(true, ""));
    EXPECT_TRUE(dialog->IsEnabled(kIdCancel));
    TakeScreenshot("dialog-valid");
    EXPECT_EQ(CloseWith(kIdCancel), 1);
}

TEST_F(DialogTest, StatusBarLiesBelowEveryControl) {
    ASSERT_TRUE(ShowDialog("Camera 1"));
    const Rect client = dialog->ClientBounds();
    const Rect status = dialog->Bounds(IDC_STATUS_BAR);
    EXPECT_GT(status.bottom - status.top, 0);
    EXPECT_LE(status.bottom, client.bottom);
    for (const int id : {kIdOk, kIdCancel, IDC_SHARE_NAME, IDC_LOG_LEVEL, IDC_LOG_INTO_FILE, IDC_LOG_LEVEL_RANGE}) {
        SCOPED_TRACE("control " + std::to_string(id));
        const Rect control = dialog->Bounds(id);
        EXPECT_GT(control.right - control.left, 0);
        EXPECT_GE(control.top, client.top);
        EXPECT_LE(control.bottom, status.top);
        EXPECT_LE(status.left, control.left);
        EXPECT_GE(status.right, control.right);
    }
    // The template's arrangement: fields stacked on the left, the range
    // beside the log level, OK above Cancel on the right.
    EXPECT_LE(dialog->Bounds(IDC_SHARE_NAME).bottom, dialog->Bounds(IDC_LOG_LEVEL).top);
    EXPECT_LE(dialog->Bounds(IDC_LOG_LEVEL).bottom, dialog->Bounds(IDC_LOG_INTO_FILE).top);
    EXPECT_LE(dialog->Bounds(IDC_LOG_LEVEL).right, dialog->Bounds(IDC_LOG_LEVEL_RANGE).left);
    EXPECT_LE(dialog->Bounds(IDC_SHARE_NAME).right, dialog->Bounds(kIdOk).left);
    EXPECT_LE(dialog->Bounds(kIdOk).bottom, dialog->Bounds(kIdCancel).top);
    EXPECT_EQ(CloseWith(kIdCancel), 1);
}

// A host that passes no window of its own gets the dialog in the middle of
// the screen, at its full size (status bar included).
TEST_F(DialogTest, WithoutOwnerIsCentredOnTheScreen) {
    ASSERT_TRUE(ShowDialog("Camera 3"));
    const Rect area = dialog->WorkArea();
    const Rect window = dialog->ScreenBounds();
    EXPECT_NEAR((window.left + window.right) / 2, (area.left + area.right) / 2, 2);
    EXPECT_NEAR((window.top + window.bottom) / 2, (area.top + area.bottom) / 2, 2);
    EXPECT_EQ(CloseWith(kIdCancel), 1);
}

enum class Entry { Typed, Pasted };

struct EditRow {
    const char* name;
    int controlId;
    Entry entry;
    const char* text;
    bool okEnabled;
    const char* status;
    // What OK stores when it is enabled.
    const char* storedShareName;
    int storedLogLevel;
};

constexpr char kRowShare[] = "Row Share";
constexpr int kRowTimeout = 2500;

class DialogEdit : public DialogTest, public testing::WithParamInterface<EditRow> {};

// Every edit is checked while the dialog is open; valid input is then
// confirmed and must reach the file, invalid input cancelled and must not.
TEST_P(DialogEdit, ChecksTheInputAsItIsTyped) {
    const EditRow& row = GetParam();
    WriteSection("Camera 4", CameraSection{kRowShare, 1, kRowTimeout});
    const std::string before = IniFile();
    ASSERT_TRUE(ShowDialog("Camera 4"));
    ASSERT_TRUE(row.entry == Entry::Typed ? dialog->Type(row.controlId, row.text)
                                          : dialog->Paste(row.controlId, row.text));
    EXPECT_TRUE(Shows(row.okEnabled, row.status));
    EXPECT_EQ(dialog->Text(IDC_LOG_LEVEL_RANGE), "[0 ... 4]");
    if (!row.okEnabled) {
        EXPECT_EQ(CloseWith(kIdCancel), 1);
        EXPECT_EQ(IniFile(), before);
        return;
    }
    EXPECT_EQ(CloseWith(kIdOk), 0);
    EXPECT_EQ(StoredSection("Camera 4"), StoredKeys(row.storedShareName, row.storedLogLevel, kRowTimeout));
}

constexpr char kNoShare[] = "Please provide Share Name";
constexpr char kBadLevel[] = "Log level not in range";

INSTANTIATE_TEST_SUITE_P(
    Rows, DialogEdit,
    testing::Values(
        EditRow{"ShareNameCleared", IDC_SHARE_NAME, Entry::Typed, "", false, kNoShare, "", 0},
        EditRow{"ShareNamePastedEmpty", IDC_SHARE_NAME, Entry::Pasted, "", false, kNoShare, "", 0},
        // Refused, as the settings file keeps no leading blanks of a value,
        // in the words of every host.
        EditRow{"ShareNameBlanksOnly", IDC_SHARE_NAME, Entry::Typed, "   ", false,
                "the share name \"   \" is refused: it begins or ends with a blank, which the driver drops", "", 0},
        EditRow{"ShareNamePastedInQuotes", IDC_SHARE_NAME, Entry::Pasted, "\"quoted\"", false,
                "the share name \"\"quoted\"\" is refused: it is enclosed in quotes, which the driver drops", "", 0},
        EditRow{"ShareNameTyped", IDC_SHARE_NAME, Entry::Typed, "Line 7 Share-b", true, "", "Line 7 Share-b", 1},
        EditRow{"ShareNamePasted", IDC_SHARE_NAME, Entry::Pasted, "Pasted Share", true, "", "Pasted Share", 1},
        EditRow{"LogLevelFive", IDC_LOG_LEVEL, Entry::Typed, "5", false, kBadLevel, kRowShare, 0},
        EditRow{"LogLevelMinusOne", IDC_LOG_LEVEL, Entry::Typed, "-1", false, kBadLevel, kRowShare, 0},
        EditRow{"LogLevelBeyond32Bits", IDC_LOG_LEVEL, Entry::Typed, "99999999999", false, kBadLevel, kRowShare, 0},
        EditRow{"LogLevelPastedFive", IDC_LOG_LEVEL, Entry::Pasted, "5", false, kBadLevel, kRowShare, 0},
        EditRow{"LogLevelLettersOnly", IDC_LOG_LEVEL, Entry::Typed, "abc", true, "", kRowShare, 0},
        EditRow{"LogLevelCleared", IDC_LOG_LEVEL, Entry::Typed, "", true, "", kRowShare, 0},
        EditRow{"LogLevelTwoThenLetters", IDC_LOG_LEVEL, Entry::Typed, "2abc", true, "", kRowShare, 2},
        EditRow{"LogLevelMaximum", IDC_LOG_LEVEL, Entry::Typed, "4", true, "", kRowShare, 4},
        EditRow{"LogLevelMinimumPasted", IDC_LOG_LEVEL, Entry::Pasted, "0", true, "", kRowShare, 0},
        EditRow{"LogLevelBlanksAndSign", IDC_LOG_LEVEL, Entry::Typed, "  +3", true, "", kRowShare, 3},
        EditRow{"LogLevelMinusZero", IDC_LOG_LEVEL, Entry::Typed, "-0", true, "", kRowShare, 0}),
    RowName());

// The status bar names the problem checked last, and clears only when the
// input is valid again.
TEST_F(DialogTest, StatusFollowsEachEdit) {
    ASSERT_TRUE(ShowDialog("Camera 5"));
    ASSERT_TRUE(dialog->Type(IDC_LOG_LEVEL, "7"));
    EXPECT_TRUE(Shows(false, kBadLevel));
    ASSERT_TRUE(dialog->Type(IDC_SHARE_NAME, ""));
    EXPECT_TRUE(Shows(false, kNoShare));
    TakeScreenshot("dialog-invalid");
    ASSERT_TRUE(dialog->Type(IDC_LOG_LEVEL, "3"));
    EXPECT_TRUE(Shows(false, kNoShare));
    ASSERT_TRUE(dialog->Type(IDC_SHARE_NAME, "x"));
    EXPECT_TRUE(Shows(true, ""));
    ASSERT_TRUE(dialog->Type(IDC_LOG_LEVEL, "-5"));
    EXPECT_TRUE(Shows(false, kBadLevel));
    ASSERT_TRUE(dialog->Type(IDC_LOG_LEVEL, "1"));
    EXPECT_TRUE(Shows(true, ""));
    EXPECT_EQ(CloseWith(kIdOk), 0);
    EXPECT_EQ(StoredSection("Camera 5"), StoredKeys("x", 1, 3000));
}

struct StoredRow {
    const char* name;
    CameraSection section;
    const char* logLevelShown;
    const char* status;
};

class DialogStored : public DialogTest, public testing::WithParamInterface<StoredRow> {};

// A stored value that the dialog would not accept opens it with OK disabled,
// and Enter, which asks for OK, does not close it.
TEST_P(DialogStored, OpensWithOkDisabled) {
    const StoredRow& row = GetParam();
    WriteSection("Camera 6", row.section);
    const std::string before = IniFile();
    ASSERT_TRUE(ShowDialog("Camera 6"));
    EXPECT_TRUE(ShowsValues(row.section.pipeName, row.logLevelShown, false));
    EXPECT_TRUE(Shows(false, row.status));
    ASSERT_TRUE(dialog->PressKey(IDC_LOG_LEVEL, Key::Enter));
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_FALSE(call->Result(0));
    EXPECT_EQ(CloseWith(kIdCancel), 1);
    EXPECT_EQ(IniFile(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DialogStored,
    testing::Values(StoredRow{"LogLevelAboveMaximum", CameraSection{"Share", 9, 100}, "9", kBadLevel},
                    StoredRow{"LogLevelBelowMinimum", CameraSection{"Share", -3, 100}, "-3", kBadLevel},
                    StoredRow{"EmptyShareName", CameraSection{"", 1, 100}, "1", kNoShare},
                    StoredRow{"BothInvalid", CameraSection{"", 12, 100}, "12", kNoShare}),
    RowName());

enum class Closing { OkButton, EnterKey, CancelButton, EscapeKey, CloseBox };

struct ClosingRow {
    const char* name;
    Closing closing;
    int result;
};

class DialogClosing : public DialogTest, public testing::WithParamInterface<ClosingRow> {};

// Only OK stores; every other way out leaves file and camera as they were.
TEST_P(DialogClosing, StoresOnlyOnOk) {
    const ClosingRow& row = GetParam();
    WriteSection("Camera 7", CameraSection{"Old Share", 2, 4000});
    WriteSection("Camera 8", CameraSection{"Neighbour", 4, 700});
    const std::string before = IniFile();
    ASSERT_TRUE(ShowDialog("Camera 7"));
    ASSERT_TRUE(dialog->Type(IDC_SHARE_NAME, "new share"));
    ASSERT_TRUE(dialog->Type(IDC_LOG_LEVEL, "0"));
    dialog->Click(IDC_LOG_INTO_FILE);
    EXPECT_TRUE(dialog->IsChecked(IDC_LOG_INTO_FILE));
    switch (row.closing) {
    case Closing::OkButton:
    case Closing::CancelButton:
        dialog->Click(row.closing == Closing::OkButton ? kIdOk : kIdCancel);
        break;
    case Closing::EnterKey:
    case Closing::EscapeKey:
        ASSERT_TRUE(dialog->PressKey(IDC_SHARE_NAME, row.closing == Closing::EnterKey ? Key::Enter : Key::Escape));
        break;
    case Closing::CloseBox:
        dialog->CloseWindow();
        break;
    }
    EXPECT_EQ(Returned(), row.result);
    EXPECT_FALSE(dialog->IsShown());

    const bool stored = row.result == 0;
    if (stored) {
        EXPECT_EQ(StoredSection("Camera 7"), StoredKeys("new share", 0, 4000));
    } else {
        EXPECT_EQ(IniFile(), before);
    }
    EXPECT_EQ(StoredSection("Camera 8"), StoredKeys("Neighbour", 4, 700));
    // The camera's record: the next dialog shows it, with the check box that
    // the file does not hold.
    ASSERT_TRUE(ShowDialog("Camera 7"));
    EXPECT_TRUE(stored ? ShowsValues("new share", "0", true) : ShowsValues("Old Share", "2", false));
    EXPECT_EQ(CloseWith(kIdCancel), 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, DialogClosing,
                         testing::Values(ClosingRow{"OkButton", Closing::OkButton, 0},
                                         ClosingRow{"EnterKey", Closing::EnterKey, 0},
                                         ClosingRow{"CancelButton", Closing::CancelButton, 1},
                                         ClosingRow{"EscapeKey", Closing::EscapeKey, 1},
                                         ClosingRow{"CloseBox", Closing::CloseBox, 1}),
                         RowName());

// Without a settings file the dialog starts from the built-in defaults, OK
// writes them, and Cancel writes nothing.
TEST_F(DialogTest, WithoutSettingsFileShowsAndStoresTheDefaults) {
    ASSERT_TRUE(ShowDialog("Camera 9"));
    EXPECT_TRUE(ShowsValues("Camera Share", "1", false));
    EXPECT_EQ(CloseWith(kIdCancel), 1);
    EXPECT_EQ(IniFile(), "<no file>");

    ASSERT_TRUE(ShowDialog("Camera 9"));
    EXPECT_EQ(CloseWith(kIdOk), 0);
    EXPECT_EQ(StoredSection("Camera 9"), StoredKeys("Camera Share", 1, 3000));
}

// Confirmed or not, the call logs the same lines on the calling thread.
TEST_F(DialogTest, LogsOnTheCallingThread) {
    ASSERT_TRUE(SetLogLevel(2));
    const std::vector<std::string> lines{"configureCamera: entering cameraName=Camera 10\n",
                                         "Camera::Configure: entering\n", "Camera::Configure: leaving\n",
                                         "configureCamera: leaving cameraName=Camera 10\n"};
    for (const int button : {kIdCancel, kIdOk}) {
        SCOPED_TRACE(button == kIdOk ? "OK" : "Cancel");
        log.Clear();
        ASSERT_TRUE(ShowDialog("Camera 10"));
        const DWORD callingThread = call->ThreadId();
        EXPECT_EQ(CloseWith(button), button == kIdOk ? 0 : 1);
        EXPECT_EQ(log.MessagesOf(callingThread), lines);
    }
}

// An open camera's caption names its port (one-based); the dialog edits the
// record the open loaded, and the camera stays open.
TEST_F(DialogTest, OpenCameraShowsItsPortAndStaysOpen) {
    constexpr int kPort = 4;
    ASSERT_TRUE(OpenSilent("Camera 11", kPort, 1));
    ASSERT_TRUE(ShowDialog("Camera 11", kPort + 1));
    ASSERT_TRUE(dialog->Type(IDC_SHARE_NAME, "renamed"));
    EXPECT_EQ(CloseWith(kIdOk), 0);
    EXPECT_EQ(StoredSection("Camera 11"), StoredKeys("renamed", 1, 100));
    int width = hosttest::kPoison;
    EXPECT_EQ(driver.getProperty(hosttest::kGrabber, kPort, "Width", &width), 1);
    EXPECT_EQ(width, 0);
    ASSERT_TRUE(ShowDialog("Camera 11", kPort + 1));
    EXPECT_TRUE(ShowsValues("renamed", "1", false));
    EXPECT_EQ(CloseWith(kIdCancel), 1);
    EXPECT_EQ(driver.closeCVLPort(hosttest::kGrabber, kPort), 1);
}

// Once opened, a camera's dialog shows the settings its open loaded, not what
// the file says later; a camera never opened shows what is stored.
TEST_F(DialogTest, ACameraOpenedBeforeShowsTheSettingsItsOpenLoaded) {
    constexpr int kPort = 7;
    const std::string share = hosttest::UniqueName("quorvex-dialog-nobody-");
    WriteSection("Camera 13", CameraSection{share, 1, 100});
    int dimensions[2] = {hosttest::kPoison, hosttest::kPoison};
    ASSERT_EQ(driver.openCVLPort(hosttest::kGrabber, kPort, "Camera 13", dimensions), 1);
    ASSERT_EQ(driver.closeCVLPort(hosttest::kGrabber, kPort), 1);
    WriteSection("Camera 13", CameraSection{"Changed Later", 3, 2500});
    WriteSection("Camera 14", CameraSection{"Stored For 14", 3, 2500});

    ASSERT_TRUE(ShowDialog("Camera 13"));
    EXPECT_TRUE(ShowsValues(share, "1", false));
    EXPECT_EQ(CloseWith(kIdCancel), 1);
    ASSERT_TRUE(ShowDialog("Camera 14"));
    EXPECT_TRUE(ShowsValues("Stored For 14", "3", false));
    EXPECT_EQ(CloseWith(kIdCancel), 1);
}

class DialogLogIntoFile : public DialogTest, public testing::WithParamInterface<bool> {};

// The check box is not stored, but the camera keeps it: its next open makes
// the driver write its log file in the system folder as well.
TEST_P(DialogLogIntoFile, TakesEffectAtTheNextOpen) {
    const bool checked = GetParam();
    constexpr int kPort = 6;
    const std::string share = hosttest::UniqueName("quorvex-dialog-nobody-");
    WriteSection("Camera 12", CameraSection{share, 1, 100});
    ASSERT_TRUE(ShowDialog("Camera 12"));
    ASSERT_TRUE(dialog->Type(IDC_LOG_LEVEL, "2"));
    if (checked) {
        dialog->Click(IDC_LOG_INTO_FILE);
    }
    EXPECT_EQ(dialog->IsChecked(IDC_LOG_INTO_FILE), checked);
    EXPECT_EQ(CloseWith(kIdOk), 0);
    EXPECT_EQ(StoredSection("Camera 12"), StoredKeys(share, 2, 100));

    std::ifstream noLog(SystemFile("Quorvex.log"));
    EXPECT_FALSE(noLog.is_open()) << "the dialog itself must not start the log file";
    int dimensions[2] = {hosttest::kPoison, hosttest::kPoison};
    EXPECT_EQ(driver.openCVLPort(hosttest::kGrabber, kPort, "Camera 12", dimensions), 1);
    EXPECT_EQ(driver.closeCVLPort(hosttest::kGrabber, kPort), 1);
    std::ifstream logFile(SystemFile("Quorvex.log"));
    const std::string logged((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    if (checked) {
        EXPECT_NE(logged.find("Camera 12"), std::string::npos) << "the log file holds:\n" << logged;
    } else {
        EXPECT_FALSE(logFile.is_open()) << "the log file holds:\n" << logged;
    }
    // Back to the defaults: log level 1, no log file.
    EXPECT_TRUE(SetLogLevel(1));
}

INSTANTIATE_TEST_SUITE_P(CheckBox, DialogLogIntoFile, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& row) {
                             return row.param ? std::string("Checked") : std::string("Unchecked");
                         });

}  // namespace
}  // namespace dialogtest
