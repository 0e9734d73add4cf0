#include "driver/driver_state.h"
#include "support/log.h"
#include "ui/settings_dialog.h"

// This build has no dialog toolkit: the dialog cannot be created, which the
// caller treats like a cancelled dialog.
int RunSettingsDialog(QuorvexWindow, const char*, CameraSettings&) {
    LogMessage(1, GetDriverState(), "CCameraProp: ERROR: the settings dialog is not available in this build\n");
    return -1;
}
