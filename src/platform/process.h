// Starting another program and waiting for it, as tests and tools need it:
// one child at a time per object, its output captured in a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// The full path of the running program.
std::string ProgramPath();

// The folder part of a path, without its final separator; empty when the
// path has none. Both separators count, since Windows accepts both.
inline std::string FolderOf(const std::string& path) {
    const auto end = path.find_last_of("/\\");
    return end == std::string::npos ? std::string() : path.substr(0, end);
}

// Owns one started child process. A child still running when the object goes
// away is killed and reaped, so that no test leaves a process behind. Used by
// one thread.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args` (each passed as one argument, whatever it
    // holds), its standard output and standard error both going to the file
    // `outputPath`, created or emptied. False when it cannot be started, with
    // the reason in GetLastError on Windows and in errno on POSIX.
    bool Start(const std::string& program, const std::vector<std::string>& args, const std::string& outputPath);

    // Waits up to `timeoutMs` for the child to end. True, with its exit code,
    // when it has ended; false while it still runs.
    bool Wait(unsigned timeoutMs, int& exitCode);

    // Sends the child what Ctrl+C in its console would: SIGINT, or on
    // Windows a Ctrl+Break to its own process group (a group of its own
    // cannot receive Ctrl+C), or, without a console to share, the event of
    // a child that called CatchInterrupt. False when it cannot be delivered.
    bool Interrupt();

    // Ends the child at once, without its cooperation, and reaps it.
    void Kill();

    bool IsRunning() const;

private:
    // Start's system part, for a child not running.
    bool Launch(const std::string& program, const std::vector<std::string>& args, const std::string& outputPath);

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
