#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accessible.h"
#include "description.h"
#include "game.h"
#include "key_entry.h"
#include "sound.h"
#include "ticker.h"
#include "ticks.h"

namespace sormio {

// The game's one window on Windows. It owns the game and every control for the whole run,
// implements Screen on those controls, and turns menu commands, character messages and timer
// ticks into calls of the game's procedures. Labels are owner-drawn static controls, so that a
// screen reader names them by their text; the bar is a control of its own that holds the focus
// during a turn and takes the character messages.
class Frmsormio : public Screen {
  public:
    Frmsormio();
    ~Frmsormio() override;
    Frmsormio(const Frmsormio&) = delete;
    Frmsormio& operator=(const Frmsormio&) = delete;

    // Creates the window from the description and shows it; false if the system refused.
    bool create(HINSTANCE instance, int show);
    HWND hwnd() const { return hwnd_; }
    HACCEL accelerators() const { return accelerators_; }
    Ticker& countdown() { return tmr1_; }

    // Screen; virtual, so that a benchmark can stamp what the game does
    void paintTile(int tile, TileColour colour) override;
    float barWidth() const override { return static_cast<float>(barWidth_); }
    void setBarWidth(float px) override;
    void setBarShown(bool on) override;
    void setBarEnabled(bool on) override;
    void setCountdown(bool on) override;
    void setScoreCaption(const std::string& text) override;
    void showScore() override;
    void beep() override;

    void Form_Load();
    void mnustart_Click();
    void mnusound_Click();
    void mnuquit_Click();
    // One UTF-16 unit of a character message to the bar.
    void picture1_Char(char16_t unit);

    Game& game() { return game_; }

  private:
    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK barProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    void buildMenu();
    void buildControls();
    // Places every control and makes the fonts for the window's current scale.
    void layOut();
    void showLabelControls();
    void paintWindow();
    // Label i of the description, where the window draws it; none if a control draws it.
    void paintLabel(HDC dc, std::size_t i, const RECT& area);
    // Label i into `all`, in the coordinates of dc.
    void drawLabel(HDC dc, std::size_t i, const RECT& all);
    void invalidateLabel(std::size_t i);
    // Where tile t's label is in the description: after the two timers and the bar, from the
    // last tile down.
    static std::size_t tileLabel(int tile) { return static_cast<std::size_t>(3 + 35 - tile); }
    void paintBar(HWND bar);
    bool barTakesKeys() const;
    void moveFocusToMatchBar();
    void tellIfGameEnded();
    // Tells a screen reader what the controls' texts do not, if one runs.
    void annotate();
    void end();
    // Client pixels at the window's scale, snapped so that shared edges stay shared.
    int scaled(int units) const;
    RECT scaledRect(const Rect& r) const;

    Game game_;
    KeyEntry keyEntry_;
    KeyEntry::Press pressKey_;
    DueTicks tmr2_;
    Ticker tmr1_;
    Sound sound_;
    Annotations annotations_;
    HWND hwnd_ = nullptr;
    HWND picture1_ = nullptr;
    // What each label of the description shows now, in description order (the timers and the
    // bar have empty ones), and its static control while a screen reader runs.
    struct Label {
        std::wstring text;
        Rgb background{};
        bool visible = false;
        HWND control = nullptr;
    };
    std::vector<Label> labels_;
    std::size_t score_ = 0;
    HMENU mnuohjelma_ = nullptr;
    HACCEL accelerators_ = nullptr;
    std::vector<HFONT> fonts_;  // per control, at the current scale
    int barWidth_ = 0;
    UINT dpi_ = 96;
    bool told_ = false;
};

// One thread, one loop: messages, and during a turn the countdown's timer, each handled to
// completion before the next is taken. Returns when `done` says so after a message or a tick
// (a benchmark's turn), or with WM_QUIT's code.
int runMessageLoop(Frmsormio& window, const std::function<bool()>& done = {});

}  // namespace sormio
