// quorvex-view's window with GTK 3: a drawing area for the picture and a
// label for the status line, fed from a timer on GTK's thread.
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>

#include "display_image.h"
#include "exit_codes.h"
#include "view_window.h"

namespace tools {
namespace {

constexpr guint kTickMs = 20;
constexpr int kStatusEveryTicks = 10;
constexpr double kBackground = 0.15;

// Everything the callbacks reach; lives on RunViewWindow's stack while GTK's
// loop runs. GTK's thread only.
struct Window {
    explicit Window(ViewModel& shownView) : view(shownView) {}

    ViewModel& view;
    GtkWidget* window = nullptr;
    GtkWidget* picture = nullptr;
    GtkWidget* status = nullptr;
    Image shown;
    std::vector<uint8_t> bgrx;
    int ticks = 0;
    bool sizeFreed = false;
    bool closed = false;
};

void OnDestroy(GtkWidget*, gpointer data) {
    static_cast<Window*>(data)->closed = true;
    gtk_main_quit();
}

gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    Window& w = *static_cast<Window*>(data);
    cairo_set_source_rgb(cr, kBackground, kBackground, kBackground);
    cairo_paint(cr);
    const FrameGeometry& geometry = w.shown.geometry;
    if (w.bgrx.empty()) {
        return TRUE;
    }
    const Placement at = FitInside(geometry.width, geometry.height, gtk_widget_get_allocated_width(widget),
                                   gtk_widget_get_allocated_height(widget));
    cairo_surface_t* surface = cairo_image_surface_create_for_data(w.bgrx.data(), CAIRO_FORMAT_RGB24, geometry.width,
                                                                   geometry.height, geometry.width * 4);
    cairo_translate(cr, at.x, at.y);
    cairo_scale(cr, static_cast<double>(at.width) / geometry.width, static_cast<double>(at.height) / geometry.height);
    cairo_set_source_surface(cr, surface, 0, 0);
    // Pixels stay whole pixels: a camera's frame is looked at, not smoothed.
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, geometry.width, geometry.height);
    cairo_fill(cr);
    cairo_surface_destroy(surface);
    return TRUE;
}

struct PictureSize {
    int width;
    int height;
};

// Room kept below the picture for the status line, and around the window
// for its frame and title bar.
constexpr int kStatusLineRoom = 32;
constexpr int kWindowFrameRoom = 48;

// The frame's size, scaled down with its proportions kept until the window
// fits the work area of the primary monitor (the screen less its panels), so
// that the status line is always on the screen.
PictureSize FitWorkArea(int width, int height) {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr && display != nullptr) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (monitor == nullptr) {
        return {width, height};
    }
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    const double roomWidth = std::max(1, area.width - kWindowFrameRoom);
    const double roomHeight = std::max(1, area.height - kWindowFrameRoom - kStatusLineRoom);
    const double scale = std::min({1.0, roomWidth / width, roomHeight / height});
    return {std::max(1, static_cast<int>(width * scale)), std::max(1, static_cast<int>(height * scale))};
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    Window& w = *static_cast<Window*>(data);
    switch (event->keyval) {
    case GDK_KEY_space:
        w.view.TogglePause();
        gtk_label_set_text(GTK_LABEL(w.status), w.view.StatusText().c_str());
        return TRUE;
    case GDK_KEY_s:
    case GDK_KEY_S:
        w.view.Save(w.shown);
        return TRUE;
    case GDK_KEY_q:
    case GDK_KEY_Q:
    case GDK_KEY_Escape:
        gtk_widget_destroy(w.window);
        return TRUE;
    default:
        return FALSE;
    }
}

gboolean OnTick(gpointer data) {
    Window& w = *static_cast<Window*>(data);
    if (w.closed) {
        return G_SOURCE_CONTINUE;
    }
    if (w.view.StopRequested()) {
        gtk_widget_destroy(w.window);
        return G_SOURCE_CONTINUE;
    }
    if (!w.sizeFreed && gtk_widget_get_mapped(w.window)) {
        // The picture opened at the frame's size; from now on the user may
        // make the window smaller too.
        gtk_widget_set_size_request(w.picture, 1, 1);
        w.sizeFreed = true;
    }
    if (w.view.TakeFrame(w.shown)) {
        ToBgrx(w.shown.geometry, w.shown.pixels.data(), w.bgrx);
        gtk_widget_queue_draw(w.picture);
    }
    if (++w.ticks % kStatusEveryTicks == 0) {
        gtk_label_set_text(GTK_LABEL(w.status), w.view.StatusText().c_str());
        w.view.Report();
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

bool CanShowWindow() {
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fputs("quorvex-view: cannot open a window: no display (is DISPLAY set?)\n", stderr);
        return false;
    }
    return true;
}

int RunViewWindow(ViewModel& view, const WindowPlan& plan) {
    if (!CanShowWindow()) {
        return kExitFailure;
    }
    Window w(view);
    w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(w.window), plan.title.c_str());
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    w.picture = gtk_drawing_area_new();
    const PictureSize first = FitWorkArea(plan.width, plan.height);
    gtk_widget_set_size_request(w.picture, first.width, first.height);
    gtk_widget_set_vexpand(w.picture, TRUE);
    w.status = gtk_label_new(view.StatusText().c_str());
    gtk_label_set_xalign(GTK_LABEL(w.status), 0);
    gtk_widget_set_margin_start(w.status, 6);
    gtk_widget_set_margin_top(w.status, 3);
    gtk_widget_set_margin_bottom(w.status, 3);
    gtk_box_pack_start(GTK_BOX(box), w.picture, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), w.status, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(w.window), box);

    g_signal_connect(w.picture, "draw", G_CALLBACK(OnDraw), &w);
    g_signal_connect(w.window, "key-press-event", G_CALLBACK(OnKey), &w);
    g_signal_connect(w.window, "destroy", G_CALLBACK(OnDestroy), &w);
    const guint timer = g_timeout_add(kTickMs, OnTick, &w);
    gtk_widget_show_all(w.window);
    gtk_main();
    g_source_remove(timer);
    return kExitOk;
}

}  // namespace tools
