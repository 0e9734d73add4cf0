#include "host_harness.h"

#include <fstream>

#include "platform/process.h"

namespace hosttest {
namespace {

// The port on which SetLogLevel opens its camera; no test uses it otherwise.
constexpr int kLogLevelPort = 99;
constexpr const char* kLogLevelCamera = "Camera 32";

}  // namespace

std::string HostLibrary::LibraryPath() {
    return platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator + QUORVEX_LIBRARY_FILE;
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

void HostTest::WriteSection(const std::string& cameraName, const CameraSection& section, const std::string& directory) {
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
        return testing::AssertionFailure()
               << "opening " << kLogLevelCamera << " to set log level " << level << " returned " << opened;
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
                                           << opened << " with dimensions " << dimensions[0] << ", " << dimensions[1];
    }
    return testing::AssertionSuccess();
}

std::vector<std::string> HostTest::HostMessages() const {
    return log.MessagesOf(hostThread);
}

}  // namespace hosttest
