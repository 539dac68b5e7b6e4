// The Windows window's own figures, run under Wine by tools/bench: the countdown's pace (turns
// of 600, 300 and 3 px against 10 ms a tick) and the CPU a hit costs (the character message,
// the check, the next turn and the repaint).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "key_table.h"
#include "win32_window.h"

namespace {

// Stamps the last tick: each takes 3 px off the bar, which the window is then asked to draw.
struct TimedWindow : sormio::Win32Window {
    std::int64_t lastTick = 0;
    void draw(unsigned changes) override {
        if ((changes & sormio::Change::Bar) != 0) {
            lastTick = sormio::Alarm::nowNs();
        }
        sormio::Win32Window::draw(changes);
    }
};

double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](FILETIME t) {
        return static_cast<double>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int main() {
    TimedWindow window;
    if (!window.create(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE)) {
        return 1;
    }
    window.frmsormio().mnusound_Click();  // sounds off
    for (const auto& [width, repeats] : {std::pair{600, 5}, std::pair{300, 5}, std::pair{3, 50}}) {
        std::vector<double> errors;
        for (int r = 0; r < repeats; ++r) {
            window.frmsormio().mnustart_Click(sormio::Alarm::nowNs());
            const std::int64_t started = sormio::Alarm::nowNs();
            window.frmsormio().apply(started, [width](sormio::Game& g) {
                g.state.startwidth = width;
                g.paaohjelma();
            });
            sormio::runMessageLoop(window, [&] { return !window.frmsormio().countdownRunning(); });
            const double took = static_cast<double>(window.lastTick - started) / 1e6;
            const int ticks = width / 3;
            errors.push_back(100.0 * (took - ticks * 10.0) / (ticks * 10.0));
        }
        std::sort(errors.begin(), errors.end());
        std::printf("turn_%d_px_error_pct_median %.2f\nturn_%d_px_error_pct_max %.2f\n", width,
                    errors[errors.size() / 2], width,
                    std::max(std::abs(errors.front()), std::abs(errors.back())));
    }
    // Hits through the bar's character messages, each repainted before the next.
    const int hits = 2100;
    // Games of 150 hits, each hit repainted before the next: no bar gets short enough for a
    // tick to fall into the measurement, and Start between them stays off the clock.
    double cpu = 0;
    long long score = 0;
    for (int done = 0; done < hits; done += 150) {
        window.frmsormio().mnustart_Click(sormio::Alarm::nowNs());
        const double before = processCpuSeconds();
        for (int i = 0; i < 150; ++i) {
            const int key =
                sormio::KeyTable::keyOfValue(window.frmsormio().game().state.target).value_or(0);
            SendMessageW(GetFocus(), WM_CHAR,
                         static_cast<WPARAM>(sormio::KeyTable::charCodeOfKey(key)), 0);
            RedrawWindow(window.hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        }
        cpu += processCpuSeconds() - before;
        score += window.frmsormio().game().state.score;
    }
    std::printf("cpu_us_per_hit %.2f\nscore %lld\n", cpu * 1e6 / (hits / 150 * 150), score);
    return 0;
}
