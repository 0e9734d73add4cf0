// Raw frames read back to back from a stream, for quorvex-server --stdin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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

}  // namespace tools
