// The camera settings dialog's own logic: what goes into and out of each
// control, how the input is checked while the user types, and what the
// status bar says. A toolkit adapter shows the window and calls in here.
#pragma once

#include <cstdint>
#include <string>

#include "support/log.h"
#include "support/settings.h"

// What the dialog needs of a window toolkit, control by control.
class DialogControls {
public:
    virtual ~DialogControls() = default;
    virtual std::string GetText(int controlId) = 0;
    virtual void SetText(int controlId, const std::string& text) = 0;
    virtual bool IsChecked(int controlId) = 0;
    virtual void SetChecked(int controlId, bool checked) = 0;
    virtual void Enable(int controlId, bool enabled) = 0;
    virtual void SetStatusText(const char* text) = 0;
};

// Edits a settings record that the caller owns and that outlives the dialog.
class CCameraProp {
public:
    CCameraProp(std::string caption, CameraSettings* settings);

    const std::string& Caption() const { return caption; }

    // Moves the values into the controls (saveAndValidate false) or out of
    // them into the record. Text-change notifications that the transfer
    // itself causes must be dropped: see IsTransferring.
    void DoDataExchange(DialogControls& controls, bool saveAndValidate);
    bool IsTransferring() const { return transferring; }

    // Reads the controls, shows the log level's range, reports the first
    // problem in the status bar and enables OK only for valid input.
    void ValidateInput(DialogControls& controls);

    void ShowStatus(DialogControls& controls, const char* format, ...) QUORVEX_PRINTF_FORMAT(3, 4);

private:
    std::string caption;
    CameraSettings* settings;
    bool transferring = false;
};

// The text of the log level field as a number, as the C function atoi reads
// it: leading blanks, an optional sign, digits up to the first non-digit; no
// digits give 0, and a value beyond 32 bits stops at the nearest limit.
int32_t ParseLogLevel(const std::string& text);
