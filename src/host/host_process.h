// What the host library holds once per process: the driver (a process has
// one, with one settings folder), the hosts that share it, the open cameras
// by name and by port, and the driver's log. The driver's callbacks carry a
// port and no context: they reach the camera through the port table.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "driver_library.h"
#include "host_camera.h"
#include "platform/immortal.h"
#include "quorvex.h"
#include "quorvex_host.h"

namespace host {

class HostProcess {
public:
    // Never destroyed: the driver's threads may call back until the process
    // ends.
    static HostProcess& Get();

    // Loads the driver on the first join (the same driver for the rest of
    // the process) and initialises it with `folder`. Refused while other
    // hosts use another folder. False with `error`.
    bool Join(const std::string& driverPath, const std::string& folder, std::string& error);
    // The driver finalised once.
    void Leave();

    // Valid after a successful Join, for the rest of the process.
    const DriverLibrary& Driver() const { return driver_; }

    // Whether the driver offers the camera.
    bool HasCamera(const std::string& name) const;

    // True, with the reason in `error`, while the camera is open in this
    // process: its settings are not changed under it.
    bool RefuseIfOpen(const std::string& name, std::string& error) const;

    // Opens the camera on the driver, refusing a camera open in this process
    // on any port and a port taken; the camera's callbacks reach `camera`
    // from then on.
    std::shared_ptr<HostCamera> OpenCamera(const CameraSetup& setup, std::string& error);
    // Closes it on the driver (its thread is joined: no callback for it runs
    // after) and forgets it.
    void CloseCamera(const HostCamera& camera);

    void SetLog(QuorvexHostLogProc proc, void* context);

private:
    friend class platform::Immortal<HostProcess>;
    HostProcess() = default;

    static void QUORVEX_CALL OnComplete(int grabberNo, int portNo);
    static void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument);
    static void QUORVEX_CALL OnLog(const char* text);

    std::shared_ptr<HostCamera> AtPort(int port);
    // Why `name` cannot be opened now, or empty; lock_ held.
    std::string OpenAlreadyLocked(const std::string& name) const;

    // Guards everything below but the log; never held while the driver is
    // called back into the library.
    mutable std::mutex lock_;
    DriverLibrary driver_;
    bool loaded_ = false;
    std::string folder_;
    int hosts_ = 0;
    std::map<int, std::shared_ptr<HostCamera>> byPort_;

    // The driver holds its own lock around both calls of a line, so the
    // time stamp waits here for its message without a lock of ours.
    std::mutex logLock_;
    QuorvexHostLogProc logProc_ = nullptr;
    void* logContext_ = nullptr;
    std::string logStamp_;
    bool haveStamp_ = false;
};

}  // namespace host
