#include "host_process.h"

#include <cstring>

#include "platform/immortal.h"
#include "platform/library_loading.h"
#include "platform/system_text.h"

namespace host {
namespace {
constexpr int kGrabberNo = 0;
}

HostProcess& HostProcess::Get() {
    static platform::Immortal<HostProcess> process;
    return process.get();
}

bool HostProcess::Join(const std::string& driverPath, const std::string& folder, std::string& error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (hosts_ > 0 && folder != folder_) {
        error = "the driver keeps one settings folder for the whole process, and it is \"" + folder_ +
                "\": a second host with \"" + folder +
                "\" is refused while the first is open (hosts of one process share one folder)";
        return false;
    }
    if (!loaded_) {
        if (!driver_.Load(driverPath, error)) {
            return false;
        }
        // The driver keeps this library's callbacks for the rest of the
        // process.
        platform::KeepCodeModuleLoaded();
        loaded_ = true;
    } else if (!driverPath.empty() && driverPath != driver_.Path()) {
        error = "the process has loaded the driver \"" + driver_.Path() + "\" already; one driver per process, so \"" +
                driverPath + "\" is not loaded";
        return false;
    }
    if (!driver_.initialize(folder.c_str(), &HostProcess::OnLog)) {
        error = "the driver's initialize failed";
        return false;
    }
    folder_ = folder;
    ++hosts_;
    return true;
}

void HostProcess::Leave() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        --hosts_;
    }
    // Outside the lock: a last finalize joins camera threads, whose
    // callbacks take it.
    driver_.finalize();
}

bool HostProcess::HasCamera(const std::string& name) const {
    const int count = driver_.getCVLNoOfSupportedCameras();
    const char** names = driver_.getCVLCameraConfigNames();
    for (int i = 0; names != nullptr && i < count && names[i] != nullptr; ++i) {
        if (name == names[i]) {
            return true;
        }
    }
    return false;
}

std::string HostProcess::OpenAlreadyLocked(const std::string& name) const {
    for (const auto& [port, open] : byPort_) {
        if (open->Setup().name == name) {
            return name + " is open already, on port " + std::to_string(port) +
                   "; a camera is opened once in a process";
        }
    }
    return std::string();
}

bool HostProcess::RefuseIfOpen(const std::string& name, std::string& error) const {
    const std::lock_guard<std::mutex> hold(lock_);
    error = OpenAlreadyLocked(name);
    return !error.empty();
}

std::shared_ptr<HostCamera> HostProcess::OpenCamera(const CameraSetup& setup, std::string& error) {
    std::unique_lock<std::mutex> hold(lock_);
    error = OpenAlreadyLocked(setup.name);
    if (!error.empty()) {
        return nullptr;
    }
    for (const auto& [port, open] : byPort_) {
        if (port == setup.port) {
            error = "port " + std::to_string(port) + " holds " + open->Setup().name + " already";
            return nullptr;
        }
    }
    // The port is claimed before the open, so that the first frames find
    // the camera.
    int dimensions[2] = {0, 0};
    const std::shared_ptr<HostCamera> camera = std::make_shared<HostCamera>(driver_, setup);
    byPort_[setup.port] = camera;
    hold.unlock();
    const int opened = driver_.openCVLPort(kGrabberNo, setup.port, setup.name.c_str(), dimensions);
    if (opened) {
        driver_.setCmdCallback(kGrabberNo, setup.port, &HostProcess::OnCommand);
        driver_.setCompleteCallback(kGrabberNo, setup.port, &HostProcess::OnComplete);
    }
    hold.lock();
    if (!opened) {
        byPort_.erase(setup.port);
        error = "the driver could not open " + setup.name + " on port " + std::to_string(setup.port) +
                " (its log says why)";
        return nullptr;
    }
    camera->SetOpenedSize(dimensions[0], dimensions[1]);
    return camera;
}

void HostProcess::CloseCamera(const HostCamera& camera) {
    driver_.closeCVLPort(kGrabberNo, camera.Setup().port);
    std::lock_guard<std::mutex> hold(lock_);
    byPort_.erase(camera.Setup().port);
}

std::shared_ptr<HostCamera> HostProcess::AtPort(int port) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = byPort_.find(port);
    return found == byPort_.end() ? nullptr : found->second;
}

void HostProcess::SetLog(QuorvexHostLogProc proc, void* context) {
    std::lock_guard<std::mutex> hold(logLock_);
    logProc_ = proc;
    logContext_ = context;
}

void QUORVEX_CALL HostProcess::OnComplete(int, int portNo) {
    if (const std::shared_ptr<HostCamera> camera = Get().AtPort(portNo)) {
        camera->OnFrame();
    }
}

void QUORVEX_CALL HostProcess::OnCommand(int, int portNo, const char* command, const char*) {
    if (command == nullptr || std::strcmp(command, "Reset") != 0) {
        return;
    }
    if (const std::shared_ptr<HostCamera> camera = Get().AtPort(portNo)) {
        camera->OnReset();
    }
}

void QUORVEX_CALL HostProcess::OnLog(const char* text) {
    HostProcess& process = Get();
    std::lock_guard<std::mutex> hold(process.logLock_);
    if (!process.haveStamp_) {
        process.logStamp_ = text != nullptr ? text : "";
        process.haveStamp_ = true;
        return;
    }
    process.haveStamp_ = false;
    if (process.logProc_ != nullptr) {
        // The driver writes its lines in the system's text; hosts read UTF-8.
        const std::string line = platform::SystemTextToUtf8(process.logStamp_ + (text != nullptr ? text : ""));
        process.logProc_(process.logContext_, line.c_str());
    }
}

}  // namespace host
