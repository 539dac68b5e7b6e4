#include "frmsormio.h"

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
constexpr int kFirstControlId = 100;

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

COLORREF colorRef(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

void fill(HDC dc, const RECT& r, Rgb colour) {
    SetBkColor(dc, colorRef(colour));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

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

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

}  // namespace

Frmsormio::Frmsormio()
    : game_(*this),
      pressKey_([this](std::uint8_t code) {
          if (barTakesKeys()) {
              std::int16_t keyascii = code;
              game_.picture1_KeyPress(keyascii);
          }
      }),
      tmr2_(
          std::chrono::milliseconds(windowDescription().control("Tmr2").periodMs),
          [this](std::int64_t n) { game_.samplerTicks(n); }, &Ticker::nowNs),
      tmr1_(windowDescription().control("Tmr1").periodMs, [this] {
          game_.Tmr1_Timer();
          tellIfGameEnded();
      }) {}

Frmsormio::~Frmsormio() {
    for (HFONT font : fonts_) {
        DeleteObject(font);
    }
}

bool Frmsormio::create(HINSTANCE instance, int show) {
    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.lpfnWndProc = &Frmsormio::windowProc;
    window.hInstance = instance;
    window.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SORMIO));
    window.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_SORMIO),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), 0));
    window.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window.lpszClassName = kWindowClass;
    WNDCLASSEXW bar{};
    bar.cbSize = sizeof bar;
    bar.lpfnWndProc = &Frmsormio::barProc;
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
    tmr1_.attach(hwnd_);
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
    tmr2_.start();
    Form_Load();
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    return true;
}

void Frmsormio::buildMenu() {
    const Menu& menu = windowDescription().menu;
    HMENU bar = CreateMenu();
    mnuohjelma_ = CreatePopupMenu();
    std::vector<ACCEL> accelerators;
    for (const MenuItem& item : menu.items) {
        const UINT id = item.command == Command::Start   ? IDM_START
                        : item.command == Command::Sound ? IDM_SOUND
                                                         : IDM_QUIT;
        std::wstring caption = wide(item.caption);
        if (item.shortcut != Shortcut::None) {
            const bool f1 = item.shortcut == Shortcut::F1;
            caption += f1 ? L"\tF1" : L"\tF3";
            accelerators.push_back(
                ACCEL{FVIRTKEY, static_cast<WORD>(f1 ? VK_F1 : VK_F3), static_cast<WORD>(id)});
        }
        AppendMenuW(mnuohjelma_, MF_STRING, id, caption.c_str());
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(mnuohjelma_), wide(menu.caption).c_str());
    SetMenu(hwnd_, bar);
    accelerators_ =
        CreateAcceleratorTableW(accelerators.data(), static_cast<int>(accelerators.size()));
}

void Frmsormio::buildControls() {
    const WindowDescription& description = windowDescription();
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    labels_.resize(description.controls.size());
    for (std::size_t i = 0; i < description.controls.size(); ++i) {
        const Control& c = description.controls[i];
        if (c.kind == ControlKind::Bar) {
            picture1_ = CreateWindowExW(
                0, kBarClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0, hwnd_,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance, this);
        } else if (c.kind == ControlKind::Label) {
            labels_[i] = {wide(c.caption), c.background, c.visible, nullptr};
            if (c.name == "Lblpisteet") {
                score_ = i;
            }
        }
    }
    annotate();
}

void Frmsormio::showLabelControls() {
    // Static controls, so that a screen reader reads each by its text; the window draws them
    // all the same. Without a screen reader none is made: they would only slow the start.
    const WindowDescription& description = windowDescription();
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    HWND credit = nullptr;
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        Label& label = labels_[i];
        if (description.controls[i].kind != ControlKind::Label || label.control != nullptr) {
            continue;
        }
        const RECT r = scaledRect(description.controls[i].geometry);
        label.control = CreateWindowExW(
            0, L"STATIC", label.text.c_str(),
            WS_CHILD | WS_CLIPSIBLINGS | SS_OWNERDRAW | (label.visible ? WS_VISIBLE : 0), r.left,
            r.top, r.right - r.left, r.bottom - r.top, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance, nullptr);
        // Later controls lie on top of earlier ones.
        SetWindowPos(label.control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (description.controls[i].name == "Label1") {
            credit = label.control;
        }
    }
    // The credit line overlaps the title's last nine rows and must stay readable over it.
    SetWindowPos(credit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Frmsormio::annotate() {
    if (!annotations_.active()) {
        return;
    }
    showLabelControls();
    annotations_.markAsProgressBar(picture1_);
    annotations_.describe(labels_[score_].control, wide(texts().points));
    for (int tile = 0; tile < KeyTable::kKeys; ++tile) {
        const Label& label = labels_[tileLabel(tile)];
        annotations_.describe(label.control, wide(reader::tileState(label.background)));
    }
}

int Frmsormio::scaled(int units) const {
    return static_cast<int>(std::lround(units * static_cast<double>(dpi_) / 96.0));
}

RECT Frmsormio::scaledRect(const Rect& r) const {
    return {scaled(r.left), scaled(r.top), scaled(r.left + r.width), scaled(r.top + r.height)};
}

void Frmsormio::layOut() {
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
        HWND control = c.kind == ControlKind::Bar ? picture1_ : labels_[i].control;
        if (control != nullptr) {
            SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
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

void Frmsormio::invalidateLabel(std::size_t i) {
    if (labels_[i].control != nullptr) {
        InvalidateRect(labels_[i].control, nullptr, FALSE);
    } else {
        const RECT r = scaledRect(windowDescription().controls[i].geometry);
        InvalidateRect(hwnd_, &r, FALSE);
    }
}

void Frmsormio::paintWindow() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // Drawn off screen and shown at once: no label is seen half drawn.
    const RECT& area = ps.rcPaint;
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right - area.left, area.bottom - area.top);
    HGDIOBJ previous = SelectObject(buffer, bitmap);
    SetViewportOrgEx(buffer, -area.left, -area.top, nullptr);
    const WindowDescription& description = windowDescription();
    fill(buffer, area, description.background);
    std::size_t credit = labels_.size();
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        const RECT r = scaledRect(description.controls[i].geometry);
        if (!RectVisible(dc, &r)) {
            continue;  // outside what needs painting: a turn repaints two tiles, not all
        }
        if (description.controls[i].name == "Label1") {
            credit = i;  // drawn last, over the title
        } else {
            paintLabel(buffer, i, area);
        }
    }
    if (credit < labels_.size()) {
        paintLabel(buffer, credit, area);
    }
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, buffer,
           area.left, area.top, SRCCOPY);
    SelectObject(buffer, previous);
    DeleteObject(bitmap);
    DeleteDC(buffer);
    EndPaint(hwnd_, &ps);
}

void Frmsormio::paintLabel(HDC dc, std::size_t i, const RECT& area) {
    const Label& label = labels_[i];
    const RECT r = scaledRect(windowDescription().controls[i].geometry);
    RECT overlap;
    if (label.control != nullptr || !label.visible || !IntersectRect(&overlap, &r, &area)) {
        return;
    }
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    SetViewportOrgEx(dc, r.left - area.left, r.top - area.top, nullptr);
    drawLabel(dc, i, RECT{0, 0, r.right - r.left, r.bottom - r.top});
    RestoreDC(dc, saved);
}

void Frmsormio::drawLabel(HDC dc, std::size_t i, const RECT& all) {
    const WindowDescription& description = windowDescription();
    const Control& c = description.controls[i];
    const Label& label = labels_[i];
    fill(dc, all, label.background);
    if (c.border) {
        // Lines on whole device pixels, one scale unit thick, where the neighbours' lie too.
        const int line = std::max(1, static_cast<int>(dpi_ / 96));
        const int x0 = scaled(c.geometry.left), y0 = scaled(c.geometry.top);
        const int left = 0, top = 0;
        const int right = scaled(c.geometry.left + c.geometry.width - 1) - x0;
        const int bottom = scaled(c.geometry.top + c.geometry.height - 1) - y0;
        for (const RECT& edge : {RECT{left, top, right + line, top + line},
                                 RECT{left, bottom, right + line, bottom + line},
                                 RECT{left, top, left + line, bottom + line},
                                 RECT{right, top, right + line, bottom + line}}) {
            fill(dc, edge, description.tileBorder);
        }
    }
    HGDIOBJ old = SelectObject(dc, fonts_[i]);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colorRef(c.text));
    // Centred across on the text's width, and down on the face's own ascent and descent.
    const CarriedFace& face = carried(c.font->face);
    const double pixels = c.font->pixels() * dpi_ / 96.0;
    SIZE extent{};
    GetTextExtentPoint32W(dc, label.text.c_str(), static_cast<int>(label.text.size()), &extent);
    const auto x = static_cast<int>(std::lround((all.right - all.left - extent.cx) / 2.0));
    const auto baseline = static_cast<int>(std::lround(
        (all.bottom - all.top - (face.ascent + face.descent) * pixels) / 2 + face.ascent * pixels));
    SetTextAlign(dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    TextOutW(dc, all.left + x, all.top + baseline, label.text.c_str(),
             static_cast<int>(label.text.size()));
    SelectObject(dc, old);
}

void Frmsormio::Form_Load() {
    ShowWindow(hwnd_, SW_SHOW);
    setBarShown(false);
    setBarEnabled(false);
}

void Frmsormio::mnustart_Click() {
    sound_.start();  // the first game opens the audio device, off this thread
    sound_.drop();   // what is left of the last game's tones would only delay this one's
    tmr2_.settle();
    keyEntry_.forget();  // a dead key or half a character before Start is not this game's
    told_ = false;
    game_.mnustart_Click();
}

void Frmsormio::mnusound_Click() {
    const std::wstring caption = wide(toggleSound(game_.state)) + L"\tF3";
    ModifyMenuW(mnuohjelma_, IDM_SOUND, MF_BYCOMMAND | MF_STRING, IDM_SOUND, caption.c_str());
}

void Frmsormio::mnuquit_Click() {
    end();
}

void Frmsormio::end() {
    // Nothing is stored: the device is closed, and the program ends there and then.
    sound_.close();
    ExitProcess(0);
}

void Frmsormio::picture1_Char(char16_t unit) {
    tmr2_.settle();
    keyEntry_.unit(unit, pressKey_);
    tellIfGameEnded();
}

void Frmsormio::tellIfGameEnded() {
    if (barTakesKeys() || told_) {
        return;
    }
    told_ = true;
    // On the window, which holds the focus from now on: read with it, and told at once.
    annotations_.describe(hwnd_, wide(reader::ending(game_.state)));
}

void Frmsormio::paintTile(int tile, TileColour colour) {
    const Rgb rgb = rgbOf(colour);
    const std::size_t i = tileLabel(tile);
    if (!(labels_[i].background == rgb)) {
        labels_[i].background = rgb;
        invalidateLabel(i);
        if (labels_[i].control != nullptr) {
            annotations_.describe(labels_[i].control, wide(reader::tileState(rgb)));
        }
    }
    if (colour == TileColour::Red) {
        // A new turn: the bar, named by the key to press, holds the focus; its new name is what
        // a screen reader speaks. Told even when the key is the same again.
        SetWindowTextW(picture1_, wide(reader::barName(game_.state)).c_str());
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, picture1_, OBJID_CLIENT, CHILDID_SELF);
    }
}

void Frmsormio::setBarWidth(float px) {
    const Rect& drawn = windowDescription().control("Picture1").geometry;
    const int width = barPixels(px);
    if (width == barWidth_) {
        return;
    }
    barWidth_ = width;
    SetWindowPos(picture1_, nullptr, 0, 0, scaled(drawn.left + width) - scaled(drawn.left),
                 scaled(drawn.top + drawn.height) - scaled(drawn.top),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Frmsormio::setBarShown(bool on) {
    ShowWindow(picture1_, on ? SW_SHOWNA : SW_HIDE);
    moveFocusToMatchBar();
}

void Frmsormio::setBarEnabled(bool on) {
    EnableWindow(picture1_, on ? TRUE : FALSE);
    moveFocusToMatchBar();
}

bool Frmsormio::barTakesKeys() const {
    return IsWindowVisible(picture1_) != FALSE && IsWindowEnabled(picture1_) != FALSE;
}

void Frmsormio::moveFocusToMatchBar() {
    if (barTakesKeys()) {
        if (GetActiveWindow() == hwnd_) {
            SetFocus(picture1_);
        }
    } else if (GetFocus() == picture1_) {
        keyEntry_.forget();
        SetFocus(hwnd_);
    }
}

void Frmsormio::setCountdown(bool on) {
    if (on) {
        tmr1_.start();
    } else {
        tmr1_.stop();
    }
}

void Frmsormio::setScoreCaption(const std::string& text) {
    Label& score = labels_[score_];
    score.text = wide(text);
    if (score.control != nullptr) {
        SetWindowTextW(score.control, score.text.c_str());
    }
    invalidateLabel(score_);
}

void Frmsormio::showScore() {
    Label& score = labels_[score_];
    if (!score.visible) {
        score.visible = true;
        if (score.control != nullptr) {
            ShowWindow(score.control, SW_SHOWNA);
        }
        invalidateLabel(score_);
    }
}

void Frmsormio::beep() {
    if (!sound_.beep()) {
        MessageBeep(MB_OK);  // never waits: the system plays it on its own
    }
}

void Frmsormio::paintBar(HWND bar) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(bar, &ps);
    fill(dc, ps.rcPaint, windowDescription().barColour);
    EndPaint(bar, &ps);
}

LRESULT CALLBACK Frmsormio::windowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Frmsormio*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Frmsormio*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self != nullptr ? self->handle(message, wparam, lparam)
                           : DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT Frmsormio::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDM_START:
                    mnustart_Click();
                    return 0;
                case IDM_SOUND:
                    mnusound_Click();
                    return 0;
                case IDM_QUIT:
                    mnuquit_Click();
                    return 0;
                default:
                    break;
            }
            break;
        case WM_TIMER:
            if (wparam == Ticker::kTimerId) {
                tmr1_.settle();  // the ticks that fell due while a menu or a move ran its loop
                return 0;
            }
            break;
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
            if (item.CtlID >= kFirstControlId && item.CtlID - kFirstControlId < labels_.size()) {
                drawLabel(item.hDC, item.CtlID - kFirstControlId, item.rcItem);
            }
            return TRUE;
        }
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers every pixel
        case WM_PAINT:
            paintWindow();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wparam) != WA_INACTIVE) {
                SetFocus(barTakesKeys() ? picture1_ : hwnd_);
                return 0;
            }
            break;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wparam);
            const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            layOut();
            return 0;
        }
        case WM_SETTINGCHANGE:
            if (wparam == SPI_SETSCREENREADER) {
                annotate();  // a screen reader started: it finds the game's state at once
            }
            break;
        case WM_CLOSE:
            end();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK Frmsormio::barProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(
            hwnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Frmsormio*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_CHAR:
            // Characters as typed: dead keys composed by the system, an input method's text
            // committed; one outside the basic plane arrives as two of these.
            self->picture1_Char(static_cast<char16_t>(wparam));
            return 0;
        case WM_DEADCHAR:
            return 0;  // a dead key alone does nothing
        case WM_GETDLGCODE:
            return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
        case WM_PAINT:
            self->paintBar(hwnd);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

int runMessageLoop(Frmsormio& window, const std::function<bool()>& done) {
    for (;;) {
        HANDLE countdown = window.countdown().waitable();
        const DWORD woke = MsgWaitForMultipleObjectsEx(countdown != nullptr ? 1 : 0, &countdown,
                                                       INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (countdown != nullptr && woke == WAIT_OBJECT_0) {
            window.countdown().settle();
        } else {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    return static_cast<int>(msg.wParam);
                }
                if (!TranslateAcceleratorW(window.hwnd(), window.accelerators(), &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
        if (done && done()) {
            return 0;
        }
    }
}

}  // namespace sormio
