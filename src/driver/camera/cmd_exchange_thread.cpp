#include "camera/cmd_exchange_thread.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "support/driver_state.h"
#include "support/log.h"
#include "support/win32_exception.h"

namespace {

constexpr DWORD kRetryPauseMs = 1000;
constexpr int32_t kDimensionsPollMs = 20;

bool IsServerLost(DWORD code) {
    return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
}

DriverState* Log() {
    return GetDriverState();
}

// Milliseconds since the driver was loaded, which the log's readers take for
// the process's clock.
const DWORD kLoadTick = GetTickCount();

DWORD ProcessClock() {
    return GetTickCount() - kLoadTick;
}

// A message of another size than the 12 bytes read leaves part of the last
// message in the buffer, which must not be taken for a new one.
void CheckWholeMessage(DWORD bytes) {
    if (bytes != kMessageSize) {
        throw std::runtime_error("message of " + std::to_string(bytes) + " bytes instead of " +
                                 std::to_string(kMessageSize));
    }
}

}  // namespace

CmdExchangeThread::~CmdExchangeThread() {
    if (threadHandle) {
        Destroy();
    }
    JoinExitingThread();
}

bool CmdExchangeThread::Init(int32_t newPort, LinkedCamera* owner, const char* newShareName) {
    if (owner == nullptr) {
        LogMessage(1, Log(), "CmdExchangeThread::Init: ERROR: camera pointer == 0");
        return false;
    }
    // A thread closed from its own callback is joined before a new one
    // starts on this object.
    JoinExitingThread();
    port = newPort;
    camera = owner;
    LogMessage(2, Log(), "CmdExchangeThread::Init: entering on port=%d\n", newPort);
    if (newShareName == nullptr) {
        LogMessage(1, Log(), "CmdExchangeThread::Init: incorrect parameters: name unassigned, port=%d\n", newPort);
        return false;
    }
    if (threadHandle) {
        LogMessage(1, Log(), "CmdExchangeThread::Init: already initialized on port=%d\n", newPort);
        return false;
    }
    shareName = newShareName;
    dimensionsValid = false;
    for (std::atomic<int32_t>* value :
         {&record.state, &record.framesDelivered, &record.framesRefused, &record.resetsAsked, &record.reconnections,
          &record.frameNumber, &record.captureHigh, &record.captureLow, &record.frameGap, &record.framesSkipped}) {
        *value = 0;
    }
    lastFrameNumber = 0;
    everConnected = false;
    if (OnOwnThread() && exitingThread) {
        // Reopened inside its own callback: this thread is the one to run
        // the new link, once the callback returns.
        threadHandle = std::move(exitingThread);
        ResetEvent(waitEvent.get());
        stop = false;
        restart = true;
        LogMessage(2, Log(), "CmdExchangeThread::Init: reopened on its own thread, port=%d\n", newPort);
        LogMessage(2, Log(), "CmdExchangeThread::Init: leaving on port=%d\n", newPort);
        return true;
    }
    if (!waitEvent) {
        waitEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!waitEvent) {
            LogMessage(1, Log(), "CmdExchangeThread::Init: could not create wait event on port=%d\n", newPort);
            return false;
        }
    }
    DWORD id = 0;
    threadHandle.reset(CreateThread(nullptr, 0, &CmdExchangeThread::static_ThreadMain, this, 0, &id));
    threadId = id;
    LogMessage(2, Log(), "CmdExchangeThread::Init: thread created:%d on port=%d\n",
               static_cast<int>(reinterpret_cast<intptr_t>(threadHandle.get())), newPort);
    if (!threadHandle) {
        LogMessage(2, Log(), "CmdExchangeThread::Init: ERROR: failed to initialize camera thread on port=%d\n",
                   newPort);
        return false;
    }
    LogMessage(2, Log(), "CmdExchangeThread::Init: leaving on port=%d\n", newPort);
    return true;
}

bool CmdExchangeThread::OnOwnThread() const {
    return threadId.load() != 0 && threadId.load() == GetCurrentThreadId();
}

void CmdExchangeThread::JoinExitingThread() {
    if (exitingThread && !OnOwnThread()) {
        WaitForSingleObject(exitingThread.get(), INFINITE);
        exitingThread.reset();
        threadId = 0;
        stop = false;
    }
}

void CmdExchangeThread::RequestStop() {
    if (threadHandle) {
        restart = false;
        stop = true;
        SetEvent(waitEvent.get());
    }
}

void CmdExchangeThread::Destroy() {
    const int32_t destroyedPort = port;
    LogMessage(2, Log(), "CmdExchangeThread::Destroy: entering on port=%d\n", destroyedPort);
    if (threadHandle) {
        RequestStop();
        if (OnOwnThread()) {
            // Waiting here would wait for ourselves: the thread sees `stop`
            // as soon as the host's callback returns, and the next Init or
            // Destroy from another thread joins it.
            exitingThread = std::move(threadHandle);
        } else {
            WaitForSingleObject(threadHandle.get(), INFINITE);
            threadHandle.reset();
            threadId = 0;
            stop = false;
        }
        port = kNoPort;
        LogMessage(2, Log(), "CmdExchangeThread::Destroy: thread closed on port=%d\n", destroyedPort);
    } else {
        JoinExitingThread();
    }
    if (!exitingThread) {
        waitEvent.reset();
        camera = nullptr;
    }
    LogMessage(2, Log(), "CmdExchangeThread::Destroy: leaving on port=%d\n", destroyedPort);
}

bool CmdExchangeThread::WaitForDimensions(int32_t timeout, int32_t& outWidth, int32_t& outHeight,
                                          int32_t& outBytesPerPixel) {
    LogMessage(2, Log(), "CmdExchangeThread::WaitForDimensions: timeout=%d, clock=%d, port=%d", timeout,
               static_cast<int>(ProcessClock()), port.load());
    for (int32_t waited = 0; waited <= timeout; waited += kDimensionsPollMs) {
        if (camera != nullptr && dimensionsValid.load(std::memory_order_acquire)) {
            const FrameGeometry shape = camera->FrameShape();
            outWidth = shape.width;
            outHeight = shape.height;
            outBytesPerPixel = shape.bytesPerPixel;
            LogMessage(2, Log(), "CmdExchangeThread::WaitForDimensions: OK, leaving, clock=%d, port=%d\n",
                       static_cast<int>(ProcessClock()), port.load());
            return true;
        }
        if (OnOwnThread()) {
            break;
        }
        Sleep(kDimensionsPollMs);
    }
    LogMessage(2, Log(), "CmdExchangeThread::WaitForDimensions: NOT AVAILABLE, leaving, clock=%d, port=%d\n",
               static_cast<int>(ProcessClock()), port.load());
    return false;
}

DWORD WINAPI CmdExchangeThread::static_ThreadMain(LPVOID parameter) {
    if (parameter == nullptr) {
        return static_cast<DWORD>(-1);
    }
    // The host may unload the library while this thread runs; the reference
    // keeps the code in place until the thread has left it.
    HMODULE module = platform::PinCodeModule();
    LogMessage(2, Log(), "CmdExchangeThread::static_ThreadMain\n");
    const DWORD exitCode = static_cast<CmdExchangeThread*>(parameter)->ThreadMain();
    return platform::ExitThreadReleasingModule(module, exitCode);
}

DWORD CmdExchangeThread::ThreadMain() {
    LogMessage(2, Log(), "CmdExchangeThread::ThreadMain: entering, clock=%ld on port=%d",
               static_cast<long>(ProcessClock()), port.load());
    state = StateAttach;
    frameDropLogged = false;
    holdFirstFrame = true;
    for (;;) {
        if (restart) {
            Restart();
        }
        if (stop) {
            break;
        }
        try {
            switch (state) {
            case StateAttach:
                Attach();
                break;
            case StateAskDimensions:
                AskDimensions();
                break;
            case StateHeader:
            case StateDimensions:
            case StateImage:
                ProcessRunningStates();
                break;
            default:
                LogMessage(1, Log(), "CmdExchangeThread::ThreadMain: unrecognized state, leaving thread, port=%d",
                           port.load());
                stop = true;
                break;
            }
        } catch (const Win32Exception& error) {
            if (IsServerLost(error.ErrorCode)) {
                LogMessage(2, Log(), "CmdExchangeThread::ThreadMain: server lost on port %d", port.load());
                Disconnect();
            } else {
                LogMessage(1, Log(), "CmdExchangeThread::ThreadMain: ERROR (%X): %s",
                           static_cast<unsigned>(error.ErrorCode), error.what());
                DropAndRetryLater();
            }
        } catch (const std::exception& error) {
            LogMessage(1, Log(), "CmdExchangeThread::ThreadMain: ERROR: %s", error.what());
            DropAndRetryLater();
        }
    }
    Disconnect();
    LogMessage(2, Log(), "CmdExchangeThread::ThreadMain: leaving on port=%d\n", port.load());
    return 0;
}

void CmdExchangeThread::Restart() {
    restart = false;
    Disconnect();
    frameDropLogged = false;
    holdFirstFrame = true;
    LogMessage(2, Log(), "CmdExchangeThread::ThreadMain: restarting on port=%d\n", port.load());
}

// Any step that failed for another reason than the server's loss would meet
// the same failure again in the same state (its read has completed and is
// not repeated), so the link starts afresh a second later instead of
// spinning on it.
void CmdExchangeThread::DropAndRetryLater() {
    Disconnect();
    PauseUnlessStopped(kRetryPauseMs);
}

void CmdExchangeThread::PauseUnlessStopped(DWORD milliseconds) {
    if (!stop) {
        WaitForSingleObject(waitEvent.get(), milliseconds);
    }
}

void CmdExchangeThread::Attach() {
    LogMessage(2, Log(), "CmdExchangeThread::Attach: attaching to named pipe=%s, port=%d", shareName.c_str(),
               port.load());
    try {
        pipe.Connect(shareName);
    } catch (const Win32Exception& error) {
        LogMessage(2, Log(),
                   "CmdExchangeThread::ThreadMain: Exception named pipe=%s: %d, %s. Attempting after 1s, port=%d",
                   shareName.c_str(), static_cast<int>(error.ErrorCode), error.what(), port.load());
        PauseUnlessStopped(kRetryPauseMs);
        return;
    }
    LogMessage(2, Log(), "CmdExchangeThread::Attach: attached OK, port=%d", port.load());
    state = StateAskDimensions;
}

void CmdExchangeThread::AskDimensions() {
    LogMessage(3, Log(), "CmdExchangeThread::AskDimensions: asking for dimensions, port=%d", port.load());
    pipe.BeginWrite(&request, sizeof request);
    StartHeaderRead();
}

void CmdExchangeThread::StartHeaderRead() {
    readEvent = pipe.BeginRead(&header, sizeof header);
    state = StateHeader;
}

void CmdExchangeThread::ProcessRunningStates() {
    const HANDLE handles[2] = {readEvent, waitEvent.get()};
    const DWORD event = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    LogMessage(3, Log(), "CmdExchangeThread::ProcessRunningStates: event=%d, port=%d", static_cast<int>(event),
               port.load());
    if (event == WAIT_FAILED) {
        throw Win32Exception();
    }
    if (event == WAIT_OBJECT_0 + 1) {
        ResetEvent(waitEvent.get());
        return;
    }
    if (event != WAIT_OBJECT_0) {
        LogMessage(3, Log(), "CmdExchangeThread::ProcessRunningStates: unrecognized state=%d, port=%d",
                   static_cast<int>(event), port.load());
        return;
    }
    switch (state) {
    case StateHeader:
        // A failed read (the server gone) throws here, before its buffer is
        // taken for a message; so does a message of the wrong size.
        CheckWholeMessage(pipe.ReadResult());
        ProcessHeader();
        break;
    case StateDimensions:
        CheckWholeMessage(pipe.ReadResult());
        ProcessDimensions();
        break;
    default:
        ProcessImage();
        break;
    }
}

void CmdExchangeThread::ProcessHeader() {
    LogMessage(3, Log(), "CmdExchangeThread::ProcessRunningStates: header received, type=%d, port=%d", header.type,
               port.load());
    switch (header.type) {
    case Dimensions:
        readEvent = pipe.BeginRead(&dimensions, sizeof dimensions);
        state = StateDimensions;
        break;
    case ImageReady:
        if (!segment.IsAttached() && !segment.Open(shareName)) {
            LogMessage(2, Log(),
                       "CmdExchangeThread::ProcessRunningStates: could not attach to shared memory at %s, port=%d\n",
                       shareName.c_str(), port.load());
            DropAndRetryLater();
            return;
        }
        // The read event stays signalled, so the next pass handles the frame
        // at once.
        state = StateImage;
        break;
    case Stop:
        SetLinkState(LinkState::EndedByStop);
        stop = true;
        break;
    default:
        LogMessage(2, Log(), "CmdExchangeThread::ProcessRunningStates: Unknown header received. %d\n", header.type);
        state = StateAskDimensions;
        break;
    }
}

void CmdExchangeThread::ProcessDimensions() {
    const FrameGeometry received{dimensions.width, dimensions.height, dimensions.bytesPerPixel};
    LogMessage(3, Log(), "CmdExchangeThread::ProcessRunningStates: dimensions received, w=%d, h=%d, bpp=%d, port=%d",
               received.width, received.height, received.bytesPerPixel, port.load());
    bool adopted = true;
    try {
        camera->AdoptFrameShape(received, port);
    } catch (const std::exception& error) {
        LogMessage(1, Log(), "CmdExchangeThread::ThreadMain: ERROR: %s", error.what());
        adopted = false;
    }
    // A reopen inside the host's answer to a reset has cleared the flag: its
    // link asks for the dimensions afresh.
    if (!restart) {
        dimensionsValid.store(true, std::memory_order_release);
    }
    if (!adopted) {
        // No buffer can take these frames: the host is asked to reset, and
        // the link ends as for a frame that cannot be delivered.
        if (!Interrupted()) {
            StopAfterError();
        }
        return;
    }
    if (Interrupted() || !camera->ReportConnected()) {
        return;
    }
    if (record.state != static_cast<int32_t>(LinkState::Connected)) {
        record.reconnections += everConnected ? 1 : 0;
        everConnected = true;
        SetLinkState(LinkState::Connected);
    }
    StartHeaderRead();
    if (!camera->IsConnected()) {
        LogMessage(2, Log(),
                   "CmdExchangeThread::ProcessRunningStates: camera share is not connected, request reset, port=%d",
                   port.load());
        RequestReset();
    }
}

void CmdExchangeThread::StopAfterError() {
    RequestReset();
    if (!restart) {
        SetLinkState(LinkState::EndedOnRefusedFrame);
        stop = true;
    }
}

void CmdExchangeThread::Disconnect() {
    // A server met again may have started its numbers afresh.
    lastFrameNumber = 0;
    // A lost server is looked for again; an ended link stays ended.
    if (record.state == static_cast<int32_t>(LinkState::Connected)) {
        SetLinkState(LinkState::NoServerYet);
    }
    if (camera != nullptr) {
        camera->ReportDisconnected();
    }
    segment.Close();
    pipe.Close();
    state = StateAttach;
}
