// One blocking call run on a thread of its own, so that a test can wait for
// it with a time-out and act meanwhile (flush, change state) while it blocks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace testsupport {

template <typename Result>
class BackgroundCall {
public:
    // A call still running this long after the object goes is a hang.
    static constexpr unsigned kHangMs = 60000;

    BackgroundCall(std::string what_, std::function<Result()> call) : what(std::move(what_)) {
        thread = std::thread([this, call = std::move(call)] {
            Result returned = call();
            std::lock_guard<std::mutex> hold(mutex);
            result = std::move(returned);
            done.notify_all();
        });
    }
    // Joins the call. One that never returns would keep the test, and the
    // program, from ever ending: the run stops at once, naming the call.
    ~BackgroundCall() {
        if (!Wait(kHangMs)) {
            std::cerr << what << " did not return within " << kHangMs << " ms; stopping the run\n";
            std::abort();
        }
        thread.join();
    }
    BackgroundCall(const BackgroundCall&) = delete;
    BackgroundCall& operator=(const BackgroundCall&) = delete;

    // What the call returned, or nothing while it has not returned.
    std::optional<Result> Wait(unsigned timeoutMs) {
        std::unique_lock<std::mutex> hold(mutex);
        done.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return result.has_value(); });
        return result;
    }

private:
    const std::string what;
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result> result;
    std::thread thread;
};

}  // namespace testsupport
