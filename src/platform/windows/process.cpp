// Child processes on Windows: CreateProcessA, console control events and
// process handles.
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/windows/interrupt_event.h"

namespace platform {
namespace {

// Reported for a child ended by Kill, as a POSIX shell reports SIGKILL.
constexpr UINT kKilledExitCode = 137;

// Quotes one argument so that the child's runtime splits the command line
// back into the same arguments: backslashes count only before a quote.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace

struct ChildProcess::State {
    UniqueProcess process;
    DWORD processId = 0;
};

std::string ProgramPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Launch(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outputPath) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueFile output(CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
        return false;
    }
    std::string commandLine = Quote(program);
    for (const std::string& arg : args) {
        commandLine += ' ' + Quote(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info{};
    // A process group of its own lets Interrupt reach this child alone.
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    UniqueThread thread(info.hThread);
    state_->process.reset(info.hProcess);
    state_->processId = info.dwProcessId;
    return true;
}

bool ChildProcess::Wait(unsigned timeoutMs, int& exitCode) {
    if (!IsRunning() || WaitForSingleObject(state_->process.get(), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(state_->process.get(), &code);
    exitCode = static_cast<int>(code);
    state_->process.reset();
    return true;
}

bool ChildProcess::Interrupt() {
    if (!IsRunning()) {
        return false;
    }
    if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, state_->processId)) {
        return true;
    }
    // No console shared with the child: its interrupt event, if it has one.
    UniqueEvent event(OpenEventA(EVENT_MODIFY_STATE, FALSE, windows::InterruptEventName(state_->processId).c_str()));
    return event && SetEvent(event.get());
}

void ChildProcess::Kill() {
    if (!IsRunning()) {
        return;
    }
    TerminateProcess(state_->process.get(), kKilledExitCode);
    WaitForSingleObject(state_->process.get(), INFINITE);
    state_->process.reset();
}

bool ChildProcess::IsRunning() const {
    return static_cast<bool>(state_->process);
}

}  // namespace platform
