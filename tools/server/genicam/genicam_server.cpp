#include "genicam_server.h"

#include <chrono>
#include <thread>

#include "exit_codes.h"
#include "genicam_camera.h"
#include "platform/console.h"
#include "server_support.h"

namespace tools {
namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for a frame lasts: short enough for Ctrl+C to be
// noticed at once.
constexpr auto kFrameWait = std::chrono::milliseconds(200);
constexpr auto kLookAgainEvery = std::chrono::seconds(1);
constexpr auto kIdlePoll = std::chrono::milliseconds(20);

// Publishes the frames of one camera. When the camera stops answering it
// is looked for again once a second, by the id it had, until it is back.
// Runs on the main thread.
class GenicamServer {
public:
    GenicamServer(const ServerOptions& options, StatusConsole& console)
        : options_(options), console_(console), device_(options.genicam.value_or("")) {}

    int Run() {
        std::string error;
        camera_ = OpenAndStart(error);
        if (!camera_) {
            console_.Line("quorvex-server: " + error);
            return kExitFailure;
        }
        int exitCode = kExitOk;
        server_ = CreateServer(options_.share, camera_->LargestFrameBytes(), options_.clients, options_.allowOtherUsers,
                               console_, exitCode);
        if (!server_) {
            return exitCode;
        }
        console_.Line("quorvex-server: serving \"" + options_.share + "\" with " + camera_->Describe() +
                      "; Ctrl+C stops");
        if (!WaitForHosts(server_.get(), options_.waitForHosts, options_.waitTimeout, console_)) {
            return kExitFailure;
        }
        while (!Done()) {
            if (camera_) {
                Stream();
            } else {
                LookAgain();
            }
        }
        if (!platform::InterruptRequested()) {
            EndStream(server_.get(), console_);
        }
        console_.Status(PublishedStatus(published_, server_.get(), rate_), true);
        console_.Finish();
        console_.Line("quorvex-server: stopped after " + Plural(published_, "frame", "frames") +
                      (platform::InterruptRequested() ? " (interrupted)" : ""));
        return kExitOk;
    }

private:
    bool Done() const {
        return platform::InterruptRequested() || (options_.frames > 0 && published_ >= options_.frames);
    }

    std::unique_ptr<GenicamCamera> OpenAndStart(std::string& error) {
        std::unique_ptr<GenicamCamera> camera = GenicamCamera::Open(device_, error);
        if (!camera) {
            return nullptr;
        }
        for (const std::string& feature : options_.features) {
            if (!camera->SetFeature(feature, error)) {
                return nullptr;
            }
        }
        if (!camera->Start(error)) {
            return nullptr;
        }
        // Found again by its own id, so that another camera is not taken
        // for it.
        device_ = camera->Id();
        return camera;
    }

    void Stream() {
        std::string error;
        switch (camera_->Wait(kFrameWait, frame_, captureMicroseconds_, error)) {
        case GenicamCamera::Next::Frame:
            Publish();
            break;
        case GenicamCamera::Next::None:
            if (!error.empty()) {
                console_.Line("quorvex-server: frame dropped: " + error);
            }
            break;
        case GenicamCamera::Next::Lost:
            console_.Line("quorvex-server: lost the camera " + device_ + "; looking for it again every second");
            camera_.reset();
            lostAt_ = Clock::now();
            attempts_ = 0;
            return;
        }
        console_.Status(PublishedStatus(published_, server_.get(), rate_));
    }

    void Publish() {
        if (frame_.geometry != announced_) {
            QuorvexServerSetDimensions(server_.get(), frame_.geometry.width, frame_.geometry.height,
                                       frame_.geometry.bytesPerPixel);
            announced_ = frame_.geometry;
        }
        if (QuorvexServerPublishFrameAt(server_.get(), frame_.pixels.data(), static_cast<int>(frame_.pixels.size()),
                                        captureMicroseconds_) < 0) {
            console_.Line("quorvex-server: a frame of " + std::to_string(frame_.geometry.width) + "x" +
                          std::to_string(frame_.geometry.height) + " not published: larger than the share, or a " +
                          "client holds the frame too long");
            return;
        }
        ++published_;
    }

    void LookAgain() {
        const auto due = lostAt_ + kLookAgainEvery * (attempts_ + 1);
        while (!platform::InterruptRequested() && Clock::now() < due) {
            std::this_thread::sleep_for(kIdlePoll);
        }
        if (platform::InterruptRequested()) {
            return;
        }
        ++attempts_;
        std::string error;
        camera_ = OpenAndStart(error);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - lostAt_).count();
        if (camera_) {
            console_.Line("quorvex-server: found the camera again after " + std::to_string(seconds) +
                          " s: " + camera_->Describe());
            return;
        }
        console_.Status(
            "camera " + device_ + " lost " + std::to_string(seconds) + " s ago; looking for it again (" + error + ")",
            true);
    }

    const ServerOptions& options_;
    StatusConsole& console_;
    std::string device_;
    std::unique_ptr<GenicamCamera> camera_;
    ServerPtr server_;
    Image frame_;
    int64_t captureMicroseconds_ = 0;  // frame_'s
    FrameGeometry announced_;
    int64_t published_ = 0;
    RateMeter rate_;
    Clock::time_point lostAt_;
    int attempts_ = 0;
};

// Aravis keeps its interfaces until told to let go.
struct AravisSession {
    ~AravisSession() { arv_shutdown(); }
};

}  // namespace

int RunGenicamServer(const ServerOptions& options, StatusConsole& console) {
    const AravisSession aravis;
    return GenicamServer(options, console).Run();
}

int ListGenicamCameras(StatusConsole& console) {
    const AravisSession aravis;
    const std::vector<std::string> cameras = GenicamCamera::List();
    for (const std::string& camera : cameras) {
        console.Line(camera);
    }
    if (cameras.empty()) {
        console.Line("quorvex-server: no GenICam camera found");
    }
    return kExitOk;
}

}  // namespace tools
