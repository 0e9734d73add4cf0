// Raw frames read back to back from a stream, for quorvex-server --stdin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tools {

struct RawRead {
    enum class Outcome {
        Frame,  // a whole frame
        End,    // the stream ended where a frame would begin
        Short,  // the stream ended inside a frame: `bytes` of it came
        Error,  // the stream failed: `error` says why
    };
    Outcome outcome = Outcome::End;
    size_t bytes = 0;
    std::string error;
};

// Reads the next `frameBytes` bytes of `stream` into `frame`, waiting for
// them as long as the stream's writer takes.
RawRead ReadRawFrame(std::FILE* stream, uint8_t* frame, size_t frameBytes);

// Reads the frames of a stream on a thread of its own, one frame ahead, so
// that the program waits for input and for Ctrl+C at once: a read of idle
// input cannot be broken off, and only ends with the process.
class RawFrameReader {
public:
    // Starts reading frames of `frameBytes` bytes from `stream`, which no
    // one else reads from now on.
    RawFrameReader(std::FILE* stream, size_t frameBytes);
    // Lets the reading thread go: it ends after its read, which for idle
    // input may be only at the process's end.
    ~RawFrameReader();
    RawFrameReader(const RawFrameReader&) = delete;
    RawFrameReader& operator=(const RawFrameReader&) = delete;

    // Waits for the next read to finish; a whole frame is swapped into
    // `frame`, which must hold frameBytes. False, with nothing taken, once
    // `interrupted()` returns true, which is asked every few milliseconds.
    template <typename Interrupted>
    bool Next(RawRead& read, std::vector<uint8_t>& frame, Interrupted interrupted) {
        while (!TakeWithin(read, frame)) {
            if (interrupted()) {
                return false;
            }
        }
        return true;
    }

    // True while the thread is still reading: the stream has neither ended
    // nor failed.
    bool Reading() const;

private:
    struct Shared;
    // Waits a short while for a finished read; true when one was taken.
    bool TakeWithin(RawRead& read, std::vector<uint8_t>& frame);

    std::shared_ptr<Shared> shared_;
};

}  // namespace tools
