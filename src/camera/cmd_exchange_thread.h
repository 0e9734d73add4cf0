// A camera's link to its camera server: one background thread that connects
// to the server's pipe, learns the frame size, copies every announced frame
// into the camera's buffer and tells the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "link/messages.h"
#include "link/named_pipe_channel.h"
#include "link/shared_memory.h"
#include "platform/module_reference.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

class Camera;

// Owned by value by its Camera. The host's thread calls Init,
// WaitForDimensions and Destroy; everything else runs on the background
// thread, which also calls the host's callbacks.
//
// The thread's states:
//
//   StateAttach --pipe opened--> StateAskDimensions --request sent--> StateHeader
//        ^   \__connect failed: retry after 1 s                        |  ^  |
//        |                                                 Dimensions  |  |  | ImageReady
//        |                                                             v  |  v
//        +-- server lost / segment missing / link error -- StateDimensions  StateImage
//
//   StateHeader on Stop, a frame that cannot be delivered, or Destroy: the
//   thread drops the connection and ends.
//
// Hand-offs: `stop` is set before `waitEvent` is signalled; the frame size is
// stored before `dimensionsValid` is set (release) and read after it is seen
// (acquire).
class CmdExchangeThread {
public:
    enum ThreadState : int32_t {
        StateAttach = 0,
        StateAskDimensions = 1,
        StateHeader = 2,
        StateDimensions = 3,
        StateImage = 4,
    };

    CmdExchangeThread() = default;
    ~CmdExchangeThread();
    CmdExchangeThread(const CmdExchangeThread&) = delete;
    CmdExchangeThread& operator=(const CmdExchangeThread&) = delete;

    // Records the port and the camera and starts the thread; false when it
    // could not start (also when it already runs or the share name is missing).
    bool Init(int32_t port, Camera* camera, const char* shareName);
    // Polls every 20 ms, up to `timeout` ms, for the server's frame size.
    bool WaitForDimensions(int32_t timeout, int32_t& width, int32_t& height, int32_t& bytesPerPixel);
    // Tells the thread to stop and waits for it to end. Called from the
    // thread itself (the host closing the camera inside its callback), it only
    // tells it: the thread ends when the callback returns.
    void Destroy();

private:
    static DWORD WINAPI static_ThreadMain(LPVOID parameter);
    DWORD ThreadMain();
    void Attach();
    void AskDimensions();
    void ProcessRunningStates();
    void ProcessHeader();
    void ProcessDimensions();
    void ProcessImage();
    void SetImageSize(Camera* owner, int32_t newWidth, int32_t newHeight, int32_t newBytesPerPixel);
    void RequestReset();
    void Disconnect();
    // Ends the thread's link after an error that would repeat in this state.
    void StopAfterError();
    // Drops the connection and waits a second, or until told to stop.
    void DropAndRetryLater();
    void PauseUnlessStopped(DWORD milliseconds);
    void StartHeaderRead();
    void JoinExitingThread();
    bool OnOwnThread() const;

    platform::UniqueThread threadHandle;
    platform::UniqueEvent waitEvent;
    HANDLE readEvent = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<int32_t> port{-2};
    int32_t state = StateAttach;
    std::string shareName;
    NamedPipeChannel pipe;
    CSharedMemory segment;
    const MessageHeader request{HeaderMagic, Dimensions, 0};
    MessageHeader header{HeaderMagic, 0, 0};
    std::atomic<bool> dimensionsValid{false};
    DimensionsBlock dimensions{0, 0, 0};
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;
    Camera* camera = nullptr;

    // A thread told to stop from inside its own callback: joined by the next
    // Init or Destroy from another thread, or by the destructor.
    platform::UniqueThread exitingThread;
    std::atomic<DWORD> threadId{0};
    // One line for the frames dropped while the camera cannot take them.
    bool frameDropLogged = false;
};
