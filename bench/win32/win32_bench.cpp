// The Windows window's own figures, run under Wine by tools/bench: the countdown's pace (turns
// of 600, 300 and 3 px against 10 ms a tick) and the CPU a hit costs (the character message,
// the check, the next turn and the repaint).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "frmsormio.h"
#include "key_table.h"

namespace {

// Stamps the countdown's start and the tick that empties the bar.
struct TimedWindow : sormio::Frmsormio {
    std::int64_t started = 0;
    std::int64_t lastTick = 0;
    void setCountdown(bool on) override {
        sormio::Frmsormio::setCountdown(on);
        if (on) {
            started = sormio::Ticker::nowNs();
        }
    }
    void setBarWidth(float px) override {
        lastTick = sormio::Ticker::nowNs();
        sormio::Frmsormio::setBarWidth(px);
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
    window.game().state.soundoff = 1;
    for (const auto& [width, repeats] : {std::pair{600, 5}, std::pair{300, 5}, std::pair{3, 50}}) {
        std::vector<double> errors;
        for (int r = 0; r < repeats; ++r) {
            window.mnustart_Click();
            window.game().state.startwidth = width;
            window.game().paaohjelma();
            sormio::runMessageLoop(window, [&] { return !window.countdown().isActive(); });
            const double took = static_cast<double>(window.lastTick - window.started) / 1e6;
            const int ticks = width / 3;
            errors.push_back(100.0 * (took - ticks * 10.0) / (ticks * 10.0));
        }
        std::sort(errors.begin(), errors.end());
        std::printf("turn_%d_px_error_pct_median %.2f\nturn_%d_px_error_pct_max %.2f\n", width,
                    errors[errors.size() / 2], width,
                    std::max(std::abs(errors.front()), std::abs(errors.back())));
    }
    // Hits through the bar's character messages, each repainted before the next.
    const int hits = 2000;
    window.mnustart_Click();
    const double cpu = processCpuSeconds();
    for (int i = 0; i < hits; ++i) {
        const int key = sormio::KeyTable::keyOfValue(window.game().state.target).value_or(0);
        window.game().state.startwidth = 600;  // long turns: no tick falls into the measurement
        SendMessageW(GetFocus(), WM_CHAR, static_cast<WPARAM>(sormio::KeyTable::charCodeOfKey(key)),
                     0);
        RedrawWindow(window.hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        window.game().Tmr2_Timer();
    }
    std::printf("cpu_us_per_hit %.2f\nscore %lld\n", (processCpuSeconds() - cpu) * 1e6 / hits,
                static_cast<long long>(window.game().state.score));
    return 0;
}
