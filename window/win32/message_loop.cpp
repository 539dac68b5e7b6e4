#include "resources.h"
#include "win32_window.h"

namespace sormio {

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self != nullptr ? self->handle(message, wparam, lparam)
                           : DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT Win32Window::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND: {
            const auto& items = windowDescription().menu.items;
            if (const std::size_t i = LOWORD(wparam) - IDM_FIRST; i < items.size()) {
                frmsormio_.command(items[i].command, Alarm::nowNs());
                return 0;
            }
            break;
        }
        case WM_TIMER:
            if (wparam == Alarm::kTimerId) {
                // While a menu or a move runs its own loop, the alarm comes this way.
                if (std::int64_t now = 0; alarm_.due(now)) {
                    frmsormio_.wake(now);
                }
                return 0;
            }
            break;
        case kAudioOpened:
            frmsormio_.audioOpened();
            return 0;
        case kAudioFailed:
            frmsormio_.audioLost(0);
            return 0;
        case WM_GETOBJECT:
            if (const LRESULT answer = accessibility_.answer(hwnd_, wparam, lparam)) {
                return answer;
            }
            break;
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
        case WM_CLOSE:
            quit();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK Win32Window::barProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(
            hwnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_CHAR:
            // Characters as typed: dead keys composed by the system, an input method's text
            // committed; one outside the basic plane arrives as two of these.
            self->frmsormio_.unit(static_cast<char16_t>(wparam), Alarm::nowNs());
            return 0;
        case WM_DEADCHAR:
            return 0;  // a dead key alone does nothing
        case WM_GETDLGCODE:
            return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
        case WM_GETOBJECT:
            if (const LRESULT answer = self->accessibility_.answer(hwnd, wparam, lparam)) {
                return answer;
            }
            return DefWindowProcW(hwnd, message, wparam, lparam);
        case WM_PAINT:
            self->paintBar(hwnd);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

int runMessageLoop(Win32Window& window, const std::function<bool()>& done) {
    for (;;) {
        HANDLE alarm = window.alarm().waitable();
        const DWORD woke = MsgWaitForMultipleObjectsEx(alarm != nullptr ? 1 : 0, &alarm, INFINITE,
                                                       QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (alarm != nullptr && woke == WAIT_OBJECT_0) {
            if (std::int64_t now = 0; window.alarm().due(now)) {
                window.frmsormio().wake(now);
            }
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
