// The standard output of a tool: whole lines, and one status line that is
// redrawn in place on a terminal and printed as a plain line now and then
// elsewhere (a log file, a pipe).
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace tools {

// Owns the writes to one stream. Any thread may call; one lock keeps a line
// whole and the status line out of its way.
class StatusConsole {
public:
    // `plainEvery`: the least time between two status lines when the stream
    // is not a terminal.
    StatusConsole(std::FILE* stream, bool terminal, std::chrono::milliseconds plainEvery);

    // Prints a line (a line end is added); on a terminal the status line is
    // cleared first and drawn again after it.
    void Line(const std::string& text);

    // Offers a new status. A terminal redraws at most ten times a second;
    // elsewhere a line is printed when `plainEvery` has passed, or at once
    // with `force`.
    void Status(const std::string& text, bool force = false);

    // Ends the status line, so that what follows starts on a line of its own.
    void Finish();

    bool IsTerminal() const { return terminal_; }

private:
    void ClearLocked();
    void DrawLocked();

    std::mutex lock_;
    std::FILE* const stream_;
    const bool terminal_;
    const std::chrono::milliseconds plainEvery_;
    std::string status_;
    size_t drawnLength_ = 0;  // of the status on screen, 0 when none is
    std::chrono::steady_clock::time_point lastStatus_{};
    bool anyStatus_ = false;
};

}  // namespace tools
