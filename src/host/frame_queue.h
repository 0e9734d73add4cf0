// Frames handed from a camera's thread to its reader: a queue of a depth the
// host chooses in which the newest frame wins, and a pool of buffers that
// keeps a steady stream from allocating.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <vector>

namespace host {

struct Frame {
    std::vector<uint8_t> bytes;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    int rowPitch = 0;
    int64_t number = 0;
    int64_t arrivedUs = 0;
    // What the server said of the frame (QuorvexHostFrame's fields).
    int64_t serverNumber = 0;
    int64_t captureUs = 0;
    int64_t gap = 0;
    int64_t arrivedRealUs = 0;
};

struct FrameCounts {
    int64_t received = 0;
    int64_t replaced = 0;
};

// Threads: Buffer and Push on the camera's thread; Pop, Release and Counts
// on any. `lock_` guards everything.
class FrameQueue {
public:
    explicit FrameQueue(size_t depth) : depth_(depth) {}

    // A buffer of `bytes` bytes for the next frame, from the pool when one
    // is there.
    std::vector<uint8_t> Buffer(size_t bytes);
    // Queues a filled frame; a full queue drops its oldest first.
    void Push(Frame frame);
    // The oldest frame, lent until Release; null when none came within
    // `timeout` (negative: no limit).
    const Frame* Pop(std::chrono::milliseconds timeout);
    // Takes back a lent frame; false for one this queue did not lend.
    bool Release(const uint8_t* pixels);
    FrameCounts Counts();

private:
    const size_t depth_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<Frame> waiting_;
    // A list, so that a lent frame stays where it is while others come and go.
    std::list<Frame> lent_;
    std::vector<std::vector<uint8_t>> pool_;
    FrameCounts counts_;
};

}  // namespace host
