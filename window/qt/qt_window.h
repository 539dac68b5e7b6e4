#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <array>
#include <cstdint>

#include "alarm.h"
#include "description.h"
#include "frmsormio.h"
#include "label.h"
#include "sound.h"

namespace sormio {

class Bar;

// The game's one window on Linux, in Qt 6 Widgets. It holds the game's Frmsormio and
// every control for the whole run; it turns menu commands, typed text and its alarm into the
// calls of Frmsormio, and draws, sounds and tells what Frmsormio asks.
class QtWindow : public QMainWindow, public Platform {
  public:
    QtWindow();
    ~QtWindow() override;

    Frmsormio& frmsormio() { return frmsormio_; }
    const Frmsormio& frmsormio() const { return frmsormio_; }
    const Game& game() const { return frmsormio_.game(); }
    // The time of the window's clock, which every call to Frmsormio carries.
    virtual std::int64_t now() const { return Alarm::nowNs(); }

    QWidget* client() const { return centralWidget(); }
    Bar* picture1() const { return picture1_; }
    Label* tile(int index) const { return lblkirjain_[static_cast<std::size_t>(index)]; }
    Label* lblpisteet() const { return lblpisteet_; }
    QAction* mnusound() const { return mnusound_; }

    // Platform
    void draw(unsigned changes) override;
    void wakeAt(std::int64_t atNs) override;
    void openAudio() override;
    bool playTones(int n) override;
    void dropTones() override;
    void ringBell() override;
    void quit() override;
    ReaderFocus readerFocus() const override;

  private:
    void buildMenu();
    void buildControls();
    bool barTakesKeys() const;
    // The bar holds the focus while it takes keys; otherwise the window does (or, when a screen
    // reader listens, a control named by how the game ended), so that neither keys nor a
    // screen reader's focus rest on a hidden control.
    void moveFocusToMatchBar();
    void tellTurn();

    Frmsormio frmsormio_;
    Alarm alarm_;
    Sound sound_;
    Bar* picture1_ = nullptr;
    std::array<Label*, KeyTable::kKeys> lblkirjain_{};
    Label* lblpisteet_ = nullptr;
    QAction* mnusound_ = nullptr;
    QLabel* ending_ = nullptr;
};

// The countdown bar: a one-pixel line that, while shown and enabled, holds the keyboard focus
// and hands every typed character to Frmsormio.
class Bar : public QWidget {
  public:
    Bar(QWidget* parent, QtWindow& window, const Control& control);

    const QtWindow& owner() const { return window_; }
    // Where and how wide the description draws it: the most it is ever given.
    const Rect& drawn() const { return control_.geometry; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // What an input method or the platform's compose commits: the characters typed.
    void inputMethodEvent(QInputMethodEvent* event) override;
    // Tab is a key like any other here, not a move to the next control.
    bool focusNextPrevChild(bool) override { return false; }

  private:
    QtWindow& window_;
    const Control& control_;
};

}  // namespace sormio
