#include "frame_queue.h"

namespace host {

std::vector<uint8_t> FrameQueue::Buffer(size_t bytes) {
    std::vector<uint8_t> buffer;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!pool_.empty()) {
            buffer = std::move(pool_.back());
            pool_.pop_back();
        }
    }
    buffer.resize(bytes);
    return buffer;
}

void FrameQueue::Push(Frame frame) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        frame.number = ++counts_.received;
        while (waiting_.size() >= depth_) {
            pool_.push_back(std::move(waiting_.front().bytes));
            waiting_.pop_front();
            ++counts_.replaced;
        }
        waiting_.push_back(std::move(frame));
    }
    arrived_.notify_one();
}

const Frame* FrameQueue::Pop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    const auto ready = [this] { return !waiting_.empty(); };
    if (timeout.count() < 0) {
        arrived_.wait(hold, ready);
    } else if (!arrived_.wait_for(hold, timeout, ready)) {
        return nullptr;
    }
    lent_.push_back(std::move(waiting_.front()));
    waiting_.pop_front();
    return &lent_.back();
}

bool FrameQueue::Release(const uint8_t* pixels) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto frame = lent_.begin(); frame != lent_.end(); ++frame) {
        if (frame->bytes.data() == pixels) {
            pool_.push_back(std::move(frame->bytes));
            lent_.erase(frame);
            return true;
        }
    }
    return false;
}

FrameCounts FrameQueue::Counts() {
    std::lock_guard<std::mutex> hold(lock_);
    return counts_;
}

}  // namespace host
