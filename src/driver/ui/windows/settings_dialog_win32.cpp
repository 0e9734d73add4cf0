// The settings dialog on Win32: template 1000 from this library's own
// resources, run modally over the host's window, with a status bar from the
// common controls added below the template's controls.
#include "platform/win32.h"

#include <commctrl.h>

#include "support/driver_state.h"
#include "support/log.h"
#include "ui/camera_prop.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

namespace {

const char kMarkerInModule = 0;

// The module that holds this code: the DLL, never the host program.
HINSTANCE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       &kMarkerInModule, &module);
    return module;
}

class Win32DialogControls : public DialogControls {
public:
    explicit Win32DialogControls(HWND dialog_) : dialog(dialog_) {}

    std::string GetText(int controlId) override {
        const HWND control = GetDlgItem(dialog, controlId);
        const int length = GetWindowTextLengthA(control);
        std::string text(static_cast<size_t>(length) + 1, '\0');
        const int copied = GetWindowTextA(control, &text[0], length + 1);
        text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
        return text;
    }
    void SetText(int controlId, const std::string& text) override { SetDlgItemTextA(dialog, controlId, text.c_str()); }
    bool IsChecked(int controlId) override { return IsDlgButtonChecked(dialog, controlId) == BST_CHECKED; }
    void SetChecked(int controlId, bool checked) override {
        CheckDlgButton(dialog, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void Enable(int controlId, bool enabled) override { EnableWindow(GetDlgItem(dialog, controlId), enabled); }
    void SetStatusText(const char* text) override {
        SendMessageA(GetDlgItem(dialog, IDC_STATUS_BAR), SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    }

private:
    HWND dialog;
};

void CenterOverOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT area;
    if (owner == nullptr || !GetWindowRect(owner, &area)) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT own;
    GetWindowRect(dialog, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Grows the dialog by the status bar's height and puts the bar into the new
// strip, below the template's controls; the top-left corner stays.
void AddStatusBar(HWND dialog) {
    const HWND statusBar =
        CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), OwnModule(), nullptr);
    RECT bar;
    GetWindowRect(statusBar, &bar);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bar), 2);
    const int barHeight = bar.bottom - bar.top;
    RECT frame;
    GetWindowRect(dialog, &frame);
    MoveWindow(dialog, frame.left, frame.top, frame.right - frame.left, frame.bottom + barHeight - frame.top, TRUE);
    MoveWindow(statusBar, 0, bar.bottom, bar.right - bar.left, barHeight, TRUE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    }
    auto* prop = reinterpret_cast<CCameraProp*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (prop == nullptr) {
        return FALSE;
    }
    Win32DialogControls controls(dialog);
    switch (message) {
    case WM_INITDIALOG:
        prop->DoDataExchange(controls, false);
        SetWindowTextA(dialog, prop->Caption().c_str());
        AddStatusBar(dialog);
        // Centred at its full size, status bar included.
        CenterOverOwner(dialog);
        prop->ValidateInput(controls);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if ((id == IDC_SHARE_NAME || id == IDC_LOG_LEVEL) && code == EN_CHANGE) {
            if (!prop->IsTransferring()) {
                prop->ValidateInput(controls);
            }
            return TRUE;
        }
        if (id == IDOK) {
            // Enter reaches here even while OK is disabled.
            if (IsWindowEnabled(GetDlgItem(dialog, IDOK))) {
                prop->DoDataExchange(controls, true);
                EndDialog(dialog, IDOK);
            }
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

int RunSettingsDialog(QuorvexWindow parent, const char* caption, CameraSettings& settings) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    CCameraProp prop(caption, &settings);
    const INT_PTR result = DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(IDD_CAMERA_PROP), static_cast<HWND>(parent),
                                           DialogProc, reinterpret_cast<LPARAM>(&prop));
    if (result == -1 || result == 0) {
        LogMessage(1, GetDriverState(), "CCameraProp: ERROR: could not create the settings dialog, error %lu\n",
                   static_cast<unsigned long>(GetLastError()));
    }
    return static_cast<int>(result);
}
