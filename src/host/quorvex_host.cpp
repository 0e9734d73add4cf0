// The C interface of the host library: each function checks its arguments,
// hands the work to the library's classes and keeps every exception inside,
// turning it into a failure whose words QuorvexHostLastError gives.
#include "quorvex_host.h"

#include <memory>
#include <new>
#include <set>
#include <string>

#include "host_camera.h"
#include "host_process.h"
#include "platform/system_text.h"
#include "settings_writer.h"

// Inside the library text is the system's (what the driver reads and the
// narrow system calls take); callers give and get UTF-8, converted at the
// functions below.
struct QuorvexHost {
    std::string folder;
    std::string settingsPath;
    std::string settingsPathUtf8;
    std::string driverPathUtf8;
    std::set<QuorvexHostCamera*> cameras;
};

struct QuorvexHostCamera {
    QuorvexHost* host = nullptr;
    std::shared_ptr<host::HostCamera> camera;
    std::string shareUtf8;
};

namespace {

thread_local std::string lastError;

void FailUtf8(std::string text) {
    lastError = std::move(text);
}

// `text` in the system's encoding, as the library's own sentences are.
void Fail(const std::string& text) {
    FailUtf8(platform::SystemTextToUtf8(text));
}

// The caller's `utf8` as the system's text in `system`; false, having said
// why in the words of `what`, when it cannot be written so.
bool ToSystemText(const char* what, const std::string& utf8, std::string& system) {
    if (platform::Utf8ToSystemText(utf8, system)) {
        return true;
    }
    FailUtf8(std::string(what) + " \"" + utf8 + "\" cannot be written in " + platform::SystemTextEncoding() +
             ", the only text the driver reads");
    return false;
}

// Runs `work`, turning an escaping exception into a failure and `failed`.
template <typename Result, typename Work>
Result Fenced(Result failed, Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
    } catch (const std::exception& error) {
        Fail(error.what());
    } catch (...) {
        Fail("an unexpected error");
    }
    return failed;
}

bool KnownCamera(const char* camera) {
    if (camera == nullptr || !host::HostProcess::Get().HasCamera(camera)) {
        FailUtf8(std::string("the driver has no camera \"") + (camera != nullptr ? camera : "(null)") + "\"");
        return false;
    }
    return true;
}

void CloseCamera(QuorvexHostCamera* handle) {
    host::HostProcess::Get().CloseCamera(*handle->camera);
    handle->host->cameras.erase(handle);
    delete handle;
}

}  // namespace

extern "C" {

const char* QUORVEX_HOST_CALL QuorvexHostLastError(void) {
    return lastError.c_str();
}

QuorvexHost* QUORVEX_HOST_CALL QuorvexHostOpen(const char* driverPath, const char* settingsFolder) {
    return Fenced<QuorvexHost*>(nullptr, [&]() -> QuorvexHost* {
        if (settingsFolder == nullptr || *settingsFolder == '\0') {
            Fail("no settings folder given");
            return nullptr;
        }
        auto created = std::make_unique<QuorvexHost>();
        std::string driver;
        if (!ToSystemText("the settings folder", settingsFolder, created->folder) ||
            !ToSystemText("the driver's path", driverPath != nullptr ? driverPath : "", driver)) {
            return nullptr;
        }
        created->settingsPath = host::SettingsFilePath(created->folder);
        created->settingsPathUtf8 = platform::SystemTextToUtf8(created->settingsPath);
        std::string error;
        if (!host::HostProcess::Get().Join(driver, created->folder, error)) {
            Fail(error);
            return nullptr;
        }
        created->driverPathUtf8 = platform::SystemTextToUtf8(host::HostProcess::Get().Driver().Path());
        return created.release();
    });
}

void QUORVEX_HOST_CALL QuorvexHostClose(QuorvexHost* host) {
    if (host == nullptr) {
        return;
    }
    Fenced(0, [&] {
        while (!host->cameras.empty()) {
            CloseCamera(*host->cameras.begin());
        }
        host::HostProcess::Get().Leave();
        return 0;
    });
    delete host;
}

const char* QUORVEX_HOST_CALL QuorvexHostDriverPath(const QuorvexHost* host) {
    return host != nullptr ? host->driverPathUtf8.c_str() : "";
}

const char* QUORVEX_HOST_CALL QuorvexHostSettingsPath(const QuorvexHost* host) {
    return host != nullptr ? host->settingsPathUtf8.c_str() : "";
}

void QUORVEX_HOST_CALL QuorvexHostSetLog(QuorvexHost* host, QuorvexHostLogProc proc, void* context) {
    if (host != nullptr) {
        host::HostProcess::Get().SetLog(proc, context);
    }
}

int QUORVEX_HOST_CALL QuorvexHostCameraCount(const QuorvexHost* host) {
    return host != nullptr ? host::HostProcess::Get().Driver().getCVLNoOfSupportedCameras() : 0;
}

const char* QUORVEX_HOST_CALL QuorvexHostCameraName(const QuorvexHost* host, int index) {
    if (host == nullptr || index < 0 || index >= QuorvexHostCameraCount(host)) {
        return nullptr;
    }
    const char** names = host::HostProcess::Get().Driver().getCVLCameraConfigNames();
    return names != nullptr ? names[index] : nullptr;
}

int QUORVEX_HOST_CALL QuorvexHostWriteSettings(QuorvexHost* host, const char* camera,
                                               const QuorvexHostSettings* settings) {
    return Fenced(0, [&] {
        if (host == nullptr || settings == nullptr) {
            Fail("no host or no settings given");
            return 0;
        }
        if (!KnownCamera(camera)) {
            return 0;
        }
        std::string error;
        if (host::HostProcess::Get().RefuseIfOpen(camera, error)) {
            Fail(error);
            return 0;
        }
        host::SettingsChange change;
        if (settings->share != nullptr) {
            std::string share;
            if (!platform::Utf8ToSystemText(settings->share, share)) {
                FailUtf8(std::string("the share name \"") + settings->share +
                         "\" is refused: it cannot be written in " + platform::SystemTextEncoding() +
                         ", in which the driver reads it");
                return 0;
            }
            change.share = share;
        }
        if (settings->logLevel != QUORVEX_HOST_KEEP) {
            change.logLevel = settings->logLevel;
        }
        if (settings->connectionTimeoutMs != QUORVEX_HOST_KEEP) {
            change.connectionTimeoutMs = settings->connectionTimeoutMs;
        }
        if (!host::WriteSettings(host->settingsPath, camera, change, error)) {
            Fail(error);
            return 0;
        }
        return 1;
    });
}

int QUORVEX_HOST_CALL QuorvexHostConfigure(QuorvexHost* host, const char* camera, void* parentWindow) {
    return Fenced(-1, [&] {
        if (host == nullptr || !KnownCamera(camera)) {
            return -1;
        }
        // The driver answers 0 for a confirmed dialog.
        return host::HostProcess::Get().Driver().configureCamera(parentWindow, camera) == 0 ? 1 : 0;
    });
}

QuorvexHostCamera* QUORVEX_HOST_CALL QuorvexHostCameraOpen(QuorvexHost* host, const char* camera,
                                                           const QuorvexHostCameraOptions* options) {
    return Fenced<QuorvexHostCamera*>(nullptr, [&]() -> QuorvexHostCamera* {
        if (host == nullptr) {
            Fail("no host given");
            return nullptr;
        }
        if (!KnownCamera(camera)) {
            return nullptr;
        }
        host::CameraSetup setup;
        setup.name = camera;
        if (options != nullptr) {
            setup.port = options->port;
            const int depth = options->queueDepth > 0 ? options->queueDepth : 1;
            setup.queueDepth = static_cast<size_t>(depth);
            setup.rowAlignment = options->rowAlignment > 0 ? options->rowAlignment : 1;
        }
        setup.share = host::ReadShareName(host->settingsPath, setup.name);
        auto handle = std::make_unique<QuorvexHostCamera>();
        handle->host = host;
        std::string error;
        handle->camera = host::HostProcess::Get().OpenCamera(setup, error);
        if (!handle->camera) {
            Fail(error);
            return nullptr;
        }
        handle->shareUtf8 = platform::SystemTextToUtf8(setup.share);
        host->cameras.insert(handle.get());
        return handle.release();
    });
}

void QUORVEX_HOST_CALL QuorvexHostCameraClose(QuorvexHostCamera* camera) {
    if (camera != nullptr) {
        Fenced(0, [&] {
            CloseCamera(camera);
            return 0;
        });
    }
}

void QUORVEX_HOST_CALL QuorvexHostCameraOpenedSize(const QuorvexHostCamera* camera, int* width, int* height) {
    if (width != nullptr) {
        *width = camera != nullptr ? camera->camera->OpenedWidth() : 0;
    }
    if (height != nullptr) {
        *height = camera != nullptr ? camera->camera->OpenedHeight() : 0;
    }
}

const char* QUORVEX_HOST_CALL QuorvexHostCameraShare(const QuorvexHostCamera* camera) {
    return camera != nullptr ? camera->shareUtf8.c_str() : "";
}

int QUORVEX_HOST_CALL QuorvexHostCameraProperty(const QuorvexHostCamera* camera, const char* name, int* value) {
    return Fenced(0, [&] {
        if (camera == nullptr || name == nullptr || value == nullptr) {
            Fail("no camera, no name or no value given");
            return 0;
        }
        return camera->camera->Property(name, *value) ? 1 : 0;
    });
}

int QUORVEX_HOST_CALL QuorvexHostCameraRead(QuorvexHostCamera* camera, int timeoutMs, QuorvexHostFrame* frame) {
    return Fenced(QUORVEX_HOST_FAILED, [&] {
        if (camera == nullptr || frame == nullptr) {
            Fail("no camera or no frame given");
            return QUORVEX_HOST_FAILED;
        }
        const host::Frame* taken = nullptr;
        std::string why;
        switch (camera->camera->Read(timeoutMs, taken, why)) {
        case host::ReadResult::kFrame:
            *frame = QuorvexHostFrame{taken->bytes.data(), taken->width,  taken->height,       taken->bytesPerPixel,
                                      taken->rowPitch,     taken->number, taken->arrivedUs,    taken->serverNumber,
                                      taken->captureUs,    taken->gap,    taken->arrivedRealUs};
            return QUORVEX_HOST_FRAME;
        case host::ReadResult::kNothingYet:
            Fail(why);
            return QUORVEX_HOST_NOTHING_YET;
        case host::ReadResult::kNoServer:
            Fail(why);
            return QUORVEX_HOST_NO_SERVER;
        case host::ReadResult::kEnded:
            Fail(why);
            return QUORVEX_HOST_ENDED;
        }
        return QUORVEX_HOST_FAILED;
    });
}

int QUORVEX_HOST_CALL QuorvexHostCameraLinkState(const QuorvexHostCamera* camera) {
    return camera != nullptr ? Fenced(-1, [&] { return camera->camera->LinkState(); }) : -1;
}

void QUORVEX_HOST_CALL QuorvexHostCameraRelease(QuorvexHostCamera* camera, QuorvexHostFrame* frame) {
    if (camera != nullptr && frame != nullptr && frame->pixels != nullptr) {
        camera->camera->Release(frame->pixels);
        frame->pixels = nullptr;
    }
}

void QUORVEX_HOST_CALL QuorvexHostCameraCounters(const QuorvexHostCamera* camera, QuorvexHostCounters* counters) {
    if (camera == nullptr || counters == nullptr) {
        return;
    }
    const host::CameraCounts counts = camera->camera->Counts();
    *counters = QuorvexHostCounters{counts.received,   counts.replaced, counts.resets,
                                    counts.incomplete, counts.lost,     counts.repeated};
}

}  // extern "C"
