#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "description.h"
#include "game.h"
#include "key_entry.h"
#include "key_table.h"
#include "screen.h"
#include "ticks.h"

namespace sormio {

// The game behind a web page. The page owns the document, the clock and the audio; this owns
// the game and keeps what the window shows, for the page to read once per frame. Every call
// brings the page's clock (performance.now(), in milliseconds), so the ticks are counted from
// it by the same bookkeeping as on the desktop, and nothing here ever waits or wakes.
class WebWindow : public Screen {
  public:
    // Bits of changed(): what the page has to draw again.
    enum Change : unsigned { Tiles = 1, Bar = 2, Score = 4, SoundItem = 8, Turn = 16, Ended = 32 };

    explicit WebWindow(double nowMs);

    void mnustart_Click(double nowMs);
    void mnusound_Click();
    // Characters of one key press or of committed text, as the page received them.
    void keyText(std::u32string_view text, double nowMs);
    void deadKey() { keyEntry_.deadKey(); }
    // The ticks that fell due by now; true while the countdown runs and wants the next frame.
    bool frame(double nowMs);
    // When (on the page's clock, ms) the tick that empties the bar falls due, for a page that
    // wants to end the turn on time rather than at its next frame; -1 with no countdown.
    double timeoutAt() const;

    unsigned takeChanges();
    int takeBeeps();
    std::uint32_t tile(int index) const;
    std::string_view tileState(int index) const;
    int bar() const { return barShown_ ? barWidth_ : -1; }  // -1 hidden
    bool barTakesKeys() const { return barShown_ && barEnabled_; }
    bool scoreShown() const { return scoreShown_; }
    const std::string& score() const { return score_; }
    std::string_view soundCaption() const;
    // What a screen reader is told: the key to press (empty outside a turn) and, once a game
    // has ended, how it ended.
    std::string barName() const;
    const std::string& ending() const { return ending_; }

    // Screen
    void paintTile(int tile, TileColour colour) override;
    float barWidth() const override { return static_cast<float>(barWidth_); }
    void setBarWidth(float px) override;
    void setBarShown(bool on) override;
    void setBarEnabled(bool on) override;
    void setCountdown(bool on) override;
    void setScoreCaption(const std::string& text) override;
    void showScore() override;
    void beep() override { ++beeps_; }

  private:
    void setNow(double nowMs);
    void tellIfGameEnded();

    Game game_;
    KeyEntry keyEntry_;
    std::int64_t nowNs_ = 0;
    DueTicks tmr2_;
    TickCount tmr1_;
    bool countdown_ = false;
    std::array<Rgb, KeyTable::kKeys> tiles_;
    int barWidth_ = 0;
    bool barShown_ = false, barEnabled_ = false, scoreShown_ = false, playing_ = false;
    std::string score_, ending_;
    unsigned changes_ = ~0u;
    int beeps_ = 0;
};

}  // namespace sormio
