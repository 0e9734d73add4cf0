// The GTK dialog worked from the test's thread. GTK may be used only on the
// thread that runs the dialog's loop, so every operation is handed to that
// loop (see TaskQueue) and waited for. Typing sends
// X key events (gtk_test_widget_send_key) to the focused entry, which GTK
// handles like those of a keyboard; the entry's "changed" signal then
// reaches the dialog as it does for a user.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "dialog_driver.h"
#include "support/screen_capture.h"
#include "ui/resource.h"

namespace dialogtest {
namespace {

struct GtkWidget;
struct GList {
    void* data;
    GList* next;
    GList* prev;
};
struct GdkRectangle {
    int x;
    int y;
    int width;
    int height;
};
using GType = size_t;
using GSourceFunc = int (*)(void*);
using GtkCallback = void (*)(GtkWidget*, void*);
using GCallback = void (*)();
using GDestroyNotify = void (*)(void*);

using Clock = std::chrono::steady_clock;

constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr int kTaskTimeoutMs = 5000;
constexpr int kTypingTimeoutMs = 5000;
constexpr unsigned kKeyBackSpace = 0xff08;
constexpr unsigned kKeyReturn = 0xff0d;
constexpr unsigned kKeyEscape = 0xff1b;
constexpr int kSettleMs = 100;
constexpr auto kPaintSettle = std::chrono::milliseconds(300);
constexpr int kSourceRemove = 0;

// The part of GTK, GDK and GLib that the tests use, resolved by name from the
// GTK that the driver loads too (the same library, loaded once).
struct GtkApi {
    void* library = nullptr;
    unsigned (*idle_add)(GSourceFunc, void*) = nullptr;
    unsigned long (*signal_connect_data)(void*, const char*, GCallback, void*, GDestroyNotify, int) = nullptr;
    int (*type_check_instance_is_a)(void*, GType) = nullptr;
    GList* (*window_list_toplevels)() = nullptr;
    void (*list_free)(GList*) = nullptr;
    const char* (*window_get_title)(GtkWidget*) = nullptr;
    int (*widget_get_mapped)(GtkWidget*) = nullptr;
    GType (*container_get_type)() = nullptr;
    GType (*entry_get_type)() = nullptr;
    void (*container_forall)(GtkWidget*, GtkCallback, void*) = nullptr;
    const char* (*widget_get_name)(GtkWidget*) = nullptr;
    const char* (*entry_get_text)(GtkWidget*) = nullptr;
    const char* (*label_get_text)(GtkWidget*) = nullptr;
    int (*widget_is_sensitive)(GtkWidget*) = nullptr;
    int (*toggle_button_get_active)(GtkWidget*) = nullptr;
    void (*widget_grab_focus)(GtkWidget*) = nullptr;
    void (*editable_select_region)(GtkWidget*, int, int) = nullptr;
    void (*editable_delete_text)(GtkWidget*, int, int) = nullptr;
    void (*editable_insert_text)(GtkWidget*, const char*, int, int*) = nullptr;
    int (*test_widget_send_key)(GtkWidget*, unsigned, unsigned) = nullptr;
    unsigned (*unicode_to_keyval)(uint32_t) = nullptr;
    void (*button_clicked)(GtkWidget*) = nullptr;
    void (*window_close)(GtkWidget*) = nullptr;
    int (*widget_translate_coordinates)(GtkWidget*, GtkWidget*, int, int, int*, int*) = nullptr;
    int (*widget_get_allocated_width)(GtkWidget*) = nullptr;
    int (*widget_get_allocated_height)(GtkWidget*) = nullptr;
    void* (*widget_get_window)(GtkWidget*) = nullptr;
    void (*window_get_frame_extents)(void*, GdkRectangle*) = nullptr;
    void* (*display_get_default)() = nullptr;
    void* (*display_get_primary_monitor)(void*) = nullptr;
    void (*monitor_get_workarea)(void*, GdkRectangle*) = nullptr;
    void* (*x_open_display)(const char*) = nullptr;
    int (*x_close_display)(void*) = nullptr;
};

template <typename Function>
void Resolve(void* library, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr) {
        missing += std::string(" ") + name;
    }
}

// Loaded once and kept: GTK cannot be unloaded. `problem` names what is
// missing when the tests cannot use it.
struct LoadedGtk {
    GtkApi api;
    std::string problem;

    LoadedGtk() {
        // GTK as the tests need it, read when GTK opens the display, so set
        // before the driver initialises GTK: on X, where the screenshots
        // come from; key events sent to a window taken through the core X
        // protocol's input handling (the XInput2 one takes only those of
        // real devices); no OpenGL and no accessibility bus, neither of which
        // a test display has or the dialog needs.
        setenv("GDK_BACKEND", "x11", 1);
        setenv("GDK_CORE_DEVICE_EVENTS", "1", 1);
        setenv("GDK_GL", "disable", 1);
        setenv("NO_AT_BRIDGE", "1", 1);
        api.library = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
        if (api.library == nullptr) {
            problem = "GTK 3 (libgtk-3.so.0) is not installed";
            return;
        }
        std::string missing;
        void* gtk = api.library;
        Resolve(gtk, "g_idle_add", api.idle_add, missing);
        Resolve(gtk, "g_signal_connect_data", api.signal_connect_data, missing);
        Resolve(gtk, "g_type_check_instance_is_a", api.type_check_instance_is_a, missing);
        Resolve(gtk, "gtk_window_list_toplevels", api.window_list_toplevels, missing);
        Resolve(gtk, "g_list_free", api.list_free, missing);
        Resolve(gtk, "gtk_window_get_title", api.window_get_title, missing);
        Resolve(gtk, "gtk_widget_get_mapped", api.widget_get_mapped, missing);
        Resolve(gtk, "gtk_container_get_type", api.container_get_type, missing);
        Resolve(gtk, "gtk_entry_get_type", api.entry_get_type, missing);
        Resolve(gtk, "gtk_container_forall", api.container_forall, missing);
        Resolve(gtk, "gtk_widget_get_name", api.widget_get_name, missing);
        Resolve(gtk, "gtk_entry_get_text", api.entry_get_text, missing);
        Resolve(gtk, "gtk_label_get_text", api.label_get_text, missing);
        Resolve(gtk, "gtk_widget_is_sensitive", api.widget_is_sensitive, missing);
        Resolve(gtk, "gtk_toggle_button_get_active", api.toggle_button_get_active, missing);
        Resolve(gtk, "gtk_widget_grab_focus", api.widget_grab_focus, missing);
        Resolve(gtk, "gtk_editable_select_region", api.editable_select_region, missing);
        Resolve(gtk, "gtk_editable_delete_text", api.editable_delete_text, missing);
        Resolve(gtk, "gtk_editable_insert_text", api.editable_insert_text, missing);
        Resolve(gtk, "gtk_test_widget_send_key", api.test_widget_send_key, missing);
        Resolve(gtk, "gdk_unicode_to_keyval", api.unicode_to_keyval, missing);
        Resolve(gtk, "gtk_button_clicked", api.button_clicked, missing);
        Resolve(gtk, "gtk_window_close", api.window_close, missing);
        Resolve(gtk, "gtk_widget_translate_coordinates", api.widget_translate_coordinates, missing);
        Resolve(gtk, "gtk_widget_get_allocated_width", api.widget_get_allocated_width, missing);
        Resolve(gtk, "gtk_widget_get_allocated_height", api.widget_get_allocated_height, missing);
        Resolve(gtk, "gtk_widget_get_window", api.widget_get_window, missing);
        Resolve(gtk, "gdk_window_get_frame_extents", api.window_get_frame_extents, missing);
        Resolve(gtk, "gdk_display_get_default", api.display_get_default, missing);
        Resolve(gtk, "gdk_display_get_primary_monitor", api.display_get_primary_monitor, missing);
        Resolve(gtk, "gdk_monitor_get_workarea", api.monitor_get_workarea, missing);
        Resolve(gtk, "XOpenDisplay", api.x_open_display, missing);
        Resolve(gtk, "XCloseDisplay", api.x_close_display, missing);
        if (!missing.empty()) {
            problem = "the installed GTK lacks:" + missing;
        }
    }
};

const LoadedGtk& Gtk() {
    static const LoadedGtk gtk;
    return gtk;
}

// One piece of work for the GTK thread. A task that has not started when
// its caller gives up is cancelled, so that it cannot run later inside
// another test's dialog.
struct Task {
    std::function<void()> work;
    std::mutex mutex;
    std::condition_variable finished;
    bool started = false;
    bool done = false;
    bool cancelled = false;
};

// Tasks pass to the GTK thread through this queue and its own lock; GLib's
// idle call only wakes that thread. The hand-over is thus ordered by a lock
// that the thread sanitizer sees (GLib's own locks it cannot see).
class TaskQueue {
public:
    static TaskQueue& Instance() {
        static TaskQueue queue;
        return queue;
    }

    void Post(const GtkApi& api, std::shared_ptr<Task> task) {
        {
            std::lock_guard<std::mutex> hold(mutex);
            tasks.push_back(std::move(task));
        }
        api.idle_add(&RunPosted, this);
    }

private:
    static int RunPosted(void* self) {
        static_cast<TaskQueue*>(self)->RunAll();
        return kSourceRemove;
    }

    void RunAll() {
        std::deque<std::shared_ptr<Task>> taken;
        {
            std::lock_guard<std::mutex> hold(mutex);
            taken.swap(tasks);
        }
        for (const std::shared_ptr<Task>& task : taken) {
            Run(*task);
        }
    }

    static void Run(Task& task) {
        {
            std::lock_guard<std::mutex> hold(task.mutex);
            if (task.cancelled) {
                return;
            }
            task.started = true;
        }
        task.work();
        {
            std::lock_guard<std::mutex> hold(task.mutex);
            task.done = true;
        }
        task.finished.notify_all();
    }

    std::mutex mutex;
    std::deque<std::shared_ptr<Task>> tasks;
};

// Whether the dialog found last is still there; cleared on the GTK thread
// when GTK destroys it.
struct DialogPresence {
    std::atomic<bool> shown{false};
};

// The signal's data is a shared pointer of its own, released with the
// connection.
using PresenceHolder = std::shared_ptr<DialogPresence>;

void OnDestroyed(GtkWidget*, void* holder) {
    (*static_cast<PresenceHolder*>(holder))->shown = false;
}

void ReleasePresence(void* holder) {
    const std::unique_ptr<PresenceHolder> owned(static_cast<PresenceHolder*>(holder));
}

struct NamedSearch {
    const GtkApi* api;
    std::string name;
    GtkWidget* found;
};

void SearchNamed(GtkWidget* widget, void* data) {
    auto* search = static_cast<NamedSearch*>(data);
    if (search->found != nullptr) {
        return;
    }
    if (search->name == search->api->widget_get_name(widget)) {
        search->found = widget;
        return;
    }
    if (search->api->type_check_instance_is_a(widget, search->api->container_get_type())) {
        search->api->container_forall(widget, &SearchNamed, data);
    }
}

class GtkDialogDriver : public DialogDriver {
public:
    // The queue is made before the dialog's thread starts, which orders its
    // construction before that thread's first use.
    GtkDialogDriver() : api(Gtk().api), tasks(TaskQueue::Instance()) {}

    testing::AssertionResult WaitForDialog(const std::string& caption, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            GtkWidget* found = nullptr;
            const auto presence = std::make_shared<DialogPresence>();
            OnGtkThread([&] {
                found = FindToplevel(caption);
                if (found != nullptr) {
                    presence->shown = true;
                    api.signal_connect_data(found, "destroy", reinterpret_cast<GCallback>(&OnDestroyed),
                                            std::make_unique<PresenceHolder>(presence).release(), &ReleasePresence, 0);
                }
            });
            if (found != nullptr) {
                dialog = found;
                current = presence;
                return testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(kPoll);
        } while (Clock::now() < deadline);
        return testing::AssertionFailure() << "no dialog \"" << caption << "\" within " << timeoutMs << " ms";
    }

    bool IsShown() override { return current && current->shown; }

    std::string Caption() override {
        std::string caption;
        OnDialog([&] { caption = api.window_get_title(dialog); });
        return caption;
    }

    std::string Text(int controlId) override {
        std::string text = "<no control " + std::to_string(controlId) + ">";
        OnControl(controlId, [&](GtkWidget* control) {
            text = IsEntry(control) ? api.entry_get_text(control) : api.label_get_text(control);
        });
        return text;
    }

    bool IsEnabled(int controlId) override {
        bool enabled = false;
        OnControl(controlId, [&](GtkWidget* control) { enabled = api.widget_is_sensitive(control) != 0; });
        return enabled;
    }

    bool IsChecked(int controlId) override {
        bool checked = false;
        OnControl(controlId, [&](GtkWidget* control) { checked = api.toggle_button_get_active(control) != 0; });
        return checked;
    }

    testing::AssertionResult Type(int controlId, const std::string& text) override {
        bool sent = true;
        const bool ran = OnControl(controlId, [&](GtkWidget* entry) {
            api.widget_grab_focus(entry);
            api.editable_select_region(entry, 0, -1);
            if (text.empty()) {
                sent = api.test_widget_send_key(entry, kKeyBackSpace, 0) != 0;
            }
            for (const char key : text) {
                sent =
                    sent && api.test_widget_send_key(entry, api.unicode_to_keyval(static_cast<unsigned char>(key)), 0);
            }
        });
        if (!ran || !sent) {
            return testing::AssertionFailure() << "could not send the keys of \"" << text << "\" to " << controlId;
        }
        return WaitForText(controlId, text);
    }

    testing::AssertionResult Paste(int controlId, const std::string& text) override {
        OnControl(controlId, [&](GtkWidget* entry) {
            api.editable_delete_text(entry, 0, -1);
            int position = 0;
            api.editable_insert_text(entry, text.c_str(), static_cast<int>(text.size()), &position);
        });
        return WaitForText(controlId, text);
    }

    // The key events come back from the X server before a task queued after
    // them runs: GLib dispatches the pending events before idle work.
    testing::AssertionResult PressKey(int controlId, Key key) override {
        bool sent = false;
        OnControl(controlId, [&](GtkWidget* entry) {
            api.widget_grab_focus(entry);
            sent = api.test_widget_send_key(entry, key == Key::Enter ? kKeyReturn : kKeyEscape, 0) != 0;
        });
        if (!sent) {
            return testing::AssertionFailure() << "could not send the key to " << controlId;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(kTypingTimeoutMs);
        while (IsShown() && !OnGtkThread([] {}, kSettleMs)) {
            if (Clock::now() > deadline) {
                return testing::AssertionFailure() << "the key was not handled within " << kTypingTimeoutMs << " ms";
            }
        }
        return testing::AssertionSuccess();
    }

    void Click(int controlId) override {
        OnControl(controlId, [&](GtkWidget* button) { api.button_clicked(button); });
    }

    void CloseWindow() override {
        OnDialog([&] { api.window_close(dialog); });
    }

    Rect ScreenBounds() override {
        GdkRectangle frame{};
        OnDialog([&] { api.window_get_frame_extents(api.widget_get_window(dialog), &frame); });
        return Rect{frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
    }

    Rect WorkArea() override {
        GdkRectangle area{};
        OnGtkThread(
            [&] { api.monitor_get_workarea(api.display_get_primary_monitor(api.display_get_default()), &area); });
        return Rect{area.x, area.y, area.x + area.width, area.y + area.height};
    }

    Rect ClientBounds() override {
        Rect bounds;
        OnDialog([&] { bounds = BoundsIn(dialog); });
        return bounds;
    }

    Rect Bounds(int controlId) override {
        Rect bounds;
        OnControl(controlId, [&](GtkWidget* control) { bounds = BoundsIn(control); });
        return bounds;
    }

    std::string Screenshot(const std::string& name) override {
        // GTK draws at its next frame, and only then are the pixels on X.
        std::this_thread::sleep_for(kPaintSettle);
        return testsupport::CaptureScreen(std::string(QUORVEX_SCREENSHOT_DIR) + "/" + name + ".png",
                                          CropGeometry(ScreenBounds()));
    }

private:
    // Runs `work` on the GTK thread and waits for it; false when the loop
    // did not run it in time (the dialog's loop has ended, or never began).
    bool OnGtkThread(std::function<void()> work, int timeoutMs = kTaskTimeoutMs) {
        const auto task = std::make_shared<Task>();
        task->work = std::move(work);
        tasks.Post(api, task);
        std::unique_lock<std::mutex> hold(task->mutex);
        if (!task->finished.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return task->done; })) {
            if (!task->started) {
                task->cancelled = true;
                return false;
            }
            task->finished.wait(hold, [&] { return task->done; });
        }
        return true;
    }

    // Only while the dialog exists: afterwards its pointer is stale.
    bool OnDialog(const std::function<void()>& work) {
        bool ran = false;
        OnGtkThread([&] {
            if (current && current->shown) {
                work();
                ran = true;
            }
        });
        return ran;
    }

    bool OnControl(int controlId, const std::function<void(GtkWidget*)>& work) {
        bool ran = false;
        OnDialog([&] {
            NamedSearch search{&api, std::to_string(controlId), nullptr};
            SearchNamed(dialog, &search);
            if (search.found != nullptr) {
                work(search.found);
                ran = true;
            }
        });
        return ran;
    }

    GtkWidget* FindToplevel(const std::string& caption) {
        GtkWidget* found = nullptr;
        GList* toplevels = api.window_list_toplevels();
        for (GList* item = toplevels; item != nullptr && found == nullptr; item = item->next) {
            auto* window = static_cast<GtkWidget*>(item->data);
            const char* title = api.window_get_title(window);
            if (title != nullptr && caption == title && api.widget_get_mapped(window)) {
                found = window;
            }
        }
        api.list_free(toplevels);
        return found;
    }

    bool IsEntry(GtkWidget* widget) const { return api.type_check_instance_is_a(widget, api.entry_get_type()) != 0; }

    Rect BoundsIn(GtkWidget* widget) {
        int x = 0;
        int y = 0;
        api.widget_translate_coordinates(widget, dialog, 0, 0, &x, &y);
        return Rect{x, y, x + api.widget_get_allocated_width(widget), y + api.widget_get_allocated_height(widget)};
    }

    testing::AssertionResult WaitForText(int controlId, const std::string& expected) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kTypingTimeoutMs);
        std::string actual;
        do {
            actual = Text(controlId);
            if (actual == expected) {
                return testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(kPoll);
        } while (Clock::now() < deadline);
        return testing::AssertionFailure()
               << "control " << controlId << " holds \"" << actual << "\", expected \"" << expected << "\"";
    }

    const GtkApi& api;
    TaskQueue& tasks;
    GtkWidget* dialog = nullptr;
    std::shared_ptr<DialogPresence> current;
};

}  // namespace

std::string DialogDriver::DisplayProblem() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return "no X display: DISPLAY is not set (run the tests under xvfb-run)";
    }
    const LoadedGtk& gtk = Gtk();
    if (!gtk.problem.empty()) {
        return gtk.problem;
    }
    void* connection = gtk.api.x_open_display(nullptr);
    if (connection == nullptr) {
        return std::string("cannot open the X display ") + display;
    }
    gtk.api.x_close_display(connection);
    return std::string();
}

std::unique_ptr<DialogDriver> DialogDriver::Create() {
    return std::make_unique<GtkDialogDriver>();
}

}  // namespace dialogtest
