#include "camera/cmd_exchange_thread.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "camera/camera.h"
#include "support/driver_state.h"
#include "support/log.h"
#include "support/win32_exception.h"

namespace {

constexpr DWORD kRetryPauseMs = 1000;
constexpr int32_t kDimensionsPollMs = 20;
// How long a frame that comes while its camera is being opened waits for
// the host to be ready, and how often it looks.
constexpr DWORD kHostReadyWaitMs = 1000;
constexpr DWORD kHostReadyPollMs = 5;

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

// The frame's byte count, or -1 for one that does not even fit 64 bits (no
// buffer can match it).
int64_t FrameBytes(int32_t frameWidth, int32_t frameHeight, int32_t frameBytesPerPixel) {
    int64_t byteCount = 0;
    return FrameByteCount(frameWidth, frameHeight, frameBytesPerPixel, byteCount) ? byteCount : -1;
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

bool CmdExchangeThread::Init(int32_t newPort, Camera* owner, const char* newShareName) {
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
    width = 0;
    height = 0;
    bytesPerPixel = 0;
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
        if (dimensionsValid.load(std::memory_order_acquire)) {
            outWidth = width;
            outHeight = height;
            outBytesPerPixel = bytesPerPixel;
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
        stop = true;
        break;
    default:
        LogMessage(2, Log(), "CmdExchangeThread::ProcessRunningStates: Unknown header received. %d\n", header.type);
        state = StateAskDimensions;
        break;
    }
}

void CmdExchangeThread::ProcessDimensions() {
    width = dimensions.width;
    height = dimensions.height;
    bytesPerPixel = dimensions.bytesPerPixel;
    dimensionsValid.store(true, std::memory_order_release);
    LogMessage(3, Log(), "CmdExchangeThread::ProcessRunningStates: dimensions received, w=%d, h=%d, bpp=%d, port=%d",
               width.load(), height.load(), bytesPerPixel.load(), port.load());

    // Kept apart from the fields, which a reopen inside the reset below
    // clears.
    const FrameGeometry received{width, height, bytesPerPixel};
    // Any change of shape, not only of size: rows are addressed with the
    // buffer's own stride.
    if (camera->isOpen && camera->imageBuffer.Geometry() != received) {
        LogMessage(2, Log(),
                   "CmdExchangeThread::ProcessRunningStates: WARNING: dimesnions changed, requesting reset, port=%d",
                   port.load());
        RequestReset();
    }
    // The buffer takes the new shape even when the host has closed or
    // reopened the camera in its answer: a reopened link that is sent the
    // same dimensions then finds them in place and asks for no second reset.
    try {
        SetImageSize(camera, received.width, received.height, received.bytesPerPixel);
    } catch (const std::exception& error) {
        // No buffer can take these frames: the host is asked to reset, and
        // the link ends as for a frame that cannot be delivered.
        LogMessage(1, Log(), "CmdExchangeThread::ThreadMain: ERROR: %s", error.what());
        if (!Interrupted()) {
            StopAfterError();
        }
        return;
    }
    if (Interrupted()) {
        return;
    }
    {
        // A camera being closed on another thread is not reported connected:
        // its close requests the stop under the same lock.
        platform::CriticalSectionLock hold(camera->LinkLock());
        if (stop) {
            return;
        }
        camera->SetConnected(true);
    }
    StartHeaderRead();
    if (!camera->isConnected) {
        LogMessage(2, Log(),
                   "CmdExchangeThread::ProcessRunningStates: camera share is not connected, request reset, port=%d",
                   port.load());
        RequestReset();
    }
}

void CmdExchangeThread::StopAfterError() {
    RequestReset();
    if (!restart) {
        stop = true;
    }
}

void CmdExchangeThread::RefuseFrame() {
    LogMessage(1, Log(),
               "CmdExchangeThread::ProcessRunningStates: ERROR: buffer not assigned or size incorrect, port=%d",
               port.load());
    StopAfterError();
}

void CmdExchangeThread::ProcessImage() {
    if (camera == nullptr) {
        LogMessage(1, Log(), "CmdExchangeThread::ProcessRunningStates: ERROR: camera not assigned, port=%d",
                   port.load());
        stop = true;
        return;
    }
    if (!dimensionsValid.load(std::memory_order_acquire)) {
        LogMessage(
            1, Log(),
            "CmdExchangeThread::ProcessRunningStates: ERROR: image available, but dimensions were not assigned as "
            "yet, port=%d",
            port.load());
        stop = true;
        return;
    }
    // The buffer follows every shape the server announces, so a frame fits
    // only a buffer of exactly its geometry. Checked before the server's
    // mutex is taken, so that the line is logged with no lock held.
    const FrameGeometry frame{width, height, bytesPerPixel};
    ImageBuffer& buffer = camera->imageBuffer;
    const int64_t frameBytes = FrameBytes(width, height, bytesPerPixel);
    const bool fits = frameBytes > 0 && buffer.Size() == frameBytes && buffer.Geometry() == frame;
    // The host sets its callbacks after openCVLPort returns, while the server
    // may already stream. The first frame that comes before the host is ready
    // is copied at once and held for it, a bounded time, so that a server
    // that waited for its hosts loses no first frame; later ones are dropped,
    // and the link goes on.
    const bool ready = HostReady();
    const bool heldForHost = !ready && holdFirstFrame && fits;
    if (ready || heldForHost) {
        holdFirstFrame = false;
    }
    if (!ready && !heldForHost) {
        DropFrame();
        return;
    }
    if (!fits) {
        RefuseFrame();
        return;
    }
    // The server's mutex first, with no lock of this process held; the
    // buffer's lock only for the copy itself, so a host reading rows waits at
    // most one copy and never for the server.
    platform::MutexHold hold;
    const CSharedMemory::ReadStatus status = segment.Acquire(static_cast<int32_t>(frameBytes), waitEvent.get(), hold);
    if (status == CSharedMemory::ReadStatus::Stopped) {
        return;
    }
    if (status != CSharedMemory::ReadStatus::Held) {
        StopAfterError();
        return;
    }
    const bool stored = buffer.StoreFrame(segment.View(), frame);
    hold.Release();
    if (!stored) {
        RefuseFrame();
        return;
    }
    if (heldForHost && !AwaitHost()) {
        if (!Interrupted()) {
            DropFrame();
        }
        return;
    }
    const CompleteCallback callback = camera->completeCallback;
    if (callback == nullptr) {
        DropFrame();
        return;
    }
    frameDropLogged = false;
    LogMessage(3, Log(), "CmdExchangeThread::ProcessRunningStates: image received, port=%d", port.load());
    callback(0, port.load());
    if (Interrupted()) {
        return;
    }
    StartHeaderRead();
}

bool CmdExchangeThread::HostReady() const {
    return camera->isOpen && camera->completeCallback != nullptr;
}

bool CmdExchangeThread::AwaitHost() {
    for (DWORD waited = 0; !HostReady(); waited += kHostReadyPollMs) {
        if (stop || waited >= kHostReadyWaitMs) {
            return false;
        }
        WaitForSingleObject(waitEvent.get(), kHostReadyPollMs);
    }
    return !stop;
}

void CmdExchangeThread::DropFrame() {
    if (!frameDropLogged) {
        LogMessage(2, Log(), "CmdExchangeThread::ProcessRunningStates: frame dropped, camera %s, port=%d",
                   camera->isOpen ? "has no complete callback yet" : "not open yet", port.load());
        frameDropLogged = true;
    }
    StartHeaderRead();
}

void CmdExchangeThread::SetImageSize(Camera* owner, int32_t newWidth, int32_t newHeight, int32_t newBytesPerPixel) {
    owner->bytesPerPixel = newBytesPerPixel;
    owner->width = newWidth;
    owner->height = newHeight;
    // The buffer follows the frame's shape both ways, keeping its block when
    // the byte count stays, so frames keep flowing after the host's reset. A
    // size that is not positive allocates nothing; the next frame then finds
    // no buffer of its shape.
    if (owner->imageBuffer.Geometry() == FrameGeometry{newWidth, newHeight, newBytesPerPixel}) {
        return;
    }
    int64_t frameBytes = 0;
    const bool fits = FrameByteCount(newWidth, newHeight, newBytesPerPixel, frameBytes);
    if (!fits || frameBytes > 0) {
        LogMessage(3, Log(), "CmdExchangeThread::SetImageSize: reallocating image buffer, port=%d", owner->port.load());
        owner->imageBuffer.Allocate(newWidth, newHeight, newBytesPerPixel);
    }
}

void CmdExchangeThread::RequestReset() {
    const CmdCallback callback = camera->cmdCallback;
    if (callback != nullptr) {
        callback(0, port.load(), "Reset", "");
    } else {
        LogMessage(1, Log(), "CmdExchangeThread::RequestReset: ERROR: command callback not assigned, port=%d",
                   port.load());
    }
}

void CmdExchangeThread::Disconnect() {
    if (camera != nullptr) {
        camera->SetConnected(false);
    }
    segment.Close();
    pipe.Close();
    state = StateAttach;
}
