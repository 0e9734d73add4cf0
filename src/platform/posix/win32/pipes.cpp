// Named pipes: CreateNamedPipeA, ConnectNamedPipe, DisconnectNamedPipe,
// CreateFileA, WaitNamedPipeA, SetNamedPipeHandleState, ReadFile, WriteFile,
// GetOverlappedResult.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "errno_map.h"
#include "object_names.h"
#include "pipe_objects.h"
#include "pipe_transport.h"
#include "win32_errors.h"
#include "win32_pipes.h"

namespace platform::posix {
namespace {

constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";

// How long a client waits for the server's answer to its connection.
constexpr DWORD kHandshakeTimeoutMs = 5000;
constexpr DWORD kDefaultWaitMs = 50;

// The pipe name after "\\.\pipe\" (matched without regard to case); empty
// when `path` names no pipe.
std::string_view PipeName(LPCSTR path) {
    if (path == nullptr) {
        return {};
    }
    const std::string_view whole(path);
    if (whole.size() <= kPipePrefix.size()) {
        return {};
    }
    for (size_t i = 0; i < kPipePrefix.size(); ++i) {
        const char c = whole[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != kPipePrefix[i]) {
            return {};
        }
    }
    return whole.substr(kPipePrefix.size());
}

bool SocketPathOf(LPCSTR path, std::string& socketPath) {
    const std::string_view name = PipeName(path);
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::string directory;
    if (!PipeDirectory(directory)) {
        return false;
    }
    socketPath = PipeSocketPath(directory, name);
    return true;
}

// The OVERLAPPED's event, without the low bit, which on Windows only keeps
// completion ports away; null when there is none, false when the handle is
// no event.
bool OverlappedEvent(HANDLE handle, EventPtr& event) {
    const auto stripped = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(handle) & ~uintptr_t{1});
    event = stripped != nullptr ? LookupAs<EventObject>(stripped, ObjectKind::Event) : nullptr;
    return stripped == nullptr || event != nullptr;
}

// The event an operation signals: the OVERLAPPED's, the pipe's own for an
// overlapped operation without one, or a private one for a blocking call.
bool EventFor(const PipeEnd& pipe, HANDLE handle, bool overlapped, EventPtr& event) {
    if (!OverlappedEvent(handle, event)) {
        return false;
    }
    if (event) {
        return true;
    }
    if (overlapped) {
        event = pipe.CompletionEvent();
        return true;
    }
    try {
        event = std::make_shared<EventObject>(true, false);
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

ULONG_PTR LoadStatus(const OVERLAPPED& overlapped) {
    return __atomic_load_n(&overlapped.Internal, __ATOMIC_ACQUIRE);
}

ULONG_PTR AwaitCompletion(const OVERLAPPED& overlapped, const EventPtr& event) {
    const ObjectPtr object = event;
    ULONG_PTR status = LoadStatus(overlapped);
    while (status == nt_status::kPending) {
        WaitForObjects(&object, 1, INFINITE);
        status = LoadStatus(overlapped);
    }
    return status;
}

// Starts `operation` on `handle` and reports as ReadFile, WriteFile and
// ConnectNamedPipe do. With an overlapped handle and an OVERLAPPED it
// returns at once; otherwise it waits for the end.
BOOL RunIo(HANDLE handle, PipeOperation operation, char* buffer, DWORD size, LPDWORD bytes, LPOVERLAPPED overlapped) {
    const auto pipe = LookupAs<PipeEnd>(handle, ObjectKind::Pipe);
    if (!pipe) {
        return FALSE;
    }
    if (bytes != nullptr) {
        *bytes = 0;
    }
    const bool async = pipe->Overlapped() && overlapped != nullptr;
    OVERLAPPED local{};
    OVERLAPPED* target = overlapped != nullptr ? overlapped : &local;
    EventPtr event;
    if (!EventFor(*pipe, target->hEvent, async, event)) {
        return FALSE;
    }
    event->Reset();
    __atomic_store_n(&target->Internal, nt_status::kPending, __ATOMIC_RELAXED);
    const bool findable = !async || target->hEvent != nullptr;
    ULONG_PTR status = pipe->Start(operation, IoRequest{target, event, buffer, size, findable});
    if (status == nt_status::kPending) {
        if (async) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        status = AwaitCompletion(*target, event);
    }
    if (status == nt_status::kSuccess) {
        if (bytes != nullptr) {
            *bytes = static_cast<DWORD>(target->InternalHigh);
        }
        return TRUE;
    }
    // A blocking read still tells how much of a long message it took.
    if (!async && !nt_status::IsError(status) && bytes != nullptr) {
        *bytes = static_cast<DWORD>(target->InternalHigh);
    }
    SetLastError(nt_status::ToWin32(status));
    return FALSE;
}

}  // namespace
}  // namespace platform::posix

namespace posix = platform::posix;

HANDLE CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD /*outBufferSize*/,
                        DWORD /*inBufferSize*/, DWORD /*defaultTimeOut*/, LPSECURITY_ATTRIBUTES /*attributes*/) {
    constexpr DWORD kKnownPipeModes = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS;
    const bool messageType = (pipeMode & PIPE_TYPE_MESSAGE) != 0;
    const bool messageRead = (pipeMode & PIPE_READMODE_MESSAGE) != 0;
    if ((openMode & PIPE_ACCESS_DUPLEX) == 0 || (pipeMode & ~kKnownPipeModes) != 0 || (messageRead && !messageType) ||
        maxInstances == 0 || maxInstances > PIPE_UNLIMITED_INSTANCES) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string socketPath;
    if (!posix::SocketPathOf(name, socketPath)) {
        return INVALID_HANDLE_VALUE;
    }
    const auto pipe = posix::PipeEnd::Make(true, messageType, messageRead, (openMode & FILE_FLAG_OVERLAPPED) != 0);
    if (!pipe) {
        return INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard<std::mutex> guard(posix::IoEngine::Instance().Lock());
        auto listener = posix::PipeListener::ForPath(socketPath, maxInstances, messageType);
        if (!listener) {
            return INVALID_HANDLE_VALUE;
        }
        if ((openMode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0 && listener->HasInstances()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (!listener->AddInstance(pipe.get())) {
            return INVALID_HANDLE_VALUE;
        }
        pipe->SetListener(std::move(listener));
    }
    HANDLE handle = posix::HandleFor(pipe);
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    return posix::RunIo(pipe, posix::PipeOperation::Connect, nullptr, 0, nullptr, overlapped);
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    const auto end = posix::LookupAs<posix::PipeEnd>(file, posix::ObjectKind::Pipe);
    if (!end) {
        return FALSE;
    }
    if (!end->Cancel(overlapped)) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL DisconnectNamedPipe(HANDLE pipe) {
    const auto end = posix::LookupAs<posix::PipeEnd>(pipe, posix::ObjectKind::Pipe);
    if (!end) {
        return FALSE;
    }
    const DWORD error = end->Disconnect();
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD /*access*/, DWORD /*shareMode*/, LPSECURITY_ATTRIBUTES /*attributes*/,
                   DWORD /*creationDisposition*/, DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
    if (posix::PipeName(fileName).empty()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    std::string socketPath;
    if (!posix::SocketPathOf(fileName, socketPath)) {
        return INVALID_HANDLE_VALUE;
    }
    posix::UniqueFd socket = posix::ConnectToServer(socketPath, posix::pipe_protocol::kConnectRequest);
    if (!socket) {
        return INVALID_HANDLE_VALUE;
    }
    char answer[2] = {};
    switch (posix::AwaitAnswer(socket.get(), posix::kHandshakeTimeoutMs, answer, sizeof answer)) {
    case posix::Answer::Received:
        break;
    case posix::Answer::TimedOut:
        SetLastError(ERROR_PIPE_BUSY);
        return INVALID_HANDLE_VALUE;
    case posix::Answer::Closed:
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (answer[0] != posix::pipe_protocol::kAccepted) {
        SetLastError(ERROR_PIPE_BUSY);
        return INVALID_HANDLE_VALUE;
    }
    const bool messageType = answer[1] == posix::pipe_protocol::kMessageType;
    const auto pipe = posix::PipeEnd::Make(false, messageType, false, (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0);
    if (!pipe) {
        return INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard<std::mutex> guard(posix::IoEngine::Instance().Lock());
        pipe->Attach(std::move(socket));
    }
    HANDLE handle = posix::HandleFor(pipe);
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL WaitNamedPipeA(LPCSTR name, DWORD timeOut) {
    std::string socketPath;
    if (!posix::SocketPathOf(name, socketPath)) {
        return FALSE;
    }
    const posix::UniqueFd socket = posix::ConnectToServer(socketPath, posix::pipe_protocol::kWaitRequest);
    if (!socket) {
        return FALSE;
    }
    char answer = 0;
    const DWORD milliseconds = timeOut == NMPWAIT_USE_DEFAULT_WAIT ? posix::kDefaultWaitMs : timeOut;
    switch (posix::AwaitAnswer(socket.get(), milliseconds, &answer, 1)) {
    case posix::Answer::Received:
        return TRUE;
    case posix::Answer::TimedOut:
        SetLastError(ERROR_SEM_TIMEOUT);
        return FALSE;
    case posix::Answer::Closed:
        break;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD /*maxCollectionCount*/,
                             LPDWORD /*collectDataTimeout*/) {
    const auto end = posix::LookupAs<posix::PipeEnd>(pipe, posix::ObjectKind::Pipe);
    if (!end) {
        return FALSE;
    }
    if (mode == nullptr) {
        return TRUE;
    }
    if ((*mode & ~PIPE_READMODE_MESSAGE) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD error = end->SetReadMode((*mode & PIPE_READMODE_MESSAGE) != 0);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL GetNamedPipeHandleStateA(HANDLE pipe, LPDWORD state, LPDWORD currentInstances, LPDWORD maxCollectionCount,
                              LPDWORD collectDataTimeout, LPSTR userName, DWORD userNameSize) {
    const auto end = posix::LookupAs<posix::PipeEnd>(pipe, posix::ObjectKind::Pipe);
    if (!end) {
        return FALSE;
    }
    if (state != nullptr || maxCollectionCount != nullptr || collectDataTimeout != nullptr || userName != nullptr ||
        userNameSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (currentInstances != nullptr) {
        *currentInstances = end->Instances();
    }
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
    return posix::RunIo(file, posix::PipeOperation::Read, static_cast<char*>(buffer), bytesToRead, bytesRead,
                        overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
    // The buffer is only read; the request record has one pointer for both directions.
    return posix::RunIo(file, posix::PipeOperation::Write, static_cast<char*>(const_cast<void*>(buffer)), bytesToWrite,
                        bytesWritten, overlapped);
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred, BOOL wait) {
    if (overlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONG_PTR status = posix::LoadStatus(*overlapped);
    if (status == posix::nt_status::kPending) {
        if (!wait) {
            if (const auto pipe = posix::LookupAs<posix::PipeEnd>(file, posix::ObjectKind::Pipe)) {
                pipe->Arm();
            }
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        posix::EventPtr event;
        if (!posix::OverlappedEvent(overlapped->hEvent, event)) {
            return FALSE;
        }
        if (!event) {
            const auto pipe = posix::LookupAs<posix::PipeEnd>(file, posix::ObjectKind::Pipe);
            if (!pipe) {
                return FALSE;
            }
            event = pipe->CompletionEvent();
        }
        status = posix::AwaitCompletion(*overlapped, event);
    }
    if (bytesTransferred != nullptr) {
        *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (status != posix::nt_status::kSuccess) {
        SetLastError(posix::nt_status::ToWin32(status));
        return FALSE;
    }
    return TRUE;
}

BOOL HasOverlappedIoCompletedAndArm(LPOVERLAPPED overlapped) {
    if (posix::LoadStatus(*overlapped) != posix::nt_status::kPending) {
        return TRUE;
    }
    posix::EventPtr event;
    if (posix::OverlappedEvent(overlapped->hEvent, event) && event) {
        std::shared_ptr<posix::IoSource> source;
        {
            std::lock_guard<std::mutex> guard(posix::WaitLock());
            source = event->DrivenBy();
        }
        if (source) {
            source->Arm();
        }
    }
    return FALSE;
}
