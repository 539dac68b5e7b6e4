#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "key_table.h"

namespace sormio {
namespace {

struct Expected {
    int tile;
    char glyph;
    int charCode, keyCode, row, column, left, top, leftTwips, topTwips;
};

// The drawn keyboard, written out by hand in tile order.
constexpr Expected kKeyboard[36] = {
    {0, '1', 49, 1, 1, 1, 240, 168, 3600, 2520},   {1, '2', 50, 2, 1, 2, 272, 168, 4080, 2520},
    {2, '3', 51, 3, 1, 3, 304, 168, 4560, 2520},   {3, '4', 52, 4, 1, 4, 336, 168, 5040, 2520},
    {4, '5', 53, 5, 1, 5, 368, 168, 5520, 2520},   {5, '6', 54, 6, 1, 6, 400, 168, 6000, 2520},
    {6, '7', 55, 7, 1, 7, 432, 168, 6480, 2520},   {7, '8', 56, 8, 1, 8, 464, 168, 6960, 2520},
    {8, '9', 57, 9, 1, 9, 496, 168, 7440, 2520},   {9, '0', 48, 0, 1, 10, 528, 168, 7920, 2520},
    {10, 'Q', 81, 26, 2, 1, 256, 200, 3840, 3000}, {11, 'W', 87, 32, 2, 2, 288, 200, 4320, 3000},
    {12, 'E', 69, 14, 2, 3, 320, 200, 4800, 3000}, {13, 'R', 82, 27, 2, 4, 352, 200, 5280, 3000},
    {14, 'T', 84, 29, 2, 5, 384, 200, 5760, 3000}, {15, 'Y', 89, 34, 2, 6, 416, 200, 6240, 3000},
    {16, 'U', 85, 30, 2, 7, 448, 200, 6720, 3000}, {17, 'I', 73, 18, 2, 8, 480, 200, 7200, 3000},
    {18, 'O', 79, 24, 2, 9, 512, 200, 7680, 3000}, {19, 'P', 80, 25, 2, 10, 544, 200, 8160, 3000},
    {20, 'A', 65, 10, 3, 1, 272, 232, 4080, 3480}, {21, 'S', 83, 28, 3, 2, 304, 232, 4560, 3480},
    {22, 'D', 68, 13, 3, 3, 336, 232, 5040, 3480}, {23, 'F', 70, 15, 3, 4, 368, 232, 5520, 3480},
    {24, 'G', 71, 16, 3, 5, 400, 232, 6000, 3480}, {25, 'H', 72, 17, 3, 6, 432, 232, 6480, 3480},
    {26, 'J', 74, 19, 3, 7, 464, 232, 6960, 3480}, {27, 'K', 75, 20, 3, 8, 496, 232, 7440, 3480},
    {28, 'L', 76, 21, 3, 9, 528, 232, 7920, 3480}, {29, 'Z', 90, 35, 4, 1, 288, 264, 4320, 3960},
    {30, 'X', 88, 33, 4, 2, 320, 264, 4800, 3960}, {31, 'C', 67, 12, 4, 3, 352, 264, 5280, 3960},
    {32, 'V', 86, 31, 4, 4, 384, 264, 5760, 3960}, {33, 'B', 66, 11, 4, 5, 416, 264, 6240, 3960},
    {34, 'N', 78, 23, 4, 6, 448, 264, 6720, 3960}, {35, 'M', 77, 22, 4, 7, 480, 264, 7200, 3960},
};

// The same facts read by key code: "0".."9", then "A".."Z".
constexpr int kTileOfKeyCode[36] = {9,  0,  1,  2,  3,  4,  5,  6,  7,  8,  20, 33,
                                    31, 22, 12, 23, 24, 25, 17, 26, 27, 28, 35, 34,
                                    18, 19, 10, 13, 21, 14, 16, 32, 11, 30, 15, 29};

TEST(KeyTable, everyRowMatchesTheDrawnKeyboard) {
    // Each row of the built-in table holds exactly the tile, character and position drawn.
    for (const Expected& e : kKeyboard) {
        SCOPED_TRACE(e.glyph);
        const KeyRow& row = KeyTable::rows()[e.tile];
        EXPECT_EQ(row.tile, e.tile);
        EXPECT_EQ(row.glyph, e.glyph);
        EXPECT_EQ(row.charCode, e.charCode);
        EXPECT_EQ(row.keyCode, e.keyCode);
        EXPECT_EQ(row.row, e.row);
        EXPECT_EQ(row.column, e.column);
        EXPECT_EQ(row.left, e.left);
        EXPECT_EQ(row.top, e.top);
        EXPECT_EQ(row.left * KeyTable::kTwipsPerPixel, e.leftTwips);
        EXPECT_EQ(row.top * KeyTable::kTwipsPerPixel, e.topTwips);
    }
}

TEST(KeyTable, lookupsAgreeInBothDirections) {
    // From a key code to its tile and character, and from the character back to the key code.
    for (int key = 0; key < 36; ++key) {
        SCOPED_TRACE(key);
        const int tile = kTileOfKeyCode[key];
        EXPECT_EQ(KeyTable::tileOfKey(key), tile);
        EXPECT_EQ(KeyTable::charCodeOfKey(key), kKeyboard[tile].charCode);
        EXPECT_EQ(KeyTable::keyOfCharCode(kKeyboard[tile].charCode), key);
        const TilePosition pos = KeyTable::positionOfTile(tile);
        EXPECT_EQ(pos.left, kKeyboard[tile].left);
        EXPECT_EQ(pos.top, kKeyboard[tile].top);
    }
}

TEST(KeyTable, onlyDigitsAndCapitalsAreKeys) {
    // Space, Enter, "Ä", lower case and every other 16-bit code give no key.
    int keys = 0;
    for (int code = std::numeric_limits<std::int16_t>::min(); code <= 0xFFFF; ++code) {
        keys += KeyTable::keyOfCharCode(code).has_value() ? 1 : 0;
    }
    EXPECT_EQ(keys, 36);
    for (int code : {32, 13, 196, 97, 47, 58, 64, 91, 0}) {
        EXPECT_FALSE(KeyTable::keyOfCharCode(code).has_value()) << code;
    }
}

TEST(KeyTable, onlyWholeNumbersZeroToThirtyFiveNameAKey) {
    // The unset state (0) is key code 0; fractions, out-of-range values and NaN name no key.
    EXPECT_EQ(KeyTable::keyOfValue(0.0f), 0);
    EXPECT_EQ(KeyTable::keyOfValue(-0.0f), 0);
    EXPECT_EQ(KeyTable::keyOfValue(35.0f), 35);
    for (float v :
         {-1.0f, 0.5f, 35.5f, 36.0f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
          std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(KeyTable::keyOfValue(v).has_value()) << v;
    }
}

}  // namespace
}  // namespace sormio
