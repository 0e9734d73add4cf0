#include "status_console.h"

namespace tools {
namespace {

constexpr std::chrono::milliseconds kRedrawEvery(100);

}  // namespace

StatusConsole::StatusConsole(std::FILE* stream, bool terminal, std::chrono::milliseconds plainEvery)
    : stream_(stream), terminal_(terminal), plainEvery_(plainEvery) {}

void StatusConsole::Line(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    ClearLocked();
    std::fputs(text.c_str(), stream_);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', stream_);
    }
    DrawLocked();
    std::fflush(stream_);
}

void StatusConsole::Status(const std::string& text, bool force) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto now = std::chrono::steady_clock::now();
    const auto every = terminal_ ? kRedrawEvery : plainEvery_;
    status_ = text;
    if (!force && anyStatus_ && now - lastStatus_ < every) {
        return;
    }
    anyStatus_ = true;
    lastStatus_ = now;
    if (terminal_) {
        DrawLocked();
    } else {
        std::fprintf(stream_, "%s\n", text.c_str());
    }
    std::fflush(stream_);
}

void StatusConsole::Finish() {
    std::lock_guard<std::mutex> hold(lock_);
    if (terminal_ && drawnLength_ > 0) {
        std::fputc('\n', stream_);
        drawnLength_ = 0;
    }
    status_.clear();
    std::fflush(stream_);
}

void StatusConsole::ClearLocked() {
    if (terminal_ && drawnLength_ > 0) {
        std::fprintf(stream_, "\r%s\r", std::string(drawnLength_, ' ').c_str());
        drawnLength_ = 0;
    }
}

void StatusConsole::DrawLocked() {
    if (!terminal_ || status_.empty()) {
        return;
    }
    // Blanks cover what is left of a longer status drawn before.
    const size_t pad = drawnLength_ > status_.size() ? drawnLength_ - status_.size() : 0;
    std::fprintf(stream_, "\r%s%s", status_.c_str(), std::string(pad, ' ').c_str());
    drawnLength_ = status_.size();
}

}  // namespace tools
