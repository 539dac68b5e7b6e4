// The countdown's real pace: turns of 600, 300 and 3 px against 10 ms a tick, and the
// intervals between ticks, on an idle machine and with one other core kept busy.
//
//   pace_bench [busy]
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "test_window.h"

namespace {

using Clock = std::chrono::steady_clock;

// Stamps every tick: each takes 3 px off the bar, which the window is then asked to draw.
struct TimedWindow : sormio::testing::QuietWindow {
    std::vector<std::chrono::steady_clock::time_point> ticks;
    bool recording = false;
    void draw(unsigned changes) override {
        if (recording && (changes & sormio::Change::Bar) != 0) {
            ticks.push_back(std::chrono::steady_clock::now());
        }
        sormio::QtWindow::draw(changes);
    }
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    const bool busy = argc > 1 && std::strcmp(argv[1], "busy") == 0;
    QApplication app(argc, argv);
    TimedWindow window;
    (void)QTest::qWaitForWindowExposed(&window);

    // The other core's load: a bounded spin, started and stopped here.
    std::atomic<bool> stop{false};
    std::thread spinner;
    if (busy) {
        spinner = std::thread([&] {
            const auto until = Clock::now() + std::chrono::minutes(2);
            volatile unsigned long long x = 0;
            while (!stop.load(std::memory_order_relaxed) && Clock::now() < until) {
                x = x + 1;
            }
        });
    }

    const int period = sormio::windowDescription().control("Tmr1").periodMs;
    std::vector<double> intervals;
    for (const auto& [width, repeats] : {std::pair{600, 5}, std::pair{300, 5}, std::pair{3, 50}}) {
        std::vector<double> errors;
        for (int r = 0; r < repeats; ++r) {
            window.frmsormio().mnustart_Click(window.now());
            const Clock::time_point started = Clock::now();
            window.recording = true;
            window.frmsormio().apply(
                std::chrono::duration_cast<std::chrono::nanoseconds>(started.time_since_epoch())
                    .count(),
                [width](sormio::Game& g) {
                    g.state.startwidth = width;
                    g.paaohjelma();
                });
            window.ticks.clear();  // the new turn's own bar, drawn at its start
            while (window.frmsormio().countdownRunning()) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            window.recording = false;
            // From the countdown's start to the tick that empties the bar.
            const double took =
                std::chrono::duration<double, std::milli>(window.ticks.back() - started).count();
            const int ticks = width / 3;
            errors.push_back(100.0 * (took - ticks * period) / (ticks * period));
            Clock::time_point previous = started;
            for (const Clock::time_point tick : window.ticks) {
                intervals.push_back(
                    std::chrono::duration<double, std::milli>(tick - previous).count());
                previous = tick;
            }
            std::printf("turn_%d_px_ms %.2f\n", width, took);
        }
        std::printf("turn_%d_px_error_pct_median %.2f\nturn_%d_px_error_pct_max %.2f\n", width,
                    percentile(errors, 0.5), width,
                    *std::max_element(errors.begin(), errors.end(), [](double a, double b) {
                        return std::abs(a) < std::abs(b);
                    }));
    }
    std::printf(
        "tick_interval_ms_median %.3f\ntick_interval_ms_p99 %.3f\ntick_interval_ms_max %.3f\n",
        percentile(intervals, 0.5), percentile(intervals, 0.99),
        *std::max_element(intervals.begin(), intervals.end()));
    stop = true;
    if (spinner.joinable()) {
        spinner.join();
    }
    return 0;
}
