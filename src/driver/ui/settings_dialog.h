// The modal dialog in which a user edits one camera's settings.
#pragma once

#include "quorvex.h"
#include "support/settings.h"

// The dialog's end codes.
constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;

// Shows the dialog over `parent` with `caption`, editing `settings` in place
// while the user types. Returns kDialogOk when the user confirmed it; any other
// value (cancelled, or the dialog could not be shown) leaves nothing to store.
int RunSettingsDialog(QuorvexWindow parent, const char* caption, CameraSettings& settings);
