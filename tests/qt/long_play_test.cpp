#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <random>

#include "activate.h"
#include "key_table.h"
#include "test_window.h"

namespace sormio {
namespace {

long residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

TEST(WindowLongPlay, twentyThousandTurnsThroughTheWindowKeepMemoryFlat) {
    // Hits, misses, time-outs and restarts through real key events and the window's painting;
    // what the window holds after the first two thousand turns is all it ever needs.
    const int turns = qEnvironmentVariableIntValue("SORMIO_WINDOW_TURNS") > 0
                          ? qEnvironmentVariableIntValue("SORMIO_WINDOW_TURNS")
                          : 20000;
    std::int64_t now = 0;
    testing::TestWindow window(now);  // the test's time: no tick unless it moves it
    now = window.QtWindow::now();
    long long beeps = 0;
    window.tones = [&](int n) { beeps += n; };
    EXPECT_TRUE(activate(&window));
    std::mt19937 random(7);
    long baseline = 0;
    for (int turn = 0; turn < turns; ++turn) {
        if (turn == std::min(2000, turns / 10)) {
            baseline = residentBytes();
        }
        now += 10'000'000;  // one sampler tick
        const unsigned what = random() % 100;
        if (!window.frmsormio().countdownRunning() || what < 2) {
            QTest::keyClick(&window, Qt::Key_F1);
        } else if (what < 90) {
            const int key = KeyTable::keyOfValue(window.game().state.target).value();
            const QChar lit(KeyTable::charCodeOfKey(key));
            QTest::sendKeyEvent(QTest::Press, window.picture1(), Qt::Key_unknown,
                                QString(what % 2 ? lit : lit.toLower()), Qt::NoModifier);
        } else if (what < 95) {
            QTest::sendKeyEvent(QTest::Press, window.picture1(), Qt::Key_unknown,
                                QStringLiteral("#"), Qt::NoModifier);
        } else {
            now += 3'000'000'000;  // the bar runs out
            window.frmsormio().wake(now);
        }
        if (turn % 50 == 0) {
            QApplication::processEvents();  // let the window paint what the turns changed
        }
        ASSERT_EQ(window.lblpisteet()->text(),
                  window.game().state.score > 0
                      ? QString::fromStdString(scoreText(window.game().state.score))
                      : QStringLiteral("0"));
    }
    QApplication::processEvents();
    const long growth = residentBytes() - baseline;
    std::printf("%d turns, %lld beeps; resident memory grew by %ld KiB after the warm-up\n", turns,
                beeps, growth / 1024);
#ifndef __SANITIZE_ADDRESS__  // its quarantine holds freed memory back on purpose
    if (turns >= 20000) {     // a short run, as under valgrind, has no steady state to compare
        EXPECT_LT(growth, 1024 * 1024);
    }
#endif
}

}  // namespace
}  // namespace sormio
