#include "raw_input.h"

#include <cerrno>
#include <cstring>

namespace tools {

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
        read.error = errno != 0 ? std::strerror(errno) : "the stream reports an error";
    } else {
        read.outcome = read.bytes == 0 ? RawRead::Outcome::End : RawRead::Outcome::Short;
    }
    return read;
}

}  // namespace tools
