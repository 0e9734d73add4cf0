// Child processes on POSIX: posix_spawn, signals and waitpid.
#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(2);

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    // As a shell reports a child ended by a signal.
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// The spawn's file actions, destroyed on every way out.
class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

}  // namespace

struct ChildProcess::State {
    pid_t pid = -1;
};

std::string ProgramPath() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Launch(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outputPath) {
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(actions.Get(), STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> argStrings;
    argStrings.reserve(args.size() + 1);
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ);
    if (error != 0) {
        errno = error;
        return false;
    }
    state_->pid = pid;
    return true;
}

bool ChildProcess::Wait(unsigned timeoutMs, int& exitCode) {
    if (!IsRunning()) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(state_->pid, &status, WNOHANG);
        if (done == state_->pid) {
            state_->pid = -1;
            exitCode = ExitCodeOf(status);
            return true;
        }
        if (done < 0 && errno != EINTR) {
            state_->pid = -1;
            exitCode = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool ChildProcess::Interrupt() {
    return IsRunning() && kill(state_->pid, SIGINT) == 0;
}

void ChildProcess::Kill() {
    if (!IsRunning()) {
        return;
    }
    kill(state_->pid, SIGKILL);
    int status = 0;
    while (waitpid(state_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    state_->pid = -1;
}

bool ChildProcess::IsRunning() const {
    return state_->pid > 0;
}

}  // namespace platform
