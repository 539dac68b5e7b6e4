#include <windows.h>

#include "system.h"
#include "win32_window.h"

namespace {

using sormio::systemFunction;

// Per-monitor scaling as the manifest declares it, for systems and loaders that read no
// manifest; nothing changes where the manifest already took effect.
void declareDpiAwareness() {
    const auto setContext =
        systemFunction<BOOL(WINAPI*)(HANDLE)>(L"user32.dll", "SetProcessDpiAwarenessContext");
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    if (setContext == nullptr || !setContext(perMonitorV2)) {
        SetProcessDPIAware();
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    declareDpiAwareness();
    static sormio::Win32Window window;  // lives until the program ends, which ends it at once
    if (!window.create(instance, show)) {
        MessageBoxW(nullptr, L"The window could not be created.", nullptr, MB_ICONERROR);
        return 1;
    }
    return sormio::runMessageLoop(window);
}
