#include "raw_input.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/system_error.h"

namespace tools {
namespace {

// How long Next waits for the reading thread before it asks again whether
// to give up.
constexpr auto kTakeWait = std::chrono::milliseconds(20);

}  // namespace

RawRead ReadRawFrame(std::FILE* stream, uint8_t* frame, size_t frameBytes) {
    RawRead read;
    errno = 0;
    // fread goes on reading until it has them all, the stream ends or it fails.
    read.bytes = std::fread(frame, 1, frameBytes, stream);
    if (read.bytes == frameBytes) {
        read.outcome = RawRead::Outcome::Frame;
    } else if (std::ferror(stream) != 0 || std::feof(stream) == 0) {
        // A short count means the end or a failure; some C runtimes (wine's
        // msvcrt reading a stream opened for writing) set neither flag.
        read.outcome = RawRead::Outcome::Error;
        read.error = errno != 0 ? platform::RuntimeErrorNote(errno) : "the stream reports an error";
    } else {
        read.outcome = read.bytes == 0 ? RawRead::Outcome::End : RawRead::Outcome::Short;
    }
    return read;
}

// What the reading thread and the reader share. The thread keeps it alive
// for as long as it runs, which may be longer than the reader.
struct RawFrameReader::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<uint8_t> frame;  // the finished read's bytes, while `ready`
    RawRead read;
    bool ready = false;      // a finished read waits to be taken
    bool finished = false;   // the thread has left its loop
    bool abandoned = false;  // the reader is gone: nothing more is taken
};

RawFrameReader::RawFrameReader(std::FILE* stream, size_t frameBytes) : shared_(std::make_shared<Shared>()) {
    std::thread([stream, frameBytes, shared = shared_] {
        std::vector<uint8_t> frame(frameBytes);
        for (;;) {
            const RawRead read = ReadRawFrame(stream, frame.data(), frame.size());
            std::unique_lock<std::mutex> hold(shared->lock);
            shared->changed.wait(hold, [&] { return !shared->ready || shared->abandoned; });
            if (shared->abandoned) {
                break;
            }
            shared->frame.swap(frame);
            frame.resize(frameBytes);
            shared->read = read;
            shared->ready = true;
            shared->changed.notify_all();
            if (read.outcome != RawRead::Outcome::Frame) {
                break;
            }
        }
        const std::lock_guard<std::mutex> hold(shared->lock);
        shared->finished = true;
        shared->changed.notify_all();
    }).detach();
}

RawFrameReader::~RawFrameReader() {
    const std::lock_guard<std::mutex> hold(shared_->lock);
    // A thread waiting to hand over a frame ends; one inside a read ends
    // after it.
    shared_->abandoned = true;
    shared_->changed.notify_all();
}

bool RawFrameReader::TakeWithin(RawRead& read, std::vector<uint8_t>& frame) {
    std::unique_lock<std::mutex> hold(shared_->lock);
    if (!shared_->changed.wait_for(hold, kTakeWait, [this] { return shared_->ready; })) {
        return false;
    }
    read = shared_->read;
    frame.swap(shared_->frame);
    shared_->ready = false;
    shared_->changed.notify_all();
    return true;
}

bool RawFrameReader::Reading() const {
    const std::lock_guard<std::mutex> hold(shared_->lock);
    return !shared_->finished;
}

}  // namespace tools
