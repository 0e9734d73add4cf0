#include "conformance.h"

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "check_pipe.h"
#include "check_segment.h"
#include "platform/system_error.h"
#include "wire/messages.h"

namespace check {
namespace {

enum Rule {
    kMessagePipe,
    kDimensionsAnswer,
    kDimensionsSane,
    kSegmentHoldsFrame,
    kMutexReleased,
    kFramesComplete,
    kDimensionsFirst,
    kDimensionsAgain,
    kHostReturns,
    kNumbering,
    kRuleCount,
};

const RuleResult kRules[kRuleCount] = {
    {"message-pipe", "the pipe is a message pipe", false, ""},
    {"dimensions-answer",
     "a dimensions request is answered by a Dimensions header and the block, each a 12-byte message of its own", false,
     ""},
    {"dimensions-sane", "the dimensions are sane", false, ""},
    {"segment-holds-frame", "the segment holds the announced frame", false, ""},
    {"mutex-released", "the mutex exists and is released between frames", false, ""},
    {"frames-complete", "a frame is announced only when complete: it does not change while a host holds the mutex",
     false, ""},
    {"dimensions-before-frames", "dimensions come before the first frame of a connection and of a new size", false, ""},
    {"dimensions-again", "a second dimensions request is answered again", false, ""},
    {"host-returns", "a host that leaves and comes back is served again", false, ""},
    {"numbering", "frame numbers and capture times, when present, are consistent", false, ""},
};

// Sizes beyond these are no camera's.
constexpr int kLargestSide = 65535;
constexpr int kLargestBytesPerPixel = 16;
constexpr int64_t kLargestFrameBytes = int64_t{1} << 30;
// A capture time this far ahead of the host's clock, or behind it, is not on
// the real-time clock the extension names.
constexpr int64_t kAheadUs = 1000000;
constexpr int64_t kBehindUs = 60 * 1000000LL;

std::string Text(const DimensionsBlock& block) {
    return std::to_string(block.width) + "x" + std::to_string(block.height) + ", " +
           std::to_string(block.bytesPerPixel) + (block.bytesPerPixel == 1 ? " byte" : " bytes") + " per pixel";
}

int64_t FrameBytes(const DimensionsBlock& block) {
    return int64_t{block.width} * block.height * block.bytesPerPixel;
}

bool Sane(const DimensionsBlock& block) {
    return block.width > 0 && block.height > 0 && block.width <= kLargestSide && block.height <= kLargestSide &&
           block.bytesPerPixel > 0 && block.bytesPerPixel <= kLargestBytesPerPixel &&
           FrameBytes(block) <= kLargestFrameBytes;
}

MessageHeader HeaderOf(const PipeRead& read) {
    MessageHeader header{};
    std::memcpy(&header, read.data, sizeof header);
    return header;
}

bool IsHeader(const PipeRead& read, int32_t type) {
    const MessageHeader header = HeaderOf(read);
    return read.outcome == PipeRead::Outcome::Message && read.bytes == kMessageSize && header.magic == HeaderMagic &&
           header.type == type;
}

// Whether `later` comes after `earlier` among numbers that wrap.
bool After(uint32_t later, uint32_t earlier) {
    const uint32_t ahead = later - earlier;
    return ahead != 0 && ahead < 0x80000000u;
}

// What a run of frames says of the numbering extension.
class NumberingTally {
public:
    void Add(int32_t param, bool hasStamp, const FrameStamp& stamp, int64_t nowUs) {
        SettleUnstamped();
        ++frames_;
        const bool marked = hasStamp && stamp.mark == kFrameStampMark;
        if (!marked || param == 0) {
            unsettled_ = param != 0;
            return;
        }
        if (!StampAnnounced(stamp, param)) {
            Fault("a stamp numbered " + std::to_string(stamp.number) + " (version " + std::to_string(stamp.version) +
                  ") after the ImageReady numbered " + std::to_string(static_cast<uint32_t>(param)));
            return;
        }
        const auto number = static_cast<uint32_t>(param);
        if (stamped_ > 0 && !After(number, lastParam_)) {
            Fault("ImageReady numbers went from " + std::to_string(lastParam_) + " to " + std::to_string(number));
        }
        if (stamped_ > 0 && After(stamp.number, lastNumber_)) {
            gaps_ += stamp.number - lastNumber_ - 1;
            if (stamp.captureMicroseconds < lastCapture_) {
                Fault("the capture time went back by " + std::to_string(lastCapture_ - stamp.captureMicroseconds) +
                      " us from frame " + std::to_string(lastNumber_) + " to " + std::to_string(stamp.number));
            }
        } else if (stamped_ > 0 && stamp.number != lastNumber_) {
            Fault("the stamps' numbers went back from " + std::to_string(lastNumber_) + " to " +
                  std::to_string(stamp.number));
        }
        const int64_t ageUs = nowUs - stamp.captureMicroseconds;
        if (ageUs < -kAheadUs || ageUs > kBehindUs) {
            Fault("frame " + std::to_string(stamp.number) + " was captured " + std::to_string(ageUs / 1000) +
                  " ms before the host's clock (not the real-time clock in microseconds since 1970?)");
        }
        if (stamped_ == 0) {
            first_ = stamp.number;
        }
        ++stamped_;
        lastParam_ = number;
        lastNumber_ = stamp.number;
        lastCapture_ = stamp.captureMicroseconds;
        lastAgeUs_ = ageUs;
    }

    // New dimensions after a numbered frame without a stamp: a taller frame
    // was written over it before it was read, and its stamp lies further on.
    void Resized() { unsettled_ = false; }

    // Says what the frames showed; nothing when no frame was read.
    void Report(RuleResult& result) const {
        const int unstamped = unstamped_ + (unsettled_ ? 1 : 0);
        if (frames_ == 0) {
            return;
        }
        if (stamped_ == 0) {
            result.holds = true;
            result.saw = "not present: none of " + std::to_string(frames_) + " frames carried a stamp";
            return;
        }
        if (fault_.empty() && unstamped > 0) {
            result.saw = std::to_string(unstamped) + " numbered frames without a stamp among " +
                         std::to_string(stamped_) + " with one";
            return;
        }
        if (!fault_.empty()) {
            result.saw = fault_;
            return;
        }
        result.holds = true;
        result.saw = std::to_string(stamped_) + " frames numbered " + std::to_string(first_) + " to " +
                     std::to_string(lastNumber_) + ", " + std::to_string(gaps_) +
                     " numbers left out, capture times rising; the last captured " + std::to_string(lastAgeUs_ / 1000) +
                     " ms before the host read it";
    }

private:
    void SettleUnstamped() {
        unstamped_ += unsettled_ ? 1 : 0;
        unsettled_ = false;
    }

    void Fault(const std::string& what) {
        if (fault_.empty()) {
            fault_ = what;
        }
    }

    int frames_ = 0;
    int stamped_ = 0;
    int unstamped_ = 0;
    bool unsettled_ = false;  // the last frame's missing stamp, until the next message
    uint32_t first_ = 0;
    uint32_t lastParam_ = 0;
    uint32_t lastNumber_ = 0;
    int64_t lastCapture_ = 0;
    int64_t lastAgeUs_ = 0;
    int64_t gaps_ = 0;
    std::string fault_;
};

// The checker's one run: a first connection that watches frames, then a
// second request, then a host that leaves and comes back.
class Checker {
public:
    explicit Checker(const CheckOptions& options) : options_(options) {
        for (int i = 0; i < kRuleCount; ++i) {
            results_.push_back(kRules[i]);
        }
    }

    std::vector<RuleResult> Run() {
        std::string why;
        if (!pipe_.Connect(options_.share, Ms(options_.timeoutMs), why)) {
            NotChecked(kMessagePipe, why);
            return results_;
        }
        DWORD error = 0;
        Set(kMessagePipe, pipe_.SetMessageMode(error),
            error == 0 ? "the pipe takes message read mode"
                       : "the pipe refuses message read mode " + platform::SystemErrorNote(error));
        DimensionsBlock block{};
        std::string saw;
        if (!Ask(block, saw)) {
            NotChecked(kDimensionsAnswer, saw);
            Set(kDimensionsAnswer, false, saw);
            return results_;
        }
        dimensions_ = block;
        Set(kDimensionsAnswer, answerWhole_, saw);
        Set(kDimensionsSane, Sane(block), Text(block));
        WatchFrames();
        AskAgain();
        Return();
        Set(kDimensionsFirst, framesTooEarly_.empty(),
            framesTooEarly_.empty() ? "each connection's dimensions came before its first frame; " +
                                          std::to_string(sizeChanges_) + " size changes seen, each before its frames"
                                    : framesTooEarly_);
        return results_;
    }

private:
    static DWORD Ms(int milliseconds) { return static_cast<DWORD>(milliseconds); }

    void Set(Rule rule, bool holds, const std::string& saw) {
        results_[rule].holds = holds;
        results_[rule].saw = saw;
    }

    // Every rule from `first` on is left unchecked for `why`.
    void NotChecked(Rule first, const std::string& why) {
        for (int i = first; i < kRuleCount; ++i) {
            if (results_[i].saw.empty()) {
                Set(static_cast<Rule>(i), false, "not checked: " + why);
            }
        }
    }

    void NoteEarlyFrame(const std::string& when) {
        if (framesTooEarly_.empty()) {
            framesTooEarly_ = "an ImageReady came " + when;
        }
    }

    // Sends a dimensions request and reads the answer, passing over the
    // frames announced meanwhile (before the first answer of a connection
    // they break a rule). False when no answer came.
    bool Ask(DimensionsBlock& block, std::string& saw, bool firstOfConnection = true) {
        const MessageHeader request{HeaderMagic, Dimensions, 0};
        const auto start = std::chrono::steady_clock::now();
        if (!pipe_.Write(&request, sizeof request, Ms(options_.timeoutMs))) {
            saw = "the dimensions request could not be sent";
            return false;
        }
        const auto giveUp = start + std::chrono::milliseconds(options_.timeoutMs);
        for (;;) {
            const PipeRead read = pipe_.Read(Remaining(giveUp));
            if (read.outcome == PipeRead::Outcome::TimedOut || read.outcome == PipeRead::Outcome::Broken) {
                saw = read.outcome == PipeRead::Outcome::TimedOut
                          ? "no answer within " + std::to_string(options_.timeoutMs) + " ms"
                          : "the pipe broke while waiting for the answer " + platform::SystemErrorNote(read.error);
                return false;
            }
            if (IsHeader(read, ImageReady)) {
                if (firstOfConnection) {
                    NoteEarlyFrame("before the connection's first dimensions");
                }
                continue;
            }
            const MessageHeader header = HeaderOf(read);
            if (read.bytes >= kMessageSize && header.magic == HeaderMagic && header.type == Dimensions) {
                return ReadBlock(read, start, block, saw);
            }
            saw = "a message of " + std::to_string(read.bytes) + " bytes that is no Dimensions header";
            return false;
        }
    }

    bool ReadBlock(const PipeRead& header, std::chrono::steady_clock::time_point start, DimensionsBlock& block,
                   std::string& saw) {
        if (header.bytes == 2 * kMessageSize && header.outcome == PipeRead::Outcome::Message) {
            std::memcpy(&block, header.data + kMessageSize, sizeof block);
            answerWhole_ = false;
            saw = "the header and the block came as one message of 24 bytes (" + Text(block) + ")";
            return true;
        }
        if (header.outcome != PipeRead::Outcome::Message || header.bytes != kMessageSize) {
            answerWhole_ = false;
            saw = "a Dimensions header in a message of " + std::to_string(header.bytes) + " bytes or more";
            return false;
        }
        const PipeRead read = pipe_.Read(Ms(options_.timeoutMs));
        if (read.outcome != PipeRead::Outcome::Message || read.bytes != kMessageSize) {
            answerWhole_ = false;
            saw = read.outcome == PipeRead::Outcome::TimedOut
                      ? "no block after the Dimensions header within " + std::to_string(options_.timeoutMs) + " ms"
                      : "the block came as a message of " + std::to_string(read.bytes) + " bytes";
            return false;
        }
        std::memcpy(&block, read.data, sizeof block);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        saw = "a 12-byte Dimensions header, then the block as a 12-byte message (" + Text(block) + ") after " +
              std::to_string(ms) + " ms";
        return true;
    }

    static DWORD Remaining(std::chrono::steady_clock::time_point giveUp) {
        const auto left = giveUp - std::chrono::steady_clock::now();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        return ms > 0 ? static_cast<DWORD>(ms) : 0;
    }

    // Watches frames on the first connection: each taken under the mutex,
    // held a while and compared with itself.
    void WatchFrames() {
        int seen = 0;
        std::string ending;
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeoutMs);
        while (seen < options_.frames) {
            const PipeRead read = pipe_.Read(Remaining(giveUp));
            if (read.outcome == PipeRead::Outcome::TimedOut) {
                ending = seen == 0 ? "no frame announced within " + std::to_string(options_.timeoutMs) +
                                         " ms (is the server publishing?)"
                                   : "";
                break;
            }
            if (read.outcome == PipeRead::Outcome::Broken) {
                ending = "the pipe broke " + platform::SystemErrorNote(read.error);
                break;
            }
            if (IsHeader(read, Dimensions)) {
                numbering_.Resized();
                TakeNewDimensions();
                continue;
            }
            if (IsHeader(read, Stop)) {
                ending = "the server sent Stop";
                break;
            }
            if (!IsHeader(read, ImageReady)) {
                continue;
            }
            ++seen;
            giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeoutMs);
            if (!TakeFrame(seen, HeaderOf(read).param)) {
                break;
            }
        }
        if (seen == 0) {
            NotChecked(kSegmentHoldsFrame, ending);
            return;
        }
        if (results_[kSegmentHoldsFrame].saw.empty()) {
            Set(kSegmentHoldsFrame, true,
                "a segment of " + std::to_string(segment_.Size()) + " bytes for frames of up to " +
                    std::to_string(largestFrame_) + " bytes");
        }
        if (results_[kMutexReleased].saw.empty()) {
            Set(kMutexReleased, true,
                "taken for each of " + std::to_string(seen) + " frames, after at most " +
                    std::to_string(longestWaitUs_ / 1000) + " ms (" + std::to_string(longestWaitUs_) + " us)");
        }
        if (results_[kFramesComplete].saw.empty()) {
            Set(kFramesComplete, true,
                std::to_string(seen) + " frames unchanged while held for " + std::to_string(options_.holdMs) +
                    " ms each");
        }
        numbering_.Report(results_[kNumbering]);
        if (!ending.empty() && results_[kNumbering].holds) {
            results_[kNumbering].saw += "; " + ending;
        }
    }

    void TakeNewDimensions() {
        const PipeRead read = pipe_.Read(Ms(options_.timeoutMs));
        if (read.outcome != PipeRead::Outcome::Message || read.bytes != kMessageSize) {
            Set(kDimensionsAnswer, false,
                "new dimensions whose block came as a message of " + std::to_string(read.bytes) + " bytes");
            return;
        }
        DimensionsBlock block{};
        std::memcpy(&block, read.data, sizeof block);
        ++sizeChanges_;
        dimensions_ = block;
        if (!Sane(block)) {
            Set(kDimensionsSane, false, "new dimensions " + Text(block));
        }
    }

    // One announced frame; false when the frames cannot be watched further.
    bool TakeFrame(int index, int32_t param) {
        const std::string frame = "frame " + std::to_string(index);
        if (!Sane(dimensions_)) {
            NotChecked(kSegmentHoldsFrame, "no sane dimensions for " + frame);
            return false;
        }
        std::string why;
        if (!segmentOpen_) {
            if (!segment_.Open(options_.share, why)) {
                Set(kSegmentHoldsFrame, false, why + " at " + frame);
                NotChecked(kMutexReleased, "no segment");
                return false;
            }
            segmentOpen_ = true;
            if (!segment_.OpenMutex(options_.share, why)) {
                Set(kMutexReleased, false, why);
                NotChecked(kFramesComplete, "no mutex");
                return false;
            }
        }
        const auto bytes = static_cast<size_t>(FrameBytes(dimensions_));
        largestFrame_ = bytes > largestFrame_ ? bytes : largestFrame_;
        if (bytes > segment_.Size()) {
            Set(kSegmentHoldsFrame, false,
                "a segment of " + std::to_string(segment_.Size()) + " bytes for " + frame + " of " +
                    std::to_string(bytes) + " bytes (" + Text(dimensions_) + ")");
            NotChecked(kMutexReleased, "the segment is too short to read a frame from");
            return false;
        }
        int64_t waitedUs = 0;
        platform::MutexHold hold = segment_.Acquire(Ms(options_.mutexWaitMs), waitedUs);
        if (!hold) {
            Set(kMutexReleased, false,
                "still held after " + std::to_string(options_.mutexWaitMs) + " ms when " + frame + " was announced");
            NotChecked(kFramesComplete, "the mutex was not had");
            return false;
        }
        longestWaitUs_ = waitedUs > longestWaitUs_ ? waitedUs : longestWaitUs_;
        segment_.Copy(bytes, first_);
        FrameStamp stamp{};
        const bool hasStamp = segment_.ReadStamp(bytes, stamp);
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.holdMs));
        segment_.Copy(bytes, second_);
        hold.Release();
        if (first_ != second_ && results_[kFramesComplete].saw.empty()) {
            size_t at = 0;
            while (at < bytes && first_[at] == second_[at]) {
                ++at;
            }
            Set(kFramesComplete, false,
                frame + " changed at byte " + std::to_string(at) + " while the checker held the mutex");
        }
        numbering_.Add(param, hasStamp, stamp, StampClockMicroseconds());
        return true;
    }

    void AskAgain() {
        DimensionsBlock block{};
        std::string saw;
        const bool answered = Ask(block, saw, false);
        Set(kDimensionsAgain, answered, saw);
    }

    // Leaves, comes back, asks and waits for a frame.
    void Return() {
        pipe_.Close();
        const auto start = std::chrono::steady_clock::now();
        std::string why;
        if (!pipe_.Connect(options_.share, Ms(options_.timeoutMs), why)) {
            Set(kHostReturns, false, why);
            return;
        }
        DWORD error = 0;
        pipe_.SetMessageMode(error);
        DimensionsBlock block{};
        std::string saw;
        if (!Ask(block, saw)) {
            Set(kHostReturns, false, "after coming back: " + saw);
            return;
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeoutMs);
        for (;;) {
            const PipeRead read = pipe_.Read(Remaining(giveUp));
            if (read.outcome != PipeRead::Outcome::Message) {
                Set(kHostReturns, false,
                    "after coming back: dimensions, but no frame within " + std::to_string(options_.timeoutMs) + " ms");
                return;
            }
            if (IsHeader(read, ImageReady)) {
                break;
            }
        }
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        Set(kHostReturns, true,
            "connected again, sent the dimensions and a frame within " + std::to_string(ms) + " ms");
        pipe_.Close();
    }

    const CheckOptions& options_;
    std::vector<RuleResult> results_;
    CheckPipe pipe_;
    CheckSegment segment_;
    bool segmentOpen_ = false;
    bool answerWhole_ = true;
    DimensionsBlock dimensions_{};
    int sizeChanges_ = 0;
    size_t largestFrame_ = 0;
    int64_t longestWaitUs_ = 0;
    std::string framesTooEarly_;
    std::vector<uint8_t> first_;
    std::vector<uint8_t> second_;
    NumberingTally numbering_;
};

}  // namespace

std::vector<RuleResult> CheckServer(const CheckOptions& options) {
    return Checker(options).Run();
}

std::vector<std::string> RuleNames() {
    std::vector<std::string> names;
    for (const RuleResult& rule : kRules) {
        names.emplace_back(rule.name);
    }
    return names;
}

}  // namespace check
