#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "game.h"
#include "screen.h"

namespace sormio {

// The window as every platform draws it, written once: what it is called, how big its client
// area is, which controls it holds in which order, where each sits and how it looks, and the
// menu. A front-end reads this and adds only what is its platform's own. All texts are UTF-8;
// all positions and sizes are pixels of the client area, origin top left.

struct Rgb {
    std::uint8_t r, g, b;
    constexpr std::uint32_t packed() const { return std::uint32_t{r} << 16 | g << 8 | b; }
    constexpr bool operator==(const Rgb&) const = default;
};

constexpr Rgb rgbOf(TileColour colour) {
    const auto v = static_cast<std::uint32_t>(colour);
    return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v)};
}

struct Rect {
    int left, top, width, height;
    constexpr bool operator==(const Rect&) const = default;
};

// The three faces the game carries, each in one file under window/fonts/.
enum class Face { Heavy, Mono, Script };

struct Font {
    Face face;
    std::string_view family;
    std::string_view file;  // the carried file; a build may carry a subset of it
    double points;
    int weight;  // 400 regular, 700 bold, 900 black
    // At the layout's 96 pixels to the inch: 12 pt is 16 px.
    constexpr double pixels() const { return points * 96.0 / 72.0; }
};

enum class ControlKind { Timer, Bar, Label };

struct Control {
    ControlKind kind;
    std::string_view name;  // "Lblkirjain" for every tile, whose index tells them apart
    int index;              // a tile's index, else -1
    Rect geometry;          // empty for timers
    Rgb text, background;
    const Font* font;  // labels only
    std::string caption;
    bool centred;
    bool border;  // a fixed single line of tileBorder, on the control's own pixels
    bool visible;
    bool enabled;
    int periodMs;  // timers only
    bool running;

    // "Lblkirjain(12)" for a tile, else the name.
    std::string fullName() const;
};

enum class Command { Start, Sound, Quit };

struct MenuItem {
    std::string_view name;
    std::string_view caption;
    int functionKey;  // its shortcut: 1 for F1; 0 for none
    Command command;

    // The shortcut as a key's name ("F1"), or empty.
    std::string shortcut() const;
};

struct Menu {
    std::string_view name;
    std::string_view caption;
    std::array<MenuItem, 3> items;  // in order: Start, sound, quit
};

struct WindowDescription {
    std::string_view name;
    std::string_view caption;
    // Ties the window and its sounds to the program's menu entry, icon and installation.
    std::string_view appId;
    int clientWidth, clientHeight;
    Rgb background;
    Rgb tileBorder;
    Rgb barColour;
    std::vector<Control> controls;  // in creation order
    Menu menu;

    const Control& control(std::string_view name) const;
    // Indices into controls, from the bottom up: a control drawn later lies on top.
    const std::vector<std::size_t>& drawOrder() const;
    const Control& tile(int index) const;  // 0 <= index < 36
};

const WindowDescription& windowDescription();

// The texts that change while the game runs.
struct Texts {
    std::string_view soundOn;   // the sound item while sounds are on
    std::string_view soundOff;  // and while they are off
    // What a screen reader is told.
    std::string_view target;    // the red tile
    std::string_view wrong;     // the blue tile
    std::string_view points;    // the score label, and the count at the end of a game
    std::string_view timedOut;  // how a game ended
    std::string_view wrongKey;
};

const Texts& texts();

// The bar's width in whole pixels when the game sets it to px: never wider than the bar is
// drawn, and 0 for anything below 0 (NaN included).
int barPixels(float px);

// The sound command: switches the game's sounds off or on, and returns the item's new caption.
std::string_view toggleSound(GameState& state);

// Every character that a face draws, for carrying only those glyphs of it.
std::u32string glyphsOf(Face face);

}  // namespace sormio
