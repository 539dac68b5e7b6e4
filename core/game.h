#pragma once

#include <cstdint>
#include <string>

#include "sampler.h"
#include "screen.h"

namespace sormio {

// What one game carries. Every member starts at zero or empty, the state of a program that has
// not played yet: no key drawn, no score, sounds on. A Start before the sampler's first tick
// therefore targets key code 0, the key "0".
struct GameState {
    float sample = 0.0f;  // last key code drawn, a whole number 0..35
    int tileloop = 0;     // counter of the loops that clear the tiles; 36 once a loop has run
    float target = 0.0f;  // key code of this turn, copied from sample when the turn starts
    std::int16_t hit = 0;
    // Wide and saturating so that no length of game overflows them: " 40000" after 40,000 hits,
    // and a start width that keeps falling by 3 per point while the bar simply stays at 0.
    std::int64_t score = 0;
    std::int16_t soundoff = 0;  // 0 sounds on, 1 off
    std::int16_t timedout = 0;  // 1 once the countdown has run out in this game
    std::string keytext;        // one 8-bit character while a key is handled, else empty
    std::int64_t startwidth = 0;
    std::int16_t keycode = 0;  // 8-bit character code of the last key typed, upper-cased
};

// The rules, written against Screen only.
//
// One game: mnustart_Click() clears the tiles, resets the score and the start width to 600 and
// calls paaohjelma(), which lights the tile of the key last drawn by the sampler red, gives the
// bar the start width, shows and enables it (the bar now takes the keys) and starts the
// countdown. Each countdown tick, Tmr1_Timer(), takes 3 px off the bar; when it is used up the
// turn has timed out and gameover() runs. A typed key reaches picture1_KeyPress(), which
// upper-cases it into keycode and calls tarkistus(): the countdown stops and the key is compared
// with the target. A hit beeps, scores, makes the start width 3 px shorter and starts the next
// turn through paaohjelma(); a miss calls gameover(), which hides the bar (so no key reaches the
// game any more), beeps 19 times and paints a wrongly typed key of the table blue beside the
// red target. The window then rests until the next Start.
//
// The sampler, Tmr2_Timer(), runs all the time, whether or not a game is running.
class Game {
  public:
    static constexpr int kStartWidth = 600;
    static constexpr int kWidthLostPerPoint = 3;
    static constexpr float kCountdownStep = 3.0f;
    static constexpr float kTimeoutWidth = 1.0f;
    static constexpr float kSamplerRange = 36.0f;
    static constexpr int kGameOverBeeps = 19;

    explicit Game(Screen& screen, Sampler sampler = Sampler{})
        : screen_(screen), sampler_(sampler) {}

    GameState state;

    void mnustart_Click();
    void paaohjelma();
    void tarkistus();
    void gameover();
    void Tmr1_Timer();
    void Tmr2_Timer();
    // The sampler's ticks that fell due while nobody looked, n >= 0 of them at once: leaves the
    // draw that n calls of Tmr2_Timer() would have left, at the cost of one.
    void samplerTicks(std::int64_t n);
    // How many more countdown ticks the running turn lasts if no key comes: each takes
    // kCountdownStep off the bar, and the one that leaves it no wider than kTimeoutWidth ends
    // the turn; a bar already that narrow ends at the next.
    std::int64_t ticksLeft() const;
    // keyascii is an 8-bit character code; it comes back as 0, the key swallowed.
    void picture1_KeyPress(std::int16_t& keyascii);

  private:
    void paintAllTilesBlack();

    Screen& screen_;
    Sampler sampler_;
};

// " 12": the form that a number which is not negative takes as text, one blank first.
std::string scoreText(std::int64_t score);

}  // namespace sormio
