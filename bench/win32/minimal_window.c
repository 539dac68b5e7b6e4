/* The floor that Windows itself sets: an empty 800 x 450 window with a one-item menu bar,
 * nothing else. */
#include <windows.h>

static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        ExitProcess(0);
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command, int show) {
    (void)previous;
    (void)command;
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = L"Minimal";
    RegisterClassW(&wc);
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_STRING, 1, L"Menu");
    RECT r = {0, 0, 800, 450};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&r, style, TRUE);
    HWND hwnd = CreateWindowW(L"Minimal", L"Minimal", style, CW_USEDEFAULT, CW_USEDEFAULT,
                              r.right - r.left, r.bottom - r.top, NULL, bar, instance, NULL);
    ShowWindow(hwnd, show);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}
