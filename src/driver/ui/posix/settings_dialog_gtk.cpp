// The settings dialog on Linux: GTK 3, loaded when the dialog is first
// shown, so that the driver neither links GTK nor needs it for anything else.
// Without GTK or without a display the dialog cannot be created, which the
// caller treats like a cancelled dialog.
#include <dlfcn.h>

#include <string>

#include "support/driver_state.h"
#include "support/log.h"
#include "ui/camera_prop.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

namespace {

// GTK's objects are opaque here; only pointers to them pass through.
struct GtkWidget;
using Callback = void (*)();

constexpr int kResponseOk = 1;
constexpr int kResponseCancel = 2;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kSpacing = 6;

// The part of GTK 3 that the dialog uses: prefix, name and type of each
// function, resolved by the prefixed name.
#define QUORVEX_GTK_FUNCTIONS(X)                                                  \
    X(gtk_, init_check, int (*)(int*, char***))                                   \
    X(gtk_, dialog_new, GtkWidget* (*)())                                         \
    X(gtk_, dialog_response, void (*)(GtkWidget*, int))                           \
    X(gtk_, dialog_get_content_area, GtkWidget* (*)(GtkWidget*))                  \
    X(gtk_, dialog_run, int (*)(GtkWidget*))                                      \
    X(gtk_, window_set_title, void (*)(GtkWidget*, const char*))                  \
    X(gtk_, window_set_modal, void (*)(GtkWidget*, int))                          \
    X(gtk_, window_set_transient_for, void (*)(GtkWidget*, GtkWidget*))           \
    X(gtk_, window_set_position, void (*)(GtkWidget*, int))                       \
    X(gtk_, window_set_resizable, void (*)(GtkWidget*, int))                      \
    X(gtk_, grid_new, GtkWidget* (*)())                                           \
    X(gtk_, grid_attach, void (*)(GtkWidget*, GtkWidget*, int, int, int, int))    \
    X(gtk_, grid_set_row_spacing, void (*)(GtkWidget*, unsigned))                 \
    X(gtk_, grid_set_column_spacing, void (*)(GtkWidget*, unsigned))              \
    X(gtk_, frame_new, GtkWidget* (*)(const char*))                               \
    X(gtk_, container_add, void (*)(GtkWidget*, GtkWidget*))                      \
    X(gtk_, container_set_border_width, void (*)(GtkWidget*, unsigned))           \
    X(gtk_, label_new, GtkWidget* (*)(const char*))                               \
    X(gtk_, label_set_text, void (*)(GtkWidget*, const char*))                    \
    X(gtk_, label_set_xalign, void (*)(GtkWidget*, float))                        \
    X(gtk_, entry_new, GtkWidget* (*)())                                          \
    X(gtk_, entry_set_text, void (*)(GtkWidget*, const char*))                    \
    X(gtk_, entry_get_text, const char* (*)(GtkWidget*))                          \
    X(gtk_, entry_set_activates_default, void (*)(GtkWidget*, int))               \
    X(gtk_, check_button_new_with_label, GtkWidget* (*)(const char*))             \
    X(gtk_, toggle_button_get_active, int (*)(GtkWidget*))                        \
    X(gtk_, toggle_button_set_active, void (*)(GtkWidget*, int))                  \
    X(gtk_, button_new_with_label, GtkWidget* (*)(const char*))                   \
    X(gtk_, box_new, GtkWidget* (*)(int, int))                                    \
    X(gtk_, box_pack_start, void (*)(GtkWidget*, GtkWidget*, int, int, unsigned)) \
    X(gtk_, widget_set_valign, void (*)(GtkWidget*, int))                         \
    X(gtk_, widget_set_can_default, void (*)(GtkWidget*, int))                    \
    X(gtk_, widget_grab_default, void (*)(GtkWidget*))                            \
    X(gtk_, widget_set_sensitive, void (*)(GtkWidget*, int))                      \
    X(gtk_, widget_set_name, void (*)(GtkWidget*, const char*))                   \
    X(gtk_, widget_set_hexpand, void (*)(GtkWidget*, int))                        \
    X(gtk_, widget_show_all, void (*)(GtkWidget*))                                \
    X(gtk_, widget_destroy, void (*)(GtkWidget*))                                 \
    X(gtk_, events_pending, int (*)())                                            \
    X(gtk_, main_iteration, int (*)())                                            \
    X(g_, signal_connect_data, unsigned long (*)(void*, const char*, Callback, void*, void*, int))

template <typename Type>
using FunctionOf = Type;

struct Gtk {
#define QUORVEX_GTK_MEMBER(prefix, name, type) FunctionOf<type> name = nullptr;
    QUORVEX_GTK_FUNCTIONS(QUORVEX_GTK_MEMBER)
#undef QUORVEX_GTK_MEMBER
};

template <typename Function>
bool Resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Loads GTK and opens the display once per process; null, with the reason in
// `why`, when either is missing. GTK is never unloaded: it cannot be.
const Gtk* LoadGtk(std::string& why) {
    static Gtk gtk{};
    static bool loaded = false;
    static std::string failure;
    if (loaded || !failure.empty()) {
        why = failure;
        return loaded ? &gtk : nullptr;
    }
    void* library = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        failure = "GTK 3 is not installed";
        why = failure;
        return nullptr;
    }
    bool resolved = true;
#define QUORVEX_GTK_RESOLVE(prefix, name, type) resolved = resolved && Resolve(library, #prefix #name, gtk.name);
    QUORVEX_GTK_FUNCTIONS(QUORVEX_GTK_RESOLVE)
#undef QUORVEX_GTK_RESOLVE
    if (!resolved) {
        failure = "the installed GTK lacks a function the dialog needs";
    } else if (!gtk.init_check(nullptr, nullptr)) {
        failure = "no display to show it on";
    } else {
        loaded = true;
        return &gtk;
    }
    why = failure;
    return nullptr;
}

// The dialog's widgets, named after the Win32 control IDs so that tools and
// tests find the same controls on both systems.
class GtkDialogControls : public DialogControls {
public:
    GtkDialogControls(const Gtk& gtk_, CCameraProp& prop_) : gtk(gtk_), prop(prop_) {}

    void Build(const char* caption, GtkWidget* parent) {
        dialog = gtk.dialog_new();
        gtk.window_set_title(dialog, caption);
        gtk.window_set_modal(dialog, 1);
        gtk.window_set_resizable(dialog, 0);
        // Over the host's window; without one, in the middle of the screen
        // (GTK would leave an orphan in a corner).
        constexpr int kCenter = 1;
        constexpr int kCenterOnParent = 4;
        if (parent != nullptr) {
            gtk.window_set_transient_for(dialog, parent);
            gtk.window_set_position(dialog, kCenterOnParent);
        } else {
            gtk.window_set_position(dialog, kCenter);
        }

        // As the template lays it out: the two groups on the left, OK and
        // Cancel stacked on the right, the status bar below everything.
        GtkWidget* content = gtk.dialog_get_content_area(dialog);
        GtkWidget* layout = Grid();
        gtk.container_add(content, layout);

        GtkWidget* sharing = Grid();
        shareName = Entry(IDC_SHARE_NAME);
        gtk.grid_attach(sharing, Label("Share Name"), 0, 0, 1, 1);
        gtk.grid_attach(sharing, shareName, 1, 0, 2, 1);
        gtk.grid_attach(layout, Framed("Sharing", sharing), 0, 0, 1, 1);

        GtkWidget* misc = Grid();
        logLevel = Entry(IDC_LOG_LEVEL);
        range = Named(Label("Static"), IDC_LOG_LEVEL_RANGE);
        logIntoFile = Named(gtk.check_button_new_with_label("Also log in to file"), IDC_LOG_INTO_FILE);
        gtk.grid_attach(misc, Label("Log Level"), 0, 0, 1, 1);
        gtk.grid_attach(misc, logLevel, 1, 0, 1, 1);
        gtk.grid_attach(misc, range, 2, 0, 1, 1);
        gtk.grid_attach(misc, logIntoFile, 0, 1, 3, 1);
        gtk.grid_attach(layout, Framed("Misc", misc), 0, 1, 1, 1);

        constexpr int kVertical = 1;
        constexpr int kAlignStart = 1;
        GtkWidget* buttons = gtk.box_new(kVertical, kSpacing);
        gtk.widget_set_valign(buttons, kAlignStart);
        okButton = Button("OK", kIdOk);
        gtk.box_pack_start(buttons, okButton, 0, 0, 0);
        gtk.box_pack_start(buttons, Button("Cancel", kIdCancel), 0, 0, 0);
        gtk.grid_attach(layout, buttons, 1, 0, 1, 2);

        status = Named(Label(""), IDC_STATUS_BAR);
        gtk.grid_attach(layout, status, 0, 2, 2, 1);

        gtk.widget_set_can_default(okButton, 1);
        gtk.widget_grab_default(okButton);

        gtk.signal_connect_data(shareName, "changed", reinterpret_cast<Callback>(&OnChanged), this, nullptr, 0);
        gtk.signal_connect_data(logLevel, "changed", reinterpret_cast<Callback>(&OnChanged), this, nullptr, 0);
    }

    int Run() {
        gtk.widget_show_all(dialog);
        const int response = gtk.dialog_run(dialog);
        if (response == kResponseOk) {
            prop.DoDataExchange(*this, true);
        }
        gtk.widget_destroy(dialog);
        while (gtk.events_pending()) {
            gtk.main_iteration();
        }
        return response == kResponseOk ? kDialogOk : kDialogCancel;
    }

    std::string GetText(int controlId) override {
        GtkWidget* entry = EntryById(controlId);
        return entry != nullptr ? gtk.entry_get_text(entry) : "";
    }
    void SetText(int controlId, const std::string& text) override {
        if (controlId == IDC_LOG_LEVEL_RANGE) {
            gtk.label_set_text(range, text.c_str());
        } else if (GtkWidget* entry = EntryById(controlId)) {
            gtk.entry_set_text(entry, text.c_str());
        }
    }
    bool IsChecked(int) override { return gtk.toggle_button_get_active(logIntoFile) != 0; }
    void SetChecked(int, bool checked) override { gtk.toggle_button_set_active(logIntoFile, checked ? 1 : 0); }
    void Enable(int controlId, bool enabled) override {
        if (controlId == kIdOk) {
            gtk.widget_set_sensitive(okButton, enabled ? 1 : 0);
        }
    }
    void SetStatusText(const char* text) override { gtk.label_set_text(status, text); }

private:
    // Enter activates OK only while it is enabled, as GTK's default widget.
    static void OnClicked(GtkWidget* button, void* self) {
        auto* controls = static_cast<GtkDialogControls*>(self);
        controls->gtk.dialog_response(controls->dialog, button == controls->okButton ? kResponseOk : kResponseCancel);
    }

    static void OnChanged(GtkWidget*, void* self) {
        auto* controls = static_cast<GtkDialogControls*>(self);
        if (!controls->prop.IsTransferring()) {
            controls->prop.ValidateInput(*controls);
        }
    }

    GtkWidget* EntryById(int controlId) const {
        return controlId == IDC_SHARE_NAME ? shareName : controlId == IDC_LOG_LEVEL ? logLevel : nullptr;
    }
    GtkWidget* Label(const char* text) {
        GtkWidget* label = gtk.label_new(text);
        gtk.label_set_xalign(label, 0.0f);
        return label;
    }
    GtkWidget* Entry(int controlId) {
        GtkWidget* entry = Named(gtk.entry_new(), controlId);
        gtk.widget_set_hexpand(entry, 1);
        gtk.entry_set_activates_default(entry, 1);
        return entry;
    }
    GtkWidget* Named(GtkWidget* widget, int controlId) {
        gtk.widget_set_name(widget, std::to_string(controlId).c_str());
        return widget;
    }
    GtkWidget* Button(const char* text, int controlId) {
        GtkWidget* button = Named(gtk.button_new_with_label(text), controlId);
        gtk.signal_connect_data(button, "clicked", reinterpret_cast<Callback>(&OnClicked), this, nullptr, 0);
        return button;
    }
    GtkWidget* Grid() {
        GtkWidget* grid = gtk.grid_new();
        gtk.grid_set_row_spacing(grid, kSpacing);
        gtk.grid_set_column_spacing(grid, kSpacing);
        gtk.container_set_border_width(grid, kSpacing);
        return grid;
    }
    GtkWidget* Framed(const char* title, GtkWidget* child) {
        GtkWidget* frame = gtk.frame_new(title);
        gtk.container_add(frame, child);
        return frame;
    }

    const Gtk& gtk;
    CCameraProp& prop;
    GtkWidget* dialog = nullptr;
    GtkWidget* shareName = nullptr;
    GtkWidget* logLevel = nullptr;
    GtkWidget* range = nullptr;
    GtkWidget* logIntoFile = nullptr;
    GtkWidget* status = nullptr;
    GtkWidget* okButton = nullptr;
};

}  // namespace

// On Linux the parent, when given, is the host's GtkWindow.
int RunSettingsDialog(QuorvexWindow parent, const char* caption, CameraSettings& settings) {
    std::string why;
    const Gtk* gtk = LoadGtk(why);
    if (gtk == nullptr) {
        LogMessage(1, GetDriverState(), "CCameraProp: ERROR: cannot show the settings dialog: %s\n", why.c_str());
        return -1;
    }
    CCameraProp prop(caption, &settings);
    GtkDialogControls controls(*gtk, prop);
    controls.Build(caption, static_cast<GtkWidget*>(parent));
    prop.DoDataExchange(controls, false);
    prop.ValidateInput(controls);
    return controls.Run();
}
