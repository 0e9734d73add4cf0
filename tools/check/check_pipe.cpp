#include "check_pipe.h"

#include <chrono>
#include <thread>

#include "platform/system_error.h"
#include "wire/messages.h"

namespace check {
namespace {

constexpr DWORD kRetryMs = 50;
// How long a cancelled operation may take to end.
constexpr DWORD kCancelWaitMs = 1000;

}  // namespace

CheckPipe::CheckPipe() : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

bool CheckPipe::Connect(const std::string& share, DWORD timeoutMs, std::string& why) {
    Close();
    const std::string path = PipePath(share);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        handle_.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
        if (handle_) {
            return true;
        }
        const DWORD error = GetLastError();
        if (std::chrono::steady_clock::now() >= giveUp) {
            why = "cannot open the pipe " + path + " " + platform::SystemErrorNote(error);
            return false;
        }
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeA(path.c_str(), kRetryMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
        }
    }
}

bool CheckPipe::SetMessageMode(DWORD& error) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (SetNamedPipeHandleState(handle_.get(), &mode, nullptr, nullptr)) {
        return true;
    }
    error = GetLastError();
    return false;
}

bool CheckPipe::Finish(OVERLAPPED& overlapped, DWORD timeoutMs, DWORD& bytes, DWORD& error) {
    if (WaitForSingleObject(done_.get(), timeoutMs) != WAIT_OBJECT_0) {
        CancelIoEx(handle_.get(), &overlapped);
        WaitForSingleObject(done_.get(), kCancelWaitMs);
        // It may have ended on its own just before the cancel.
        if (GetOverlappedResult(handle_.get(), &overlapped, &bytes, FALSE)) {
            error = 0;
            return true;
        }
        error = GetLastError();
        return error == ERROR_MORE_DATA;
    }
    error = GetOverlappedResult(handle_.get(), &overlapped, &bytes, FALSE) ? 0 : GetLastError();
    return true;
}

bool CheckPipe::Write(const void* bytes, DWORD count, DWORD timeoutMs) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = done_.get();
    ResetEvent(done_.get());
    DWORD written = 0;
    if (!WriteFile(handle_.get(), bytes, count, &written, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    DWORD error = 0;
    return Finish(overlapped, timeoutMs, written, error) && error == 0 && written == count;
}

PipeRead CheckPipe::Read(DWORD timeoutMs) {
    PipeRead read;
    OVERLAPPED overlapped{};
    overlapped.hEvent = done_.get();
    ResetEvent(done_.get());
    if (!ReadFile(handle_.get(), read.data, PipeRead::kCapacity, &read.bytes, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
            read.outcome = PipeRead::Outcome::Broken;
            read.error = error;
            return read;
        }
    }
    DWORD error = 0;
    if (!Finish(overlapped, timeoutMs, read.bytes, error)) {
        read.outcome = PipeRead::Outcome::TimedOut;
        return read;
    }
    if (error == ERROR_MORE_DATA) {
        read.outcome = PipeRead::Outcome::TooLong;
    } else if (error != 0) {
        read.outcome = PipeRead::Outcome::Broken;
        read.error = error;
    } else {
        read.outcome = PipeRead::Outcome::Message;
    }
    return read;
}

void CheckPipe::Close() {
    handle_.reset();
}

}  // namespace check
