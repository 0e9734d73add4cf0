// A host application in miniature, for tests that see the driver only as a
// host does: the built library is loaded at run time and reached through its
// nineteen exports, and its log is observed through the DebugMsgProc that the
// host hands it. The library stays loaded for the whole program; every test
// leaves the driver's user count and log level as it found them.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "driver_exports.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex.h"
#include "support/log_recorder.h"
#include "support/row_name.h"
#include "support/temp_dir.h"
#include "support/unique_name.h"

namespace hosttest {

// The exports, resolved by their plain names.
using DriverExports = tools::DriverExports;

// The library file beside the test program, loaded on first use and never
// unloaded. `Problem` names what failed when it could not be loaded or lacks
// an export.
class HostLibrary {
public:
    static const HostLibrary& Get();
    // The built library beside the test program.
    static std::string LibraryPath();

    bool Loaded() const { return problem.empty(); }
    const std::string& Problem() const { return problem; }
    const DriverExports& Exports() const { return exports; }

private:
    HostLibrary();

    std::string problem;
    DriverExports exports;
};

using testsupport::IsLogTimestamp;
using testsupport::LogLine;
using testsupport::LogRecorder;

using testsupport::UniqueName;

// The stored settings of one camera, as the driver reads them at an open.
struct CameraSection {
    std::string pipeName;
    int logLevel = 1;
    int connectionTimeout = 100;
};

// Rows of a table print as their name; a test file brings it in with
// `using hosttest::operator<<`.
using testsupport::operator<<;

constexpr int kGrabber = 0;
constexpr int kPoison = 0x5A5A5A5A;

// The base of every host test: the loaded library, a fresh system directory,
// the recorder cleared, and at the end the driver's user count and log level
// put back as they were (log level 1, no users).
class HostTest : public testing::Test {
protected:
    HostTest();

    void SetUp() override;
    void TearDown() override;

    // initialize / finalize, counted so that TearDown can balance them.
    int Initialize(const char* path, DebugMsgProc proc);
    int Initialize();  // this test's directory and the recorder
    int Finalize();

    // Writes the settings file in `directory` (this test's directory when
    // empty) with every section given so far for it plus this one.
    void WriteSection(const std::string& cameraName, const CameraSection& section,
                      const std::string& directory = std::string());
    // A section whose share no server serves.
    CameraSection SilentSection(int logLevel, int connectionTimeout = 100);

    // Sets the driver's log level the only way a host can: by opening a
    // camera whose stored LogLevel is `level` and closing it again. Clears
    // the recorder afterwards. Needs the driver initialised.
    testing::AssertionResult SetLogLevel(int level);

    // Opens `cameraName` on `port` with no server behind it, its settings
    // making the log level `level`; clears the recorder afterwards.
    testing::AssertionResult OpenSilent(const char* cameraName, int port, int level);

    // The messages this test's thread received, in order.
    std::vector<std::string> HostMessages() const;

    const DriverExports& driver;
    LogRecorder& log;
    testsupport::TempDir systemDir;
    DWORD hostThread = 0;

private:
    int outstandingInitializes = 0;
    bool logLevelChanged = false;
    std::map<std::string, std::map<std::string, CameraSection>> iniFiles;
};

}  // namespace hosttest
