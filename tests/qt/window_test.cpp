#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QThread>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "activate.h"
#include "key_table.h"
#include "test_window.h"

namespace sormio {
namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<testing::TestWindow>(now);
        window->tones = [this](int n) { beeps += n; };
        now = window->QtWindow::now();
        EXPECT_TRUE(activate(window.get()));
    }

    std::unique_ptr<testing::TestWindow> window;
    std::int64_t now = 0;
    int beeps = 0;

    const Game& game() { return window->game(); }
    bool countdownRunning() { return window->frmsormio().countdownRunning(); }
    // The next draw of the sampler, fixed so that a test knows its target.
    void nextTarget(char glyph) {
        window->frmsormio().apply(now, [glyph](Game& g) {
            g.state.sample = static_cast<float>(KeyTable::keyOfCharCode(glyph).value());
        });
    }
    void start(char glyph) {
        nextTarget(glyph);
        QTest::keyClick(window.get(), Qt::Key_F1);
    }
    QWidget* keyTarget() {
        QWidget* focus = QApplication::focusWidget();
        return focus != nullptr ? focus : window.get();
    }
    void type(const QString& text, Qt::Key key = Qt::Key_unknown,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = keyTarget();
        QTest::sendKeyEvent(QTest::Press, target, key, text, modifiers);
        QTest::sendKeyEvent(QTest::Release, target, key, text, modifiers);
    }
    QImage picture() { return window->client()->grab().toImage(); }
    static QRgb tileInterior(const QImage& image, int tile) {
        const TilePosition p = KeyTable::positionOfTile(tile);
        return image.pixel(p.left + 2, p.top + 2);
    }
    static int tilesOf(const QImage& image, QRgb colour) {
        int n = 0;
        for (int tile = 0; tile < 36; ++tile) {
            n += tileInterior(image, tile) == colour ? 1 : 0;
        }
        return n;
    }
    static int barLength(const QImage& image) {
        int length = 0;
        while (100 + length < 800 && image.pixel(100 + length, 304) == kWhite) {
            ++length;
        }
        return length;
    }
    int tileOf(char glyph) { return KeyTable::tileOfKey(KeyTable::keyOfCharCode(glyph).value()); }
};

TEST_F(WindowTest, everyControlSitsWhereTheLayoutPutsIt) {
    // Client area 800 x 450 below the menu bar, fixed; tiles per the key table; labels as drawn.
    EXPECT_EQ(window->windowTitle(), "Sormio IV");
    EXPECT_EQ(window->client()->size(), QSize(800, 450));
    EXPECT_EQ(window->client()->y(), window->menuBar()->height());
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->windowIcon().availableSizes(), (QList<QSize>{QSize(32, 32), QSize(16, 16)}));
    for (const KeyRow& row : KeyTable::rows()) {
        const QWidget* found =
            window->findChild<QWidget*>(QStringLiteral("Lblkirjain(%1)").arg(row.tile));
        ASSERT_EQ(found, window->tile(row.tile));
        const Label* tile = window->tile(row.tile);
        EXPECT_EQ(tile->geometry(), QRect(row.left, row.top, 33, 33));
        EXPECT_EQ(tile->text(), QString(QLatin1Char(row.glyph)));
        EXPECT_TRUE(tile->isVisible());
    }
    struct Expected {
        const char* name;
        QRect geometry;
        QString text;
        bool visible;
    };
    for (const Expected& e : {Expected{"Label1", {208, 128, 401, 33}, "", true},
                              Expected{"Lblpisteet", {376, 320, 49, 33}, "0", false},
                              Expected{"Lblotsikko", {16, 8, 769, 129}, "SORMIO IV", true}}) {
        const auto* label = dynamic_cast<const Label*>(window->findChild<QWidget*>(e.name));
        ASSERT_NE(label, nullptr) << e.name;
        EXPECT_EQ(label->geometry(), e.geometry) << e.name;
        EXPECT_EQ(label->isVisible(), e.visible) << e.name;
        if (!e.text.isEmpty()) {
            EXPECT_EQ(label->text(), e.text);
        }
    }
    const QWidget* bar = window->findChild<QWidget*>(QStringLiteral("Picture1"));
    ASSERT_EQ(bar, window->picture1());
    EXPECT_EQ(bar->geometry(), QRect(100, 304, 600, 1));
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(bar->isEnabled());
}

TEST_F(WindowTest, theMenuHoldsItsThreeCommandsWithoutAccessKeys) {
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "Ohjelma");
    const QList<QAction*> items = menus[0]->menu()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), "Käynnistä");
    EXPECT_EQ(items[0]->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(items[1]->text(), "Äänet päällä");
    EXPECT_EQ(items[1]->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(items[2]->text(), "Lopeta");
    EXPECT_TRUE(items[2]->shortcut().isEmpty());
}

TEST_F(WindowTest, thePictureFollowsStartHitMissAndTimeOut) {
    // Start: one red tile, the full bar on row 304, the score. A hit: the next red tile, a bar
    // 3 px shorter. A miss: the typed key blue beside the red target, no bar.
    QImage image = picture();
    EXPECT_EQ(tilesOf(image, kBlack), 36);
    EXPECT_EQ(image.pixel(240, 168), qColour(windowDescription().tileBorder).rgb())
        << "tiles have a visible border";
    EXPECT_EQ(barLength(image), 0);

    start('E');
    image = picture();
    EXPECT_EQ(tileInterior(image, 12), kRed);
    EXPECT_EQ(tilesOf(image, kBlack), 35);
    EXPECT_EQ(image.pixel(320, 200), qColour(windowDescription().tileBorder).rgb());
    EXPECT_EQ(barLength(image), 600);
    EXPECT_EQ(image.pixel(99, 304), kBlack);
    EXPECT_TRUE(window->lblpisteet()->isVisible());

    nextTarget('Q');
    type("e", Qt::Key_E);
    image = picture();
    EXPECT_EQ(tileInterior(image, tileOf('Q')), kRed);
    EXPECT_EQ(tilesOf(image, kBlack), 35);
    EXPECT_EQ(barLength(image), 597);
    EXPECT_EQ(window->lblpisteet()->text(), " 1");

    type("w", Qt::Key_W);
    image = picture();
    EXPECT_EQ(tileInterior(image, tileOf('Q')), kRed);
    EXPECT_EQ(tileInterior(image, tileOf('W')), kBlue);
    EXPECT_EQ(tilesOf(image, kBlack), 34);
    EXPECT_EQ(barLength(image), 0);
    EXPECT_EQ(window->lblpisteet()->text(), " 1");

    // A time-out after a hit: nothing turns blue. A short bar keeps the test quick.
    start('E');
    type("e", Qt::Key_E);
    window->frmsormio().apply(now, [](Game& g) {
        g.state.startwidth = 9;
        g.paaohjelma();
    });
    now += 30'000'000;
    window->frmsormio().wake(now);
    EXPECT_FALSE(countdownRunning());
    image = picture();
    EXPECT_EQ(tilesOf(image, kRed), 1);
    EXPECT_EQ(tilesOf(image, kBlue), 0);
    EXPECT_EQ(barLength(image), 0);
    EXPECT_EQ(game().state.timedout, 1);
}

TEST(Window, theCountdownShrinksTheBarFromItsRightEndOnTheRealClock) {
    // The window's own alarm wakes Frmsormio: 100 ms later the bar is shorter by whole ticks.
    testing::QuietWindow window;
    ASSERT_TRUE(activate(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    QTest::qWait(100);
    const QRect bar = window.picture1()->geometry();
    EXPECT_EQ(bar.left(), 100);
    EXPECT_LT(bar.width(), 600);
    EXPECT_EQ(bar.width() % 3, 0);
}

struct Typed {
    const char* name;
    QString text;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

void PrintTo(const Typed& t, std::ostream* os) {
    *os << t.name;
}

class HitTest : public WindowTest, public ::testing::WithParamInterface<Typed> {};

TEST_P(HitTest, lowerUpperAndCapsLockLettersAreTheSameHit) {
    start('E');
    type(GetParam().text, GetParam().key, GetParam().modifiers);
    EXPECT_EQ(game().state.score, 1);
    EXPECT_TRUE(countdownRunning());
}

INSTANTIATE_TEST_SUITE_P(Letters, HitTest,
                         ::testing::Values(Typed{"lower", "e", Qt::Key_E, Qt::NoModifier},
                                           Typed{"shift", "E", Qt::Key_E, Qt::ShiftModifier},
                                           Typed{"caps_lock", "E", Qt::Key_E, Qt::NoModifier}),
                         [](const auto& info) { return std::string(info.param.name); });

class MissTest : public WindowTest, public ::testing::WithParamInterface<Typed> {};

TEST_P(MissTest, keysOutsideTheTableEndTheGameWithoutBlue) {
    start('E');
    type(GetParam().text, GetParam().key, GetParam().modifiers);
    const QImage image = picture();
    EXPECT_EQ(tilesOf(image, kBlue), 0);
    EXPECT_EQ(tilesOf(image, kRed), 1);
    EXPECT_EQ(barLength(image), 0);
    EXPECT_FALSE(countdownRunning());
    EXPECT_EQ(beeps, 19);
}

INSTANTIATE_TEST_SUITE_P(
    NonKeys, MissTest,
    ::testing::Values(Typed{"a_umlaut", "ä", Qt::Key_Adiaeresis, Qt::NoModifier},
                      Typed{"enter", "\r", Qt::Key_Return, Qt::NoModifier},
                      Typed{"space", " ", Qt::Key_Space, Qt::NoModifier},
                      Typed{"backspace", "\b", Qt::Key_Backspace, Qt::NoModifier},
                      Typed{"escape", "\x1b", Qt::Key_Escape, Qt::NoModifier},
                      Typed{"tab", "\t", Qt::Key_Tab, Qt::NoModifier},
                      Typed{"control_e", "\x05", Qt::Key_E, Qt::ControlModifier}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, keysWithoutTextDoNothingDuringATurn) {
    start('E');
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Shift, Qt::Key_CapsLock, Qt::Key_F5}) {
        type(QString(), key);
    }
    type("e", Qt::Key_E, Qt::AltModifier);  // the desktop's, as on every platform
    type("e", Qt::Key_E, Qt::MetaModifier);
    EXPECT_TRUE(countdownRunning());
    EXPECT_EQ(beeps, 0);
}

TEST_F(WindowTest, severalCharactersInOneEventAreKeyPressesInOrder) {
    // "e" scores, "x" misses and lights X blue, and the last "e" finds no bar to go to.
    start('E');
    nextTarget('E');
    type("exe");
    EXPECT_EQ(game().state.score, 1);
    EXPECT_EQ(tileInterior(picture(), tileOf('X')), kBlue);
    EXPECT_EQ(beeps, 1 + 19);
}

TEST_F(WindowTest, whatAnInputMethodCommitsIsTypedAndItsPreeditIsNot) {
    start('E');
    nextTarget('E');
    QInputMethodEvent preedit(QStringLiteral("e"), {});
    QApplication::sendEvent(keyTarget(), &preedit);
    EXPECT_EQ(game().state.score, 0);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("e"));
    QApplication::sendEvent(keyTarget(), &commit);
    EXPECT_EQ(game().state.score, 1);
    commit.setCommitString(QStringLiteral("é"));
    QApplication::sendEvent(keyTarget(), &commit);
    EXPECT_FALSE(countdownRunning());
    EXPECT_EQ(tilesOf(picture(), kBlue), 0);
}

TEST_F(WindowTest, aKeyAfterADeadKeyIsNeverThatKeyUntilStartForgetsIt) {
    // The platform's compose takes the dead key's press and lets through a letter it cannot
    // combine with: only the dead key's release tells.
    start('E');
    QTest::sendKeyEvent(QTest::Release, keyTarget(), Qt::Key_Dead_Acute, QString(), Qt::NoModifier);
    EXPECT_TRUE(countdownRunning());
    type("e", Qt::Key_E);
    EXPECT_FALSE(countdownRunning());
    EXPECT_EQ(tilesOf(picture(), kBlue), 0);
    start('E');
    QTest::sendKeyEvent(QTest::Release, keyTarget(), Qt::Key_Dead_Acute, QString(), Qt::NoModifier);
    start('E');
    type("e", Qt::Key_E);
    EXPECT_EQ(game().state.score, 1);
}

TEST_F(WindowTest, keysWhileNoTurnRunsChangeNothing) {
    // Before the first Start, and after a game over.
    const QImage before = picture();
    type("e", Qt::Key_E);
    type("0", Qt::Key_0);
    EXPECT_EQ(picture(), before);
    start('E');
    type("w", Qt::Key_W);
    const QImage over = picture();
    const int beepsAtGameOver = beeps;
    type("e", Qt::Key_E);
    type("q", Qt::Key_Q);
    EXPECT_EQ(picture(), over);
    EXPECT_EQ(beeps, beepsAtGameOver);
    EXPECT_EQ(game().state.score, 0);
}

TEST_F(WindowTest, startDuringATurnBeginsAFreshGameAndClearsBlue) {
    start('E');
    type("e", Qt::Key_E);
    type("e", Qt::Key_E);
    start('Z');
    QImage image = picture();
    EXPECT_EQ(window->lblpisteet()->text(), "0");
    EXPECT_EQ(barLength(image), 600);
    EXPECT_EQ(tileInterior(image, tileOf('Z')), kRed);
    EXPECT_EQ(tilesOf(image, kBlack), 35);
    type("w", Qt::Key_W);
    start('A');
    image = picture();
    EXPECT_EQ(tilesOf(image, kBlue), 0);
    EXPECT_EQ(tileInterior(image, tileOf('A')), kRed);
    EXPECT_TRUE(window->picture1()->hasFocus());
}

TEST_F(WindowTest, soundTogglesCaptionAndBeepsAndBackAgain) {
    // One beep a hit and 19 a game over with sound on; none with it off; F3 twice restores.
    start('E');
    type("e", Qt::Key_E);
    EXPECT_EQ(beeps, 1);
    QTest::keyClick(window->picture1(), Qt::Key_F3);  // during a turn, with the bar focused
    EXPECT_EQ(window->mnusound()->text(), "Äänet poissa");
    EXPECT_EQ(game().state.soundoff, 1);
    EXPECT_TRUE(countdownRunning());
    type("e", Qt::Key_E);
    type("w", Qt::Key_W);
    EXPECT_EQ(beeps, 1);
    QTest::keyClick(window.get(), Qt::Key_F3);
    EXPECT_EQ(window->mnusound()->text(), "Äänet päällä");
    EXPECT_EQ(game().state.soundoff, 0);
    start('E');
    type("w", Qt::Key_W);
    EXPECT_EQ(beeps, 1 + 19);
}

TEST_F(WindowTest, aTurnRepaintsOnlyWhatChanged) {
    // All 36 tiles are painted every turn, but only the old and the new target redraw.
    start('E');
    QApplication::processEvents();
    struct Counter : QObject {
        int tiles = 0;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint && dynamic_cast<Label*>(watched) != nullptr &&
                watched->objectName().startsWith("Lblkirjain")) {
                ++tiles;
            }
            return false;
        }
    } counter;
    for (int tile = 0; tile < 36; ++tile) {
        window->tile(tile)->installEventFilter(&counter);
    }
    nextTarget('Q');
    type("e", Qt::Key_E);
    window->client()->repaint();
    EXPECT_LE(counter.tiles, 2);
    counter.tiles = 0;
    nextTarget('Q');
    type("q", Qt::Key_Q);
    window->client()->repaint();
    EXPECT_LE(counter.tiles, 1) << "same target again: at most that tile redraws";
}

class AlarmTest : public ::testing::TestWithParam<Alarm::Source> {};

TEST_P(AlarmTest, ringsOnceNeverBeforeItsMomentAndOnlyAtTheLastOneSet) {
    std::vector<std::int64_t> rang;
    Alarm alarm([&](std::int64_t now) { rang.push_back(now); }, GetParam());
    const std::int64_t start = Alarm::nowNs();
    alarm.set(start + 50'000'000);  // replaced before it rings
    alarm.set(start + 3'000'000);
    QElapsedTimer waited;
    waited.start();
    while (rang.empty() && waited.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    ASSERT_EQ(rang.size(), 1u);
    EXPECT_GE(rang[0], start + 3'000'000) << "rang early";
    EXPECT_FALSE(alarm.isSet());
    alarm.set(Alarm::nowNs() + 1'000'000);
    alarm.set(Alarm::kOff);
    QTest::qWait(60);
    EXPECT_EQ(rang.size(), 1u) << "an alarm turned off rang";
}

INSTANTIATE_TEST_SUITE_P(Sources, AlarmTest,
                         ::testing::Values(Alarm::Source::Kernel, Alarm::Source::QtTimer),
                         [](const auto& info) {
                             return info.param == Alarm::Source::Kernel ? "kernel" : "qt_timer";
                         });

// Run once per display scale (QT_SCALE_FACTOR, set by the test list): 100 % here, and the
// fractional and double scales of today's laptops.
class ScaleTest : public WindowTest {};

TEST_F(ScaleTest, everyTileShowsFourEqualEdgesAndTheBarIsOneUnbrokenLine) {
    start('E');
    const QImage image = window->grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    const int menu = window->client()->y();
    const auto device = [dpr](qreal logical) {
        return static_cast<int>(std::floor(logical * dpr));
    };
    const QRgb border = qColour(windowDescription().tileBorder).rgb();
    // From inside a tile towards one edge: the number of border pixels met there.
    const auto edge = [&](int x, int y, int dx, int dy) {
        for (int steps = 0; image.pixel(x, y) != border; ++steps, x += dx, y += dy) {
            if (steps > 20 * dpr) {
                return 0;
            }
        }
        int n = 0;
        for (; image.pixel(x, y) == border; x += dx, y += dy) {
            ++n;
        }
        return n;
    };
    std::map<int, int> thicknesses;  // thickness -> edges
    for (int tile = 0; tile < KeyTable::kKeys; ++tile) {
        const TilePosition p = KeyTable::positionOfTile(tile);
        // A row above the glyph and a column left of it, through the middle of the tile.
        const int row = device(menu + p.top + 4), column = device(p.left + 4);
        const int midX = device(p.left + 16), midY = device(menu + p.top + 16);
        const int edges[] = {edge(midX, row, -1, 0), edge(midX, row, 1, 0),
                             edge(column, midY, 0, -1), edge(column, midY, 0, 1)};
        for (int side = 0; side < 4; ++side) {
            EXPECT_GT(edges[side], 0) << "tile " << tile << " lacks its edge "
                                      << "LRTB"[side] << " at scale " << dpr;
            ++thicknesses[edges[side]];
        }
    }
    EXPECT_EQ(thicknesses.size(), 1u) << "border lines of different thickness at scale " << dpr;
    EXPECT_LE(thicknesses.begin()->first, std::ceil(dpr));

    // The bar: the same rows lit from its left end to its right end, no gap, nothing beside it.
    const int left = device(100), right = device(100 + window->picture1()->width());
    const auto litRows = [&](int x) {
        std::vector<int> rows;
        for (int y = device(menu + 300); y < device(menu + 309); ++y) {
            if (image.pixel(x, y) == kWhite) {
                rows.push_back(y);
            }
        }
        return rows;
    };
    const std::vector<int> rows = litRows(left);
    ASSERT_FALSE(rows.empty()) << "no bar at scale " << dpr;
    EXPECT_EQ(rows.back() - rows.front() + 1, static_cast<int>(rows.size()));
    for (int x = left; x < right - 1; ++x) {
        ASSERT_EQ(litRows(x), rows) << "the bar breaks at device x " << x << ", scale " << dpr;
    }
    EXPECT_TRUE(litRows(left - 1).empty());
}

}  // namespace
}  // namespace sormio
