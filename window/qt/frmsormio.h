#pragma once

#include <QAction>
#include <QMainWindow>
#include <array>
#include <chrono>
#include <functional>

#include "description.h"
#include "game.h"
#include "key_entry.h"
#include "label.h"
#include "screen.h"
#include "sound.h"
#include "ticker.h"

namespace sormio {

class Bar;

inline QColor qColour(TileColour colour) {
    return qColour(rgbOf(colour));
}

// The game's one window. It owns the game and every control for the whole run, implements
// Screen on those controls, and turns menu commands, key presses and timer ticks into calls of
// the game's procedures.
class Frmsormio : public QMainWindow, public Screen {
  public:
    Frmsormio();
    ~Frmsormio() override;

    // Screen
    void paintTile(int tile, TileColour colour) override;
    float barWidth() const override;
    void setBarWidth(float px) override;
    void setBarShown(bool on) override;
    void setBarEnabled(bool on) override;
    void setCountdown(bool on) override;
    void setScoreCaption(const std::string& text) override;
    void showScore() override;
    void beep() override;

    void Form_Load();
    // Both may start a turn, which takes the sampler's latest draw: the draws that fell due
    // since the last look are made first.
    void mnustart_Click();
    void picture1_KeyPress(std::int16_t& keyascii) {
        tmr2_.settle();
        game_.picture1_KeyPress(keyascii);
        tellTurn();
        tellIfGameEnded();
    }
    void mnusound_Click();
    void mnuquit_Click();

    // What the player typed, for the shared key entry: each character is a key press of its
    // own, for as long as the bar still takes keys (a miss hides it, and the rest of the text
    // goes nowhere).
    KeyEntry& keyEntry() { return keyEntry_; }
    const KeyEntry::Press& pressKey() const { return pressKey_; }

    Game& game() { return game_; }
    const Game& game() const { return game_; }
    QWidget* client() const { return centralWidget(); }
    Bar* picture1() const { return picture1_; }
    Label* tile(int index) const { return lblkirjain_[index]; }
    Label* lblpisteet() const { return lblpisteet_; }
    QAction* mnusound() const { return mnusound_; }
    bool countdownRunning() const { return tmr1_.isActive(); }
    // The tile a screen reader was last told holds the focus during a turn, if any.
    const QWidget* announced() const { return announced_; }
    // Connects to the sound server off the window's thread once the first frame has been
    // painted; until then, and whenever no server answers, beep() rings the window system's
    // bell.
    void startSoundAfterFirstFrame();
    // Where beep() goes: the game's tone, or the bell; a test can listen instead.
    void setBell(std::function<void()> bell) { bell_ = std::move(bell); }
    // What the sampler counts its ticks by; a test can stop its time to choose the targets.
    void setSamplerClock(DueTicks::Clock clock) { tmr2_.setClock(std::move(clock)); }
    // The countdown then runs only when a test calls its tick handler itself.
    void driveCountdownByHand() { tmr1_.driveByHand(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenu();
    void buildControls();
    // A shown and enabled bar is the control that receives the player's keys.
    bool barTakesKeys() const;
    // The bar holds the focus while it takes keys; otherwise the window does, so that neither
    // keys nor a screen reader's focus rest on a hidden control.
    void moveFocusToMatchBar();
    // After a key or a tick: if that ended the game, assistive technology is told how.
    void tellIfGameEnded();
    // After a Start or a hit: assistive technology is told the key to press.
    void tellTurn();
    // Moves the screen reader's focus there.
    void tell(QWidget* focus);

    Game game_;
    KeyEntry keyEntry_;
    KeyEntry::Press pressKey_;
    DueTicks tmr2_;
    Ticker tmr1_;
    Bar* picture1_ = nullptr;
    std::array<Label*, 36> lblkirjain_{};
    Label* label1_ = nullptr;
    Label* lblpisteet_ = nullptr;
    Label* lblotsikko_ = nullptr;
    QAction* mnustart_ = nullptr;
    QAction* mnusound_ = nullptr;
    QAction* mnuquit_ = nullptr;
    Sound sound_;
    std::function<void()> bell_;
    QWidget* announced_ = nullptr;
    std::uint64_t turnsTold_ = 0;
};

// The countdown bar: a one-pixel line that, while shown and enabled, holds the keyboard focus
// and hands every typed character to the game.
class Bar : public QWidget {
  public:
    Bar(QWidget* parent, Frmsormio& window, const Control& control);

    const Frmsormio& owner() const { return window_; }
    // Where and how wide the description draws it: the most it is ever given.
    const Rect& drawn() const { return control_.geometry; }
    // Forgets a half-typed dead key or composition, at the end of a turn.
    void dropComposition();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // What an input method or the platform's compose commits: the characters typed.
    void inputMethodEvent(QInputMethodEvent* event) override;
    // Tab is a key like any other here, not a move to the next control.
    bool focusNextPrevChild(bool) override { return false; }

  private:
    Frmsormio& window_;
    const Control& control_;
};

}  // namespace sormio
