#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <memory>
#include <random>

#include "activate.h"
#include "frmsormio.h"
#include "key_entry.h"
#include "key_table.h"

namespace sormio {
namespace {

// The rules as the player sees them, kept by the test itself: which turn is on, how many hits
// this game has, how many ticks the bar has left, whether sound is on.
struct Model {
    bool started = false;
    bool inTurn = false;
    bool blueExpected = false;
    long long score = 0;
    long long ticksLeft = 0;
    bool soundOff = false;

    void start() {
        started = inTurn = true;
        blueExpected = false;
        score = 0;
        ticksLeft = 200;
    }
    void hit() {
        ++score;
        ticksLeft = std::max(1LL, 200 - score);
    }
    void gameOver(bool blue) {
        inTurn = false;
        blueExpected = blue;
    }
};

class KeyStorm : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<Frmsormio>();
        window->setBell([this] { ++beeps; });
        // The storm ticks both timers itself: no real tick may reach the window between its
        // events, however busy the machine.
        window->setSamplerClock([] { return std::int64_t{0}; });
        window->driveCountdownByHand();
        other = std::make_unique<QWidget>();
        other->show();
        EXPECT_TRUE(activate(window.get()));
    }

    std::unique_ptr<Frmsormio> window;
    std::unique_ptr<QWidget> other;
    std::mt19937 random{20261207};
    Model model;
    bool focused = true;
    bool careful = false;
    long long beeps = 0;
    long long events = 0;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    int tilesOf(TileColour colour) {
        int n = 0;
        for (int tile = 0; tile < 36; ++tile) {
            n += window->tile(tile)->background() == rgbOf(colour);
        }
        return n;
    }
    char litGlyph() {
        for (const KeyRow& row : KeyTable::rows()) {
            if (window->tile(row.tile)->background() == rgbOf(TileColour::Red)) {
                return row.glyph;
            }
        }
        return '\0';
    }

    // Any text at all: control characters, Latin-1, every plane, lone surrogate halves, several
    // characters at once, or the lit key itself so that games last.
    QString randomText() {
        // Stretches of careful play make long games; wild stretches end them.
        if (pick(400) == 0) {
            careful = !careful;
        }
        const int kind = pick(1000);
        if (model.inTurn && kind >= (careful ? 2 : 500)) {
            const QChar lit = QLatin1Char(litGlyph());
            return pick(2) ? QString(lit) : QString(lit.toLower());
        }
        QString text;
        const int length = kind % 10 == 3 ? 0 : (kind % 10 == 4 ? 2 + pick(5) : 1);
        for (int i = 0; i < length; ++i) {
            switch (pick(5)) {
                case 0:
                    text += QChar(static_cast<char16_t>(pick(0x20)));
                    break;
                case 1:
                    text += QChar(static_cast<char16_t>(0x20 + pick(0xE0)));
                    break;
                case 2: {
                    const char32_t c = static_cast<char32_t>(pick(0x110000));
                    if (c >= 0xD800 && c <= 0xDFFF) {
                        text += QChar(static_cast<char16_t>(c));
                    } else {
                        text += QString::fromUcs4(&c, 1);
                    }
                    break;
                }
                case 3:
                    text += QChar(static_cast<char16_t>(0xD800 + pick(0x800)));
                    break;
                default:
                    text += QChar(static_cast<char16_t>(pick(0x10000)));
                    break;
            }
        }
        return text;
    }

    // What one typed character must do, by the rules alone.
    void expectCharacter(char32_t c) {
        if (!model.inTurn) {
            return;
        }
        const char lit = litGlyph();
        const bool isHit = c < 0x80 && std::toupper(static_cast<int>(c)) == lit;
        if (isHit) {
            model.hit();
            return;
        }
        const bool inTable = c < 0x80 && std::isalnum(static_cast<int>(c));
        model.gameOver(inTable);
    }

    void typeText(const QString& text) {
        // A character followed by combining marks is one character, and never a key.
        QList<uint> chars;
        for (uint c : text.toUcs4()) {
            if (!chars.isEmpty() && isCombiningMark(c)) {
                chars.back() = 0xFFFD;
            } else {
                chars.push_back(c);
            }
        }
        for (uint c : chars) {
            expectCharacter(c);
        }
        QWidget* target = QApplication::focusWidget();
        QTest::sendKeyEvent(QTest::Press, target ? target : window.get(), Qt::Key_unknown, text,
                            Qt::NoModifier);
    }

    void step() {
        const int what = pick(100);
        if (what < 40) {
            const QString text = randomText();
            if (focused) {
                typeText(text);
            }
        } else if (what < 44) {
            if (focused) {
                const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Shift, Qt::Key_CapsLock,
                                        Qt::Key_Home};
                QTest::sendKeyEvent(QTest::Press, window.get(), keys[pick(4)], QString(),
                                    Qt::NoModifier);
            }
        } else if (what < 47) {
            // Start mostly between games, now and then in the middle of one.
            if (focused && (!model.inTurn || pick(careful ? 50 : 5) == 0)) {
                QTest::keyClick(window.get(), Qt::Key_F1);
                model.start();
            }
        } else if (what < 48) {
            if (focused) {
                QTest::keyClick(window.get(), Qt::Key_F3);
                model.soundOff = !model.soundOff;
            }
        } else if (what < 90) {
            if (window->countdownRunning()) {
                window->game().Tmr1_Timer();
                if (model.inTurn && --model.ticksLeft == 0) {
                    model.gameOver(false);
                }
            }
        } else if (what < 98) {
            window->game().Tmr2_Timer();
        } else {
            focused = !focused;
            EXPECT_TRUE(activate(focused ? window.get() : other.get()));
        }
        ++events;
    }

    void checkInvariants() {
        const int red = tilesOf(TileColour::Red);
        const int blue = tilesOf(TileColour::Blue);
        ASSERT_LE(red, 1);
        ASSERT_EQ(blue, model.blueExpected ? 1 : 0);
        ASSERT_EQ(red, model.started ? 1 : 0) << "red only during a turn or after a game over";
        ASSERT_EQ(window->picture1()->isVisible(), model.inTurn);
        ASSERT_EQ(window->countdownRunning(), model.inTurn);
        const QString caption = model.started && model.score > 0
                                    ? QStringLiteral(" %1").arg(model.score)
                                    : QStringLiteral("0");
        ASSERT_EQ(window->lblpisteet()->text(), caption);
        ASSERT_EQ(window->lblpisteet()->isVisible(), model.started);
        ASSERT_EQ(window->mnusound()->text(), model.soundOff ? "Äänet poissa" : "Äänet päällä");
        if (focused && model.inTurn) {
            ASSERT_EQ(QApplication::focusWidget(), window->picture1()) << "keys reach the game";
        }
        const float width = window->barWidth();
        ASSERT_GE(width, 0.0f);
        ASSERT_LE(width, 600.0f);
    }
};

TEST_F(KeyStorm, fourHundredThousandRandomEventsKeepEveryInvariant) {
    long long hits = 0, games = 0, longest = 0;
    for (int i = 0; i < 400000; ++i) {
        const long long scoreBefore = model.score;
        const bool wasInTurn = model.inTurn;
        step();
        checkInvariants();
        if (HasFatalFailure()) {
            FAIL() << "after event " << events;
        }
        hits += model.score > scoreBefore ? 1 : 0;
        longest = std::max(longest, model.score);
        games += wasInTurn && !model.inTurn ? 1 : 0;
    }
    // The storm must really play: many games, many hits, long enough to reach short bars.
    EXPECT_GT(games, 1000);
    EXPECT_GT(hits, 10000);
    EXPECT_GE(longest, 200) << "no game reached the one-tick turns";
    std::printf("%lld events, %lld games, %lld hits, longest game %lld, %lld beeps\n", events,
                games, hits, longest, beeps);
}

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
    Frmsormio window;
    long long beeps = 0;
    window.setBell([&] { ++beeps; });
    window.setSamplerClock([] { return std::int64_t{0}; });
    window.driveCountdownByHand();
    EXPECT_TRUE(activate(&window));
    std::mt19937 random(7);
    long baseline = 0;
    for (int turn = 0; turn < turns; ++turn) {
        if (turn == std::min(2000, turns / 10)) {
            baseline = residentBytes();
        }
        window.game().Tmr2_Timer();
        const unsigned what = random() % 100;
        if (!window.countdownRunning() || what < 2) {
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
            while (window.countdownRunning()) {
                window.game().Tmr1_Timer();
            }
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
