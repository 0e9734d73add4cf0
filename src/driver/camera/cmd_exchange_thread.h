// A camera's link to its camera server: one background thread that connects
// to the server's pipe, learns the frame size, has the camera store every
// announced frame and tells the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "camera/linked_camera.h"
#include "camera/port.h"
#include "link/named_pipe_channel.h"
#include "link/shared_memory.h"
#include "platform/module_reference.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "wire/messages.h"

// Owned by value by its Camera, which it sees only as a LinkedCamera. The
// host's thread calls Init, WaitForDimensions and Destroy; everything else
// runs on the background thread, which also calls the host's callbacks.
//
// The thread's states, with every edge the code takes:
//
//   StateAttach --pipe opened--> StateAskDimensions --request sent--> StateHeader
//
//   StateHeader     --Dimensions--------------------------> StateDimensions
//   StateHeader     --ImageReady, segment attached--------> StateImage
//   StateHeader     --unknown type------------------------> StateAskDimensions
//   StateDimensions --any 12-byte message (the block)-----> StateHeader
//   StateImage      --frame copied and announced, or------> StateHeader
//                     dropped (camera closed, no callback);
//                     the first frame before the host is
//                     ready waits up to 1 s for it
//
//   Back to StateAttach, the link dropped (pipe and segment closed, camera
//   disconnected):
//     at once:       the pipe broken (109, 233), in any state;
//     after 1 s:     the connect failed (StateAttach); a message not 12 bytes
//                    long (StateHeader, StateDimensions); ImageReady with no
//                    segment to open (StateHeader); any other failed step.
//
//   The thread ends, the link dropped, on: a stop request (Destroy) in any
//   state, seen before each step and by every wait; Stop (StateHeader); a
//   frame size no buffer can take (StateDimensions, Reset asked first); no
//   camera, no dimensions yet, a buffer of another size than the frame or a
//   segment shorter than it (StateImage, Reset asked first for the last two).
//
// Hand-offs: `stop` is set before `waitEvent` is signalled; the camera has
// adopted the frame's shape before `dimensionsValid` is set (release), and
// WaitForDimensions reads it after seeing the flag (acquire).
class CmdExchangeThread {
public:
    enum class ThreadState : int32_t {
        StateAttach = 0,
        StateAskDimensions = 1,
        StateHeader = 2,
        StateDimensions = 3,
        StateImage = 4,
    };
    // The states by their bare names, as the code inside the class uses them.
    static constexpr ThreadState StateAttach = ThreadState::StateAttach;
    static constexpr ThreadState StateAskDimensions = ThreadState::StateAskDimensions;
    static constexpr ThreadState StateHeader = ThreadState::StateHeader;
    static constexpr ThreadState StateDimensions = ThreadState::StateDimensions;
    static constexpr ThreadState StateImage = ThreadState::StateImage;

    CmdExchangeThread() = default;
    ~CmdExchangeThread();
    CmdExchangeThread(const CmdExchangeThread&) = delete;
    CmdExchangeThread& operator=(const CmdExchangeThread&) = delete;

    // Records the port and the camera and starts the thread; false when it
    // could not start (also when it already runs or the share name is missing).
    // Called on the thread itself (the host reopening the camera inside its
    // callback after closing it there), it keeps that thread: once the
    // callback returns, the thread drops its connection and starts afresh
    // with the new port and share name. A thread closed from its own callback
    // and reopened from another thread is joined first.
    bool Init(int32_t port, LinkedCamera* camera, const char* shareName);
    // Polls every 20 ms, up to `timeout` ms, for the server's frame size. On
    // the thread itself it tests once: only that thread can bring them.
    bool WaitForDimensions(int32_t timeout, int32_t& width, int32_t& height, int32_t& bytesPerPixel);
    // Tells the thread to stop and waits for it to end. Called from the
    // thread itself (the host closing the camera inside its callback), it only
    // tells it: the thread ends when the callback returns.
    void Destroy();
    // Sets `stop` and wakes the thread, without waiting; nothing without a
    // thread. Destroy does it too; the camera does it earlier, under its link
    // lock, so that the thread cannot report a connection once it is closing.
    void RequestStop();
    // Joins a thread that was told to stop from inside its own callback; its
    // owner's destructor calls it before anything the thread uses is freed.
    // Nothing on the thread itself or when there is none.
    void JoinExitingThread();
    // True on this object's background thread.
    bool OnOwnThread() const;
    // True from a stop request until the thread is joined or reopened.
    bool StopRequested() const { return stop; }

    // What the link knows, for a host that asks (getProperty). Written by the
    // thread, read by any; each open starts them afresh.
    enum class LinkState : int32_t {
        NoServerYet = 0,          // no dimensions from a server since the open
        Connected = 1,            // a server answered; frames may come
        EndedByStop = 2,          // the server sent Stop: the link has ended
        EndedOnRefusedFrame = 3,  // a frame could not be taken: the link has ended
    };
    struct LinkRecord {
        std::atomic<int32_t> state{0};
        std::atomic<int32_t> framesDelivered{0};
        std::atomic<int32_t> framesRefused{0};
        std::atomic<int32_t> resetsAsked{0};
        std::atomic<int32_t> reconnections{0};
        // The frame in the buffer, from a server that numbers and stamps its
        // frames (0 from one that does not): its number (the unsigned value's
        // bits), its capture time in microseconds since 1970 as the high and
        // low halves of a 64-bit value, and the numbers left out just before
        // it; and all numbers left out on this open's links.
        std::atomic<int32_t> frameNumber{0};
        std::atomic<int32_t> captureHigh{0};
        std::atomic<int32_t> captureLow{0};
        std::atomic<int32_t> frameGap{0};
        std::atomic<int32_t> framesSkipped{0};
    };
    const LinkRecord& Record() const { return record; }

private:
    static DWORD WINAPI static_ThreadMain(LPVOID parameter);
    DWORD ThreadMain();
    void Attach();
    void AskDimensions();
    void ProcessRunningStates();
    void ProcessHeader();
    void ProcessDimensions();
    void ProcessImage();
    void RequestReset() {
        ++record.resetsAsked;
        camera->RequestReset(port);
    }
    void SetLinkState(LinkState linkState) { record.state = static_cast<int32_t>(linkState); }
    // Records the number and time of the frame just stored, from its stamp
    // when the server left one, and counts the numbers it skipped.
    void RecordFrameStamp(const FrameStamp* stamp);
    void Disconnect();
    // Ends the thread's link after an error that would repeat in this state,
    // unless the host reopened the camera in its answer to the reset.
    void StopAfterError();
    // The frame's buffer is missing or of another shape.
    void RefuseFrame();
    // The camera is open and has its complete callback.
    bool HostReady() const;
    // Waits, a bounded time, for the host of a camera being opened to be
    // ready; false when it is not, or the thread is told to stop.
    bool AwaitHost();
    // Drops a frame the camera cannot take, with one line for a run of them,
    // and reads the next header.
    void DropFrame();
    // True once the host, inside a callback that has just returned, closed
    // the camera or closed and reopened it: the step in progress ends there.
    bool Interrupted() const { return stop || restart; }
    // Drops the connection of before a reopen from the thread's own callback.
    void Restart();
    // Drops the connection and waits a second, or until told to stop.
    void DropAndRetryLater();
    void PauseUnlessStopped(DWORD milliseconds);
    void StartHeaderRead();

    platform::UniqueThread threadHandle;
    platform::UniqueEvent waitEvent;
    HANDLE readEvent = nullptr;
    std::atomic<bool> stop{false};
    // Set by Init on the thread itself; the loop then starts afresh.
    std::atomic<bool> restart{false};
    std::atomic<int32_t> port{kNoPort};
    ThreadState state = StateAttach;
    std::string shareName;
    NamedPipeChannel pipe;
    CSharedMemory segment;
    const MessageHeader request{HeaderMagic, Dimensions, 0};
    // The message being read: a header, or in StateDimensions the block,
    // which goes to the camera at once.
    MessageHeader header{HeaderMagic, 0, 0};
    DimensionsBlock dimensions{0, 0, 0};
    // Set once the camera has a shape from this link's server; cleared by Init.
    std::atomic<bool> dimensionsValid{false};
    LinkRecord record;
    // Whether the link has been connected since the open: a later connection
    // is a reconnection.
    bool everConnected = false;
    // The number of the last frame stored on this connection; 0 before one.
    uint32_t lastFrameNumber = 0;
    LinkedCamera* camera = nullptr;

    // A thread told to stop from inside its own callback: joined by the next
    // Init or Destroy from another thread, or by the owner's destructor.
    platform::UniqueThread exitingThread;
    std::atomic<DWORD> threadId{0};
    // One line for the frames dropped while the camera cannot take them.
    bool frameDropLogged = false;
    // Until the host has been ready once on this link, the first frame that
    // comes before it is held for it instead of dropped.
    bool holdFirstFrame = true;
};
