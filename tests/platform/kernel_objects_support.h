// Helpers of the kernel-object cases (sync, pipe and mapping): names no other
// case or concurrent run uses, child processes of the test program, and
// bounded waits that report the caller's line.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/unique_name.h"

namespace kernel_objects {

// The longest any case waits for something that should happen soon.
constexpr DWORD kPatience = 10000;

using testsupport::UniqueName;

inline std::string PipePath(const std::string& name) {
    return "\\\\.\\pipe\\" + name;
}

// WaitForSingleObject with the case's patience, as an assertion.
inline testing::AssertionResult Signalled(HANDLE object, DWORD milliseconds = kPatience) {
    const DWORD result = WaitForSingleObject(object, milliseconds);
    if (result == WAIT_OBJECT_0) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "wait gave " << result << ", last error " << GetLastError();
}

inline testing::AssertionResult NotSignalled(HANDLE object) {
    const DWORD result = WaitForSingleObject(object, 0);
    if (result == WAIT_TIMEOUT) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "wait gave " << result << ", last error " << GetLastError();
}

// A child run of this test program with `--child=VERB ARGS`; what it prints
// is shown when it fails.
class Child {
public:
    testing::AssertionResult Start(const std::string& verb, const std::vector<std::string>& args) {
        std::vector<std::string> all{"--child=" + verb};
        all.insert(all.end(), args.begin(), args.end());
        if (!process_.Start(platform::ProgramPath(), all, folder_.File("output.txt"))) {
            return testing::AssertionFailure()
                   << "could not start the child " << verb << " " << testsupport::WhyNotStarted();
        }
        return testing::AssertionSuccess();
    }

    // The child's exit code, or -1 when it has not ended within kPatience.
    int ExitCode() {
        int code = -1;
        if (!process_.Wait(kPatience, code)) {
            code = -1;
        }
        if (code != 0) {
            ADD_FAILURE() << "the child ended with " << code << " and said: " << folder_.Read("output.txt");
        }
        return code;
    }

    // Ends the child as a crash would.
    void Kill() { process_.Kill(); }

private:
    testsupport::TempDir folder_;
    platform::ChildProcess process_;
};

// Opens the named event that a parent created to hear from its child and
// sets it; false when there is no such event.
inline bool SignalParent(const std::string& eventName) {
    platform::UniqueEvent event(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, eventName.c_str()));
    return event && SetEvent(event.get());
}

// Opens the named event the parent will set and waits for it.
inline bool AwaitParent(const std::string& eventName) {
    platform::UniqueEvent event(OpenEventA(SYNCHRONIZE, FALSE, eventName.c_str()));
    return event && WaitForSingleObject(event.get(), kPatience) == WAIT_OBJECT_0;
}

}  // namespace kernel_objects
