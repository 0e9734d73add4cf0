#include "host_harness.h"

#include <fstream>

#include "support/child_process.h"

namespace hosttest {
namespace {

// The port on which SetLogLevel opens its camera; no test uses it otherwise.
constexpr int kLogLevelPort = 99;
constexpr const char* kLogLevelCamera = "Camera 32";

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsDigitAt(const std::string& text, size_t at) {
    return text[at] >= '0' && text[at] <= '9';
}

int TwoDigitsAt(const std::string& text, size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

}  // namespace

std::string HostLibrary::LibraryPath() {
    return FolderOf(testsupport::SelfPath()) + QUORVEX_LIBRARY_FILE;
}

HostLibrary::HostLibrary() {
    const std::string path = LibraryPath();
    platform::UniqueModule module(LoadLibraryA(path.c_str()));
    if (!module) {
        problem = "cannot load " + path + ", error " + std::to_string(GetLastError());
        return;
    }
    const std::string missing = tools::ResolveExports(module.get(), exports);
    if (!missing.empty()) {
        problem = path + " lacks the exports:" + missing;
        return;
    }
    // Loaded for good: unloading at exit would run the library's exit list
    // after a failed test may have left a camera running, and would take away
    // the symbols that the sanitizers' reports need.
    module.release();
}

const HostLibrary& HostLibrary::Get() {
    static const HostLibrary library;
    return library;
}

LogRecorder& LogRecorder::Instance() {
    static LogRecorder recorder;
    return recorder;
}

void QUORVEX_CALL LogRecorder::Record(const char* text) {
    Instance().Receive(text);
}

void LogRecorder::Receive(const char* text) {
    const DWORD thread = GetCurrentThreadId();
    std::lock_guard<std::mutex> hold(mutex);
    if (text == nullptr) {
        problems.push_back("DebugMsgProc called with a null text");
        return;
    }
    if (!timestampPending) {
        if (!IsLogTimestamp(text)) {
            problems.push_back(std::string("expected a timestamp call, got: ") + text);
            return;
        }
        pending = LogLine{thread, text, std::string()};
        timestampPending = true;
        return;
    }
    timestampPending = false;
    if (IsLogTimestamp(text)) {
        problems.push_back(std::string("a timestamp followed a timestamp: ") + text);
        return;
    }
    if (pending.threadId != thread) {
        problems.push_back(std::string("message on another thread than its timestamp: ") + text);
    }
    pending.message = text;
    lines.push_back(pending);
}

void LogRecorder::Clear() {
    std::lock_guard<std::mutex> hold(mutex);
    lines.clear();
}

void LogRecorder::Reset() {
    std::lock_guard<std::mutex> hold(mutex);
    lines.clear();
    problems.clear();
    timestampPending = false;
}

std::vector<LogLine> LogRecorder::Lines() const {
    std::lock_guard<std::mutex> hold(mutex);
    return lines;
}

std::vector<std::string> LogRecorder::MessagesOf(DWORD threadId) const {
    std::lock_guard<std::mutex> hold(mutex);
    std::vector<std::string> messages;
    for (const LogLine& line : lines) {
        if (line.threadId == threadId) {
            messages.push_back(line.message);
        }
    }
    return messages;
}

std::vector<std::string> LogRecorder::Problems() const {
    std::lock_guard<std::mutex> hold(mutex);
    return problems;
}

testing::AssertionResult IsLogTimestamp(const std::string& text) {
    const std::string shape = "00/00/00 00:00:00: ";
    bool matches = text.size() == shape.size();
    for (size_t i = 0; matches && i < shape.size(); ++i) {
        matches = shape[i] == '0' ? IsDigitAt(text, i) : text[i] == shape[i];
    }
    if (!matches) {
        return testing::AssertionFailure() << "\"" << text << "\" is not of the form DD/MM/YY hh:mm:ss: ";
    }
    const int day = TwoDigitsAt(text, 0);
    const int month = TwoDigitsAt(text, 3);
    const int hour = TwoDigitsAt(text, 9);
    const int minute = TwoDigitsAt(text, 12);
    const int second = TwoDigitsAt(text, 15);
    if (day < 1 || day > 31 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 60) {
        return testing::AssertionFailure() << "\"" << text << "\" has a field out of range";
    }
    return testing::AssertionSuccess();
}

HostTest::HostTest() : driver(HostLibrary::Get().Exports()), log(LogRecorder::Instance()) {}

void HostTest::SetUp() {
    ASSERT_TRUE(HostLibrary::Get().Loaded()) << HostLibrary::Get().Problem();
    hostThread = GetCurrentThreadId();
    log.Reset();
}

void HostTest::TearDown() {
    if (!HostLibrary::Get().Loaded()) {
        return;
    }
    if (logLevelChanged) {
        if (outstandingInitializes == 0) {
            Initialize(systemDir.Path().c_str(), nullptr);
        }
        driver.setSystemPath(systemDir.Path().c_str());
        EXPECT_TRUE(SetLogLevel(1)) << "could not put the log level back to 1";
    }
    while (outstandingInitializes > 0) {
        Finalize();
    }
    driver.setDebugMsgProc(nullptr);
    for (const std::string& problem : log.Problems()) {
        ADD_FAILURE() << "DebugMsgProc: " << problem;
    }
}

int HostTest::Initialize(const char* path, DebugMsgProc proc) {
    const int result = driver.initialize(path, proc);
    if (result == 1) {
        ++outstandingInitializes;
    }
    return result;
}

int HostTest::Initialize() {
    return Initialize(systemDir.Path().c_str(), &LogRecorder::Record);
}

int HostTest::Finalize() {
    --outstandingInitializes;
    return driver.finalize();
}

void HostTest::WriteSection(const std::string& cameraName, const CameraSection& section,
                            const std::string& directory) {
    const std::string folder = directory.empty() ? systemDir.Path() : directory;
    std::map<std::string, CameraSection>& sections = iniFiles[folder];
    sections[cameraName] = section;
    if (section.logLevel != 1) {
        logLevelChanged = true;
    }
    std::ofstream file(folder + platform::kPathSeparator + "Quorvex.ini", std::ios::trunc);
    for (const auto& [name, stored] : sections) {
        file << "[" << name << "]\n"
             << "PipeName=" << stored.pipeName << "\n"
             << "LogLevel=" << stored.logLevel << "\n"
             << "ConnectionTimeout=" << stored.connectionTimeout << "\n";
    }
    EXPECT_TRUE(file.good()) << "cannot write the settings file in " << folder;
}

CameraSection HostTest::SilentSection(int logLevel, int connectionTimeout) {
    return CameraSection{UniqueName("quorvex-host-nobody-"), logLevel, connectionTimeout};
}

testing::AssertionResult HostTest::SetLogLevel(int level) {
    WriteSection(kLogLevelCamera, SilentSection(level));
    int dimensions[2] = {kPoison, kPoison};
    const int opened = driver.openCVLPort(kGrabber, kLogLevelPort, kLogLevelCamera, dimensions);
    driver.closeCVLPort(kGrabber, kLogLevelPort);
    log.Clear();
    if (opened != 1) {
        return testing::AssertionFailure() << "opening " << kLogLevelCamera << " to set log level " << level
                                           << " returned " << opened;
    }
    logLevelChanged = level != 1;
    return testing::AssertionSuccess();
}

testing::AssertionResult HostTest::OpenSilent(const char* cameraName, int port, int level) {
    WriteSection(cameraName, SilentSection(level));
    int dimensions[2] = {kPoison, kPoison};
    const int opened = driver.openCVLPort(kGrabber, port, cameraName, dimensions);
    log.Clear();
    if (opened != 1 || dimensions[0] != 0 || dimensions[1] != 0) {
        return testing::AssertionFailure() << "openCVLPort(" << cameraName << ", port " << port << ") returned "
                                           << opened << " with dimensions " << dimensions[0] << ", "
                                           << dimensions[1];
    }
    return testing::AssertionSuccess();
}

std::vector<std::string> HostTest::HostMessages() const {
    return log.MessagesOf(hostThread);
}

}  // namespace hosttest
