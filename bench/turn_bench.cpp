// The cost of one hit through the real window: the key event, the check, the next turn and the
// repaint that follows. Prints CPU time per turn, widgets repainted per turn and the latency
// from the key's arrival to the end of that repaint.
//
//   turn_bench TURNS     (run it under QT_QPA_PLATFORM=offscreen, or on a display)
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "key_table.h"
#include "test_window.h"

namespace {

struct PaintCounter : QObject {
    long long paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The window's clock, one sampler period further at every hit: each turn draws a new target,
// as a player's turns do, and no countdown tick falls between the key and its repaint.
std::int64_t now = 0;

// One hit: the lit key arrives at the bar, and the event loop paints what changed. Kept out of
// line so that callgrind can count exactly this (--toggle-collect=*measuredTurns*).
__attribute__((noinline)) void measuredTurns(sormio::QtWindow& window, int turns,
                                             std::vector<double>* latencies) {
    for (int i = 0; i < turns; ++i) {
        now += 10'000'000;
        const int key = sormio::KeyTable::keyOfValue(window.game().state.target).value();
        const QString text(QChar(sormio::KeyTable::charCodeOfKey(key)).toLower());
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
        const auto arrived = std::chrono::steady_clock::now();
        QApplication::sendEvent(window.picture1(), &press);
        QApplication::processEvents();
        const auto painted = std::chrono::steady_clock::now();
        if (latencies != nullptr) {
            latencies->push_back(
                std::chrono::duration<double, std::micro>(painted - arrived).count());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int turns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    QApplication app(argc, argv);
    sormio::testing::TestWindow window(now);
    now = window.QtWindow::now();
    (void)QTest::qWaitForWindowExposed(&window);
    window.activateWindow();
    (void)QTest::qWaitForWindowActive(&window);
    window.frmsormio().mnustart_Click(window.now());
    QApplication::processEvents();
    // Games of 199 hits: the bar never reaches zero, and Start between them stays off the clock.
    PaintCounter counter;
    app.installEventFilter(&counter);
    std::vector<double> latencies;
    double cpu = 0;
    for (int done = 0; done < turns;) {
        const int n = std::min(turns - done, 150);
        window.frmsormio().mnustart_Click(window.now());
        QApplication::processEvents();
        counter.paints = 0;
        const double before = cpuSeconds();
        measuredTurns(window, n, &latencies);
        cpu += cpuSeconds() - before;
        done += n;
        static long long paints = 0;
        paints += counter.paints;
        if (done == turns) {
            std::sort(latencies.begin(), latencies.end());
            std::printf("turns %d\ncpu_us_per_turn %.2f\nwidgets_repainted_per_turn %.2f\n", turns,
                        1e6 * cpu / turns, static_cast<double>(paints) / turns);
            std::printf("latency_p50_us %.1f\nlatency_p99_us %.1f\nlatency_max_us %.1f\n",
                        latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100],
                        latencies.back());
        }
    }
    return 0;
}
