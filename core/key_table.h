#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sormio {

// The 36 keys of the game, named two ways. The key code (0..35) follows character order,
// "0".."9" then "A".."Z", and is what the sampler draws. The tile index (0..35) follows the
// drawn keyboard row by row, so the digit "0" is tile 9, not tile 0.
struct KeyRow {
    int tile;      // index into the window's tile array
    char glyph;    // caption of the tile
    int charCode;  // 8-bit character code: 48..57, 65..90
    int keyCode;   // 0..35
    int row;       // 1..4, top row first
    int column;    // 1..10
    int left;      // pixels of the client area
    int top;
};

struct TilePosition {
    int left;
    int top;
};

class KeyTable {
  public:
    static constexpr int kKeys = 36;
    static constexpr int kTileSize = 33;  // neighbours overlap by one pixel, sharing a border
    static constexpr int kTileSpacing = 32;
    static constexpr int kTwipsPerPixel = 15;

    // Rows in tile order.
    static const std::array<KeyRow, kKeys>& rows();

    // All lookups are total over their domain: 0 <= keyCode < 36, 0 <= tile < 36.
    static int charCodeOfKey(int keyCode);
    static int tileOfKey(int keyCode);
    static TilePosition positionOfTile(int tile);
    // No key for any code outside 48..57 and 65..90; lower case never matches.
    static std::optional<int> keyOfCharCode(int charCode);

    // Key codes live in the game state as floats that may still be unset (0). Only a value equal
    // to a whole number 0..35 names a key.
    static std::optional<int> keyOfValue(float value);
};

}  // namespace sormio
