#pragma once

#include <cstdint>
#include <string>

namespace sormio {

enum class TileColour : std::uint32_t {
    // Stored as 0x00RRGGBB.
    Black = 0x000000,  // idle
    Red = 0xFF0000,    // the key to press
    Blue = 0x0000FF,   // the wrong key that ended the game
};

// Everything the game asks of its window. The game holds no other handle on it, so it runs
// against a recording fake in the tests exactly as it runs against the real window.
class Screen {
  public:
    virtual ~Screen() = default;

    virtual void paintTile(int tile, TileColour colour) = 0;  // 0 <= tile < 36
    // The bar's width is the countdown's only state: the countdown reads it back every tick.
    virtual float barWidth() const = 0;
    virtual void setBarWidth(float px) = 0;  // below 0 gives width 0
    virtual void setBarShown(bool on) = 0;
    // A shown and enabled bar is the control that receives the player's keys.
    virtual void setBarEnabled(bool on) = 0;
    virtual void setCountdown(bool on) = 0;
    virtual void setScoreCaption(const std::string& text) = 0;
    virtual void showScore() = 0;
    virtual void beep() = 0;
};

}  // namespace sormio
