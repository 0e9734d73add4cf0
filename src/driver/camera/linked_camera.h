// A camera as its link thread sees it: the few things the thread asks of
// the camera it feeds, so that the thread needs nothing else of it.
#pragma once

#include <cstdint>

#include "camera/image_buffer.h"
#include "quorvex.h"

// Implemented by Camera, which keeps the frame's shape, the buffer, the
// connection flag and the host's callbacks; the link thread calls these on
// its own thread only, and `port` is always the port its link serves, which
// the host's callbacks and the link's lines carry.
class LinkedCamera {
public:
    virtual ~LinkedCamera() = default;

    // Whether the host holds the camera open.
    virtual bool IsOpen() const = 0;
    // Whether the camera counts as connected: cleared by the host's side too,
    // by an open that gave up waiting and by a close.
    virtual bool IsConnected() const = 0;
    // Reports the link up, unless a close has already told the link to stop,
    // so that a closing camera is never reported connected. False then.
    virtual bool ReportConnected() = 0;
    virtual void ReportDisconnected() = 0;

    // Takes a shape the server announced as the current frame's. The host is
    // asked to reset first when the camera is open and its buffer has another
    // shape; then the shape is stored and the buffer sized for it, whatever
    // the host did in its answer. Throws std::runtime_error (logged) for a
    // shape no buffer can take; the shape is the current one all the same.
    virtual void AdoptFrameShape(const FrameGeometry& shape, int32_t port) = 0;
    // The current frame's shape: the last one adopted.
    virtual FrameGeometry FrameShape() const = 0;
    // Asks the host for a reset through its command callback; logs when it
    // has none.
    virtual void RequestReset(int32_t port) = 0;

    // The host's complete callback while the camera takes frames (open, with
    // a callback set); null while frames are to be dropped.
    virtual CompleteCallback FrameReceiver() const = 0;
    // The byte count of a frame of the current shape when the buffer holds
    // exactly that shape; 0 when it cannot take such a frame.
    virtual int64_t StorableFrameBytes() = 0;
    // Copies a frame of the current shape from `source` into the buffer;
    // false, with nothing copied, when the buffer does not hold that shape.
    virtual bool StoreFrame(const void* source) = 0;
};
