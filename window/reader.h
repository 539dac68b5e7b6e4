#pragma once

#include <string>
#include <string_view>

#include "description.h"
#include "frmsormio.h"
#include "game.h"

namespace sormio::reader {

// What a screen reader is told, the same on every platform: the tiles by their characters and
// a state, the bar by the key to press with the width left as its value, the score by its
// text, and at the end of a game a sentence that says how it ended.

// "kohde" for the key to press, "väärä" for the wrong key that ended the game, else empty.
std::string_view tileState(Rgb background);

// The key to press during a turn ("E"); empty when no key is lit.
std::string barName(const GameState& state);

struct BarValue {
    static constexpr int kMinimum = 0;
    static constexpr int kMaximum = Game::kStartWidth;
    static constexpr int kStep = static_cast<int>(Game::kCountdownStep);
};

// What a screen reader reads as a control's name: a tile its character, the bar the key to
// press, the score its number (" 3" reads as "3": the blank is the number's form, not part of
// it), any other label its caption.
std::string nameOf(const Control& control, const View& view, const Telling& telling);
// "kohde" or "väärä" for a tile, "pisteet" for the score, else empty.
std::string_view descriptionOf(const Control& control, const View& view);

// "Väärä näppäin X, pisteet N" or "Aika loppui, pisteet N"; "Väärä näppäin, pisteet N" when
// the wrong key was none of the game's.
std::string ending(const GameState& state);

}  // namespace sormio::reader
