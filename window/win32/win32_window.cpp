#include "win32_window.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "fonts.h"
#include "key_table.h"
#include "reader.h"
#include "resources.h"
#include "system.h"

namespace sormio {

namespace {

constexpr wchar_t kWindowClass[] = L"Frmsormio";
constexpr wchar_t kBarClass[] = L"SormioBar";

// Windows 10's per-monitor scale where the system has it, the system's otherwise.
UINT dpiOf(HWND window) {
    static const auto getDpi =
        systemFunction<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
    if (getDpi != nullptr) {
        return getDpi(window);
    }
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    return static_cast<UINT>(dpi);
}

// The screen's scale where a new window opens, before there is a window to ask (the window
// corrects it once it stands on its monitor).
UINT systemDpi() {
    static const auto forSystem = systemFunction<UINT(WINAPI*)()>(L"user32.dll", "GetDpiForSystem");
    if (forSystem != nullptr) {
        return forSystem();
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

RECT windowRectFor(int width, int height, DWORD style, UINT dpi) {
    RECT r{0, 0, width, height};
    static const auto adjust = systemFunction<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>(
        L"user32.dll", "AdjustWindowRectExForDpi");
    if (adjust != nullptr) {
        adjust(&r, style, TRUE, 0, dpi);
    } else {
        AdjustWindowRectEx(&r, style, TRUE, 0);
    }
    return r;
}

// A menu item's caption, its shortcut right-aligned after a tab.
std::wstring menuCaption(const MenuItem& item, std::string_view caption) {
    const std::string shortcut = item.shortcut();
    return wide(caption) + (shortcut.empty() ? L"" : L"\t" + wide(shortcut));
}

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

}  // namespace

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

Win32Window::Win32Window()
    : frmsormio_(*this),
      sound_({[this] { PostMessageW(hwnd_, kAudioOpened, 0, 0); },
              [this] { PostMessageW(hwnd_, kAudioFailed, 0, 0); }}) {}

Win32Window::~Win32Window() {
    for (HFONT font : fonts_) {
        DeleteObject(font);
    }
}

bool Win32Window::create(HINSTANCE instance, int show) {
    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.lpfnWndProc = &Win32Window::windowProc;
    window.hInstance = instance;
    window.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SORMIO));
    window.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_SORMIO),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), 0));
    window.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window.lpszClassName = kWindowClass;
    WNDCLASSEXW bar{};
    bar.cbSize = sizeof bar;
    bar.lpfnWndProc = &Win32Window::barProc;
    bar.hInstance = instance;
    bar.lpszClassName = kBarClass;
    if (RegisterClassExW(&window) == 0 || RegisterClassExW(&bar) == 0) {
        return false;
    }
    // Made at its final size and place, centred on the screen's work area, with the client
    // area at the description's size: nothing is laid out twice.
    const WindowDescription& description = windowDescription();
    dpi_ = systemDpi();
    const RECT frame = windowRectFor(scaled(description.clientWidth),
                                     scaled(description.clientHeight), kStyle, dpi_);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    hwnd_ = CreateWindowExW(0, kWindowClass, wide(description.caption).c_str(), kStyle,
                            work.left + (work.right - work.left - width) / 2,
                            work.top + (work.bottom - work.top - height) / 2, width, height,
                            nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) {
        return false;
    }
    alarm_.attach(hwnd_);
    buildMenu();
    buildControls();
    if (const UINT dpi = dpiOf(hwnd_); dpi != dpi_) {  // the system thought otherwise
        dpi_ = dpi;
        const RECT again = windowRectFor(scaled(description.clientWidth),
                                         scaled(description.clientHeight), kStyle, dpi_);
        SetWindowPos(hwnd_, nullptr, 0, 0, again.right - again.left, again.bottom - again.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    layOut();
    ShowWindow(hwnd_, SW_SHOW);  // the window visible (and active), as the game loads
    frmsormio_.Form_Load(Alarm::nowNs());
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    return true;
}

void Win32Window::buildMenu() {
    const Menu& menu = windowDescription().menu;
    HMENU bar = CreateMenu();
    mnuohjelma_ = CreatePopupMenu();
    std::vector<ACCEL> accelerators;
    for (std::size_t i = 0; i < menu.items.size(); ++i) {
        const MenuItem& item = menu.items[i];
        const auto id = static_cast<WORD>(IDM_FIRST + i);
        if (item.functionKey > 0) {
            accelerators.push_back(
                ACCEL{FVIRTKEY, static_cast<WORD>(VK_F1 + item.functionKey - 1), id});
        }
        AppendMenuW(mnuohjelma_, MF_STRING, id, menuCaption(item, item.caption).c_str());
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(mnuohjelma_), wide(menu.caption).c_str());
    SetMenu(hwnd_, bar);
    accelerators_ =
        CreateAcceleratorTableW(accelerators.data(), static_cast<int>(accelerators.size()));
}

void Win32Window::buildControls() {
    const WindowDescription& description = windowDescription();
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    labels_.resize(description.controls.size());
    for (std::size_t i = 0; i < description.controls.size(); ++i) {
        const Control& c = description.controls[i];
        if (c.kind == ControlKind::Bar) {
            picture1_ =
                CreateWindowExW(0, kBarClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0, hwnd_,
                                reinterpret_cast<HMENU>(INT_PTR{kBarId}), instance, this);
        } else if (c.kind == ControlKind::Label) {
            labels_[i] = {wide(c.caption), c.background, c.visible};
            if (c.name == "Lblpisteet") {
                score_ = i;
            }
        }
    }
}

RECT Win32Window::screenRect(const Rect& r) const {
    RECT out = scaledRect(r);
    MapWindowPoints(hwnd_, nullptr, reinterpret_cast<POINT*>(&out), 2);
    return out;
}

int Win32Window::scaled(int units) const {
    return static_cast<int>(std::lround(units * static_cast<double>(dpi_) / 96.0));
}

RECT Win32Window::scaledRect(const Rect& r) const {
    return {scaled(r.left), scaled(r.top), scaled(r.left + r.width), scaled(r.top + r.height)};
}

void Win32Window::layOut() {
    const WindowDescription& description = windowDescription();
    for (HFONT font : fonts_) {
        DeleteObject(font);
    }
    fonts_.assign(description.controls.size(), nullptr);
    for (std::size_t i = 0; i < description.controls.size(); ++i) {
        const Control& c = description.controls[i];
        RECT r = scaledRect(c.geometry);
        if (c.kind == ControlKind::Bar) {
            r.right = scaled(c.geometry.left + barWidth_);
        }
        if (c.kind == ControlKind::Bar) {
            SetWindowPos(picture1_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (c.font != nullptr) {
            const int height = static_cast<int>(std::lround(c.font->pixels() * dpi_ / 96.0));
            const CarriedFace& face = carried(c.font->face);
            fonts_[i] = CreateFontW(-height, 0, 0, 0, face.weight, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS,
                                    ANTIALIASED_QUALITY, DEFAULT_PITCH, face.family.c_str());
        }
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Window::invalidateLabel(std::size_t i) {
    const RECT r = scaledRect(windowDescription().controls[i].geometry);
    InvalidateRect(hwnd_, &r, FALSE);
}

void Win32Window::draw(unsigned changes) {
    const View& view = frmsormio_.view();
    bool barTookFocus = false;
    if ((changes & Change::Tiles) != 0) {
        for (int tile = 0; tile < KeyTable::kKeys; ++tile) {
            Label& label = labels_[tileLabel(tile)];
            const Rgb& background = view.tiles[static_cast<std::size_t>(tile)];
            if (label.background != background) {
                label.background = background;
                invalidateLabel(tileLabel(tile));
                accessibility_.tellTile(tile);
            }
        }
    }
    if ((changes & Change::Bar) != 0) {
        const Rect& drawn = windowDescription().control("Picture1").geometry;
        if (view.barWidth != barWidth_) {
            barWidth_ = view.barWidth;
            SetWindowPos(picture1_, nullptr, 0, 0,
                         scaled(drawn.left + barWidth_) - scaled(drawn.left),
                         scaled(drawn.top + drawn.height) - scaled(drawn.top),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        ShowWindow(picture1_, view.barShown ? SW_SHOWNA : SW_HIDE);
        EnableWindow(picture1_, view.barEnabled ? TRUE : FALSE);
        barTookFocus = moveFocusToMatchBar();
    }
    if ((changes & Change::Score) != 0) {
        Label& score = labels_[score_];
        score.text = wide(view.score);
        score.visible = view.scoreShown;
        invalidateLabel(score_);
        accessibility_.tellScore();
    }
    if ((changes & Change::SoundItem) != 0) {
        const auto& items = windowDescription().menu.items;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].command == Command::Sound) {
                ModifyMenuW(mnuohjelma_, static_cast<UINT>(IDM_FIRST + i), MF_BYCOMMAND | MF_STRING,
                            static_cast<UINT>(IDM_FIRST + i),
                            menuCaption(items[i], view.soundCaption).c_str());
            }
        }
    }
    if ((changes & Change::Turn) != 0) {
        // The bar, named by the key to press, holds the focus: told again at every turn (a
        // focus that has just moved there is told by the system itself).
        SetWindowTextW(picture1_, wide(frmsormio_.telling().key).c_str());
        accessibility_.tellTurn(!barTookFocus);
    }
    if ((changes & Change::Ending) != 0) {
        // Told by the focus, which the window has taken back from the hidden bar by now.
        accessibility_.tellEnding();
    }
}

void Win32Window::wakeAt(std::int64_t atNs) {
    alarm_.set(atNs == Platform::kNever ? Alarm::kOff : atNs);
}

void Win32Window::ringBell() {
    MessageBeep(MB_OK);  // never waits: the system plays it on its own
}

ReaderFocus Win32Window::readerFocus() const {
    return {.tiles = false};  // they are parts of the window, not controls of their own
}

void Win32Window::quit() {
    // Nothing is stored: the device is closed, and the program ends there and then.
    sound_.close();
    ExitProcess(0);
}

bool Win32Window::barTakesKeys() const {
    return IsWindowVisible(picture1_) != FALSE && IsWindowEnabled(picture1_) != FALSE;
}

bool Win32Window::moveFocusToMatchBar() {
    if (barTakesKeys()) {
        if (GetActiveWindow() == hwnd_ && GetFocus() != picture1_) {
            SetFocus(picture1_);
            return true;
        }
    } else if (GetFocus() == picture1_) {
        SetFocus(hwnd_);
    }
    return false;
}

}  // namespace sormio
