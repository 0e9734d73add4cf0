// The GenICam mode of a quorvex-server built without Aravis.
#include "exit_codes.h"
#include "genicam_server.h"

namespace tools {
namespace {

int Unavailable(StatusConsole& console) {
    console.Line("quorvex-server: this build has no GenICam cameras: it was built without Aravis");
    return kExitFailure;
}

}  // namespace

int RunGenicamServer(const ServerOptions&, StatusConsole& console) {
    return Unavailable(console);
}

int ListGenicamCameras(StatusConsole& console) {
    return Unavailable(console);
}

}  // namespace tools
