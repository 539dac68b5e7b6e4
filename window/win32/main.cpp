#include <windows.h>

#include "frmsormio.h"

namespace {

// Per-monitor scaling as the manifest declares it, for systems and loaders that read no
// manifest; nothing changes where the manifest already took effect.
void declareDpiAwareness() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32"), "SetProcessDpiAwarenessContext")));
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    if (setContext == nullptr || !setContext(perMonitorV2)) {
        SetProcessDPIAware();
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    declareDpiAwareness();
    static sormio::Frmsormio window;  // lives until the program ends, which ends it at once
    if (!window.create(instance, show)) {
        MessageBoxW(nullptr, L"The window could not be created.", nullptr, MB_ICONERROR);
        return 1;
    }
    // One thread, one loop: messages, and during a turn the countdown's timer, each handled to
    // completion before the next is taken.
    for (;;) {
        HANDLE countdown = window.countdown().waitable();
        const DWORD woke = MsgWaitForMultipleObjectsEx(countdown != nullptr ? 1 : 0, &countdown,
                                                       INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (countdown != nullptr && woke == WAIT_OBJECT_0) {
            window.countdown().settle();
            continue;
        }
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
}
