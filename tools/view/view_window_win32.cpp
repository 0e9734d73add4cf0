// quorvex-view's window with Win32 and GDI: the picture drawn with
// StretchDIBits, the status line under it, fed from a timer on the window's
// thread.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include "display_image.h"
#include "exit_codes.h"
#include "view_window.h"

namespace tools {
namespace {

constexpr char kWindowClass[] = "QuorvexView";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTickMs = 20;
constexpr int kStatusEveryTicks = 10;
constexpr int kStatusHeight = 22;
constexpr int kStatusMargin = 6;
// Wide enough for the whole status line under a narrow picture.
constexpr int kLeastWidth = 600;
constexpr COLORREF kBackground = RGB(38, 38, 38);

struct GdiObjectTraits {
    using Pointer = HGDIOBJ;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer object) noexcept { DeleteObject(object); }
};
using UniqueGdiObject = platform::UniqueHandle<GdiObjectTraits>;

struct MemoryDcTraits {
    using Pointer = HDC;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer dc) noexcept { DeleteDC(dc); }
};
using UniqueMemoryDc = platform::UniqueHandle<MemoryDcTraits>;

// Everything the window procedure reaches, through the window's user data.
// The window's thread only.
struct Window {
    explicit Window(ViewModel& shownView) : view(shownView) {}

    ViewModel& view;
    Image shown;
    std::vector<uint8_t> bgrx;
    std::string status;
    int ticks = 0;
};

void Paint(HWND hwnd, Window& w) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(hwnd, &paint);
    RECT client;
    GetClientRect(hwnd, &client);
    const int width = client.right;
    const int height = client.bottom;
    // Drawn off screen and copied in one go, so that the picture never
    // flickers through the background.
    const UniqueMemoryDc memoryDc(CreateCompatibleDC(dc));
    const HDC memory = memoryDc.get();
    const UniqueGdiObject bitmap(CreateCompatibleBitmap(dc, width, height));
    const HGDIOBJ before = SelectObject(memory, bitmap.get());

    const int pictureHeight = height > kStatusHeight ? height - kStatusHeight : 0;
    const RECT picture{0, 0, width, pictureHeight};
    const UniqueGdiObject dark(CreateSolidBrush(kBackground));
    FillRect(memory, &picture, static_cast<HBRUSH>(dark.get()));
    const FrameGeometry& geometry = w.shown.geometry;
    if (!w.bgrx.empty()) {
        const Placement at = FitInside(geometry.width, geometry.height, width, pictureHeight);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = geometry.width;
        info.bmiHeader.biHeight = -geometry.height;  // rows from the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        // Pixels stay whole pixels: a camera's frame is looked at, not
        // smoothed.
        SetStretchBltMode(memory, COLORONCOLOR);
        StretchDIBits(memory, at.x, at.y, at.width, at.height, 0, 0, geometry.width, geometry.height, w.bgrx.data(),
                      &info, DIB_RGB_COLORS, SRCCOPY);
    }
    RECT strip{0, pictureHeight, width, height};
    FillRect(memory, &strip, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, GetSysColor(COLOR_BTNTEXT));
    const HGDIOBJ font = SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
    strip.left += kStatusMargin;
    // The status is UTF-8, the share's name in it too.
    wchar_t status[1024] = {};
    MultiByteToWideChar(CP_UTF8, 0, w.status.c_str(), -1, status, static_cast<int>(std::size(status)) - 1);
    DrawTextW(memory, status, -1, &strip, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(memory, font);

    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, before);
    EndPaint(hwnd, &paint);
}

void Tick(HWND hwnd, Window& w) {
    if (w.view.StopRequested()) {
        DestroyWindow(hwnd);
        return;
    }
    bool redraw = false;
    if (w.view.TakeFrame(w.shown)) {
        ToBgrx(w.shown.geometry, w.shown.pixels.data(), w.bgrx);
        redraw = true;
    }
    if (++w.ticks % kStatusEveryTicks == 0) {
        w.status = w.view.StatusText();
        w.view.Report();
        redraw = true;
    }
    if (redraw) {
        InvalidateRect(hwnd, nullptr, FALSE);
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* w = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (w == nullptr) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    switch (message) {
    case WM_PAINT:
        Paint(hwnd, *w);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel
    case WM_SIZE:
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_TIMER:
        Tick(hwnd, *w);
        return 0;
    case WM_CHAR:
        if (wParam == ' ') {
            w->view.TogglePause();
            w->status = w->view.StatusText();
            InvalidateRect(hwnd, nullptr, FALSE);
        } else if (wParam == 's' || wParam == 'S') {
            w->view.Save(w->shown);
        } else if (wParam == 'q' || wParam == 'Q') {
            DestroyWindow(hwnd);
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            DestroyWindow(hwnd);
            return 0;
        }
        break;
    case WM_DESTROY:
        KillTimer(hwnd, kTimerId);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The window's outer size: its client area holds the picture at the frame's
// size and the status strip under it, the picture shrunk with its proportions
// kept until the window fits the work area (the screen less the task bar), so
// that the status line is always on the screen.
RECT FittedWindowBounds(const WindowPlan& plan) {
    RECT frame{0, 0, 0, 0};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    int width = plan.width;
    int height = plan.height;
    RECT work{};
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
        const int roomWidth = (work.right - work.left) - (frame.right - frame.left);
        const int roomHeight = (work.bottom - work.top) - (frame.bottom - frame.top) - kStatusHeight;
        if (width > roomWidth || height > roomHeight) {
            const Placement fitted = FitInside(width, height, roomWidth, roomHeight);
            if (fitted.width > 0) {
                width = fitted.width;
                height = fitted.height;
            }
        }
    }
    RECT bounds{0, 0, std::max(width, kLeastWidth), height + kStatusHeight};
    AdjustWindowRect(&bounds, WS_OVERLAPPEDWINDOW, FALSE);
    return bounds;
}

}  // namespace

bool CanShowWindow() {
    // Windows always has its desktop.
    return true;
}

int RunViewWindow(ViewModel& view, const WindowPlan& plan) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassA(&windowClass) == 0) {
        std::fprintf(stderr, "quorvex-view: cannot register the window class %s\n",
                     platform::SystemErrorNote(GetLastError()).c_str());
        return kExitFailure;
    }
    Window w(view);
    w.status = view.StatusText();
    const RECT bounds = FittedWindowBounds(plan);
    const HWND hwnd =
        CreateWindowA(kWindowClass, plan.title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr, nullptr, instance, &w);
    if (hwnd == nullptr) {
        std::fprintf(stderr, "quorvex-view: cannot open a window %s\n",
                     platform::SystemErrorNote(GetLastError()).c_str());
        return kExitFailure;
    }
    SetTimer(hwnd, kTimerId, kTickMs, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return kExitOk;
}

}  // namespace tools
