// The console on POSIX: SIGINT and SIGTERM set a flag.
#include <atomic>
#include <csignal>

#include <unistd.h>

#include "platform/console.h"

namespace platform {
namespace {

// A signal handler may touch only lock-free atomics.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void OnSignal(int) {
    interrupted.store(true);
}

}  // namespace

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls: the program's loop polls the flag.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() {
    return interrupted.load();
}

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

// POSIX streams have no text mode.
void UseBinaryStandardInput() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseUtf8Console() {}

}  // namespace platform
