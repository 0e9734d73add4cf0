#include "server_app.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "exit_codes.h"
#include "frame_source.h"
#include "platform/console.h"
#include "platform/win32.h"
#include "quorvex_server.h"
#include "raw_input.h"
#include "server_support.h"

namespace tools {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kIdlePoll = std::chrono::milliseconds(20);

std::unique_ptr<FrameSource> MakeSource(const ServerOptions& options, std::string& error) {
    if (!options.images.empty()) {
        return ImageSource::Load(options.images, options.bytesPerPixel, error);
    }
    return std::make_unique<PatternSource>(
        FrameGeometry{options.size.width, options.size.height, options.bytesPerPixel});
}

// Sleeps until `until`, waking early for Ctrl+C.
void SleepUntil(Clock::time_point until) {
    while (!platform::InterruptRequested() && Clock::now() < until) {
        std::this_thread::sleep_until(std::min(until, Clock::now() + kIdlePoll));
    }
}

class Server {
public:
    Server(const ServerOptions& options, StatusConsole& console) : options_(options), console_(console) {}

    int Run() {
        uint64_t largestFrame = 0;
        if (options_.fromStdin) {
            largestFrame =
                static_cast<uint64_t>(options_.stdinSize.width) * options_.stdinSize.height * options_.bytesPerPixel;
        } else {
            std::string error;
            source_ = MakeSource(options_, error);
            if (!source_) {
                console_.Line("quorvex-server: " + error);
                return kExitFailure;
            }
            largestFrame = source_->LargestFrameBytes();
        }
        int exitCode = kExitOk;
        server_ = CreateServer(options_.share, static_cast<int64_t>(largestFrame), options_.clients,
                               options_.allowOtherUsers, console_, exitCode);
        if (!server_) {
            return exitCode;
        }
        console_.Line(StartLine());
        const int result = options_.fromStdin ? PublishStdin() : Publish();
        console_.Status(StatusText(), true);
        console_.Finish();
        console_.Line("quorvex-server: stopped after " + Plural(published_, "frame", "frames") +
                      (platform::InterruptRequested() ? " (interrupted)" : ""));
        server_.reset();
        if (stdin_ && stdin_->Reading()) {
            // Interrupted while the input is idle: the reading thread holds
            // the stream inside a read that nothing breaks off, and the C
            // runtime's exit would wait for it to close the stream.
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(result);
        }
        return result;
    }

private:
    std::string StartLine() const {
        std::ostringstream line;
        line << "quorvex-server: serving \"" << options_.share << "\" with ";
        if (options_.fromStdin) {
            line << "raw " << options_.formatName << " frames from standard input, " << options_.stdinSize.width << "x"
                 << options_.stdinSize.height;
        } else {
            line << source_->Describe();
            if (options_.images.empty()) {
                line << ", " << options_.size.width << "x" << options_.size.height;
            }
        }
        line << ", " << Plural(source_ ? source_->BytesPerPixel() : options_.bytesPerPixel, "byte", "bytes")
             << " per pixel, ";
        if (options_.fps > 0) {
            line << options_.fps << " fps";
        } else {
            line << "no pause between frames";
        }
        line << "; Ctrl+C stops";
        return line.str();
    }

    std::string StatusText() { return PublishedStatus(published_, server_.get(), rate_); }

    bool Done() const {
        return platform::InterruptRequested() || (options_.frames > 0 && published_ >= options_.frames);
    }

    Clock::duration Period() const {
        return options_.fps > 0
                   ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.fps))
                   : Clock::duration::zero();
    }

    // Counts the frame just published and sleeps until the next one is due.
    void FramePublished(Clock::time_point& due, Clock::duration period) {
        ++published_;
        console_.Status(StatusText());
        // Late for the next frame already (a slow client): a full period
        // from now, since two frames back to back would have the second
        // overwrite the first before a client copies it.
        due += period;
        const auto publishedAt = Clock::now();
        if (due < publishedAt) {
            due = publishedAt + period;
        }
        SleepUntil(due);
    }

    // Publishes the source's frames until --frames or Ctrl+C; after the
    // last of --frames, the hosts are sent Stop.
    int Publish() {
        FramePlan plan(options_.faults);
        const Clock::duration period = Period();
        FrameGeometry announced;
        bool waited = false;
        auto due = Clock::now();
        while (!Done()) {
            const FrameStep step = plan.Next();
            const Image& frame = source_->Produce(step);
            if (frame.geometry != announced) {
                QuorvexServerSetDimensions(server_.get(), frame.geometry.width, frame.geometry.height,
                                           frame.geometry.bytesPerPixel);
                announced = frame.geometry;
            }
            // The hosts that come are told the size before the first frame.
            if (!waited) {
                waited = true;
                if (!WaitForHosts(server_.get(), options_.waitForHosts, options_.waitTimeout, console_)) {
                    return kExitFailure;
                }
                if (platform::InterruptRequested()) {
                    break;
                }
                due = Clock::now();
            }
            // The numbers hosts read on the wire leave out what the pattern's do.
            QuorvexServerSkipFrames(server_.get(), step.skipped);
            if (QuorvexServerPublishFrame(server_.get(), frame.pixels.data(), static_cast<int>(frame.pixels.size())) <
                0) {
                console_.Line("quorvex-server: frame " + std::to_string(step.index) +
                              " not published: " + QuorvexServerLastError(server_.get()));
            }
            CommitFaults(step);
            FramePublished(due, period);
        }
        if (!platform::InterruptRequested()) {
            EndStream(server_.get(), console_);
        }
        return kExitOk;
    }

    // Publishes the frames of standard input until it ends; a frame is
    // published only once it has come whole. At the end of the input the
    // hosts are sent Stop; Ctrl+C or SIGTERM ends the server at once, also
    // while the input is idle.
    int PublishStdin() {
        platform::UseBinaryStandardInput();
        const int width = options_.stdinSize.width;
        const int height = options_.stdinSize.height;
        const int rowBytes = width * options_.bytesPerPixel;
        std::vector<uint8_t> frame(static_cast<size_t>(rowBytes) * height);
        stdin_ = std::make_unique<RawFrameReader>(stdin, frame.size());
        // Hosts learn the size before the first frame has come.
        QuorvexServerSetDimensions(server_.get(), width, height, options_.bytesPerPixel);
        if (!WaitForHosts(server_.get(), options_.waitForHosts, options_.waitTimeout, console_)) {
            return kExitFailure;
        }
        const Clock::duration period = Period();
        auto due = Clock::now();
        RawRead read;
        while (stdin_->Next(read, frame, [] { return platform::InterruptRequested(); })) {
            if (read.outcome != RawRead::Outcome::Frame) {
                return EndOfInput(read);
            }
            if (QuorvexServerPublishFrameEx(server_.get(), frame.data(), width, height, rowBytes, options_.format) <
                0) {
                console_.Line("quorvex-server: frame " + std::to_string(published_ + 1) +
                              " not published: " + QuorvexServerLastError(server_.get()));
            }
            FramePublished(due, period);
            if (options_.frames > 0 && published_ >= options_.frames) {
                EndStream(server_.get(), console_);
                break;
            }
        }
        return kExitOk;
    }

    // Says how the input ended and sends the hosts Stop.
    int EndOfInput(const RawRead& read) {
        int result = kExitOk;
        switch (read.outcome) {
        case RawRead::Outcome::Frame:
        case RawRead::Outcome::End:
            console_.Line("quorvex-server: end of input after " + Plural(published_, "frame", "frames"));
            break;
        case RawRead::Outcome::Short:
            console_.Line("quorvex-server: input ended " + std::to_string(read.bytes) + " bytes into frame " +
                          std::to_string(published_ + 1));
            break;
        case RawRead::Outcome::Error:
            console_.Line("quorvex-server: cannot read standard input after " + Plural(published_, "frame", "frames") +
                          ": " + read.error);
            result = kExitFailure;
            break;
        }
        EndStream(server_.get(), console_);
        return result;
    }

    void CommitFaults(const FrameStep& step) {
        if (step.stopAfter) {
            const int reached = QuorvexServerSendStop(server_.get());
            console_.Line("quorvex-server: sent Stop after frame " + std::to_string(step.index) + " to " +
                          Plural(reached, "client", "clients"));
        }
        if (step.dropAfter) {
            const int dropped = QuorvexServerDropClients(server_.get());
            console_.Line("quorvex-server: dropped " + Plural(dropped, "client", "clients") + " after frame " +
                          std::to_string(step.index));
        }
    }

    const ServerOptions& options_;
    StatusConsole& console_;
    std::unique_ptr<FrameSource> source_;
    std::unique_ptr<RawFrameReader> stdin_;
    ServerPtr server_;
    int64_t published_ = 0;
    RateMeter rate_;
};

}  // namespace

int RunServer(const ServerOptions& options, StatusConsole& console) {
    return Server(options, console).Run();
}

}  // namespace tools
