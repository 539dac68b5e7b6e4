#include "key_table.h"

namespace sormio {

namespace {

constexpr int kRowTops[] = {168, 200, 232, 264};
constexpr int kRowLefts[] = {240, 256, 272, 288};
constexpr const char* kRowKeys[] = {"1234567890", "QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};

constexpr int keyCodeOfGlyph(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

constexpr std::array<KeyRow, KeyTable::kKeys> buildRows() {
    std::array<KeyRow, KeyTable::kKeys> rows{};
    int tile = 0;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; kRowKeys[r][c] != '\0'; ++c, ++tile) {
            const char glyph = kRowKeys[r][c];
            rows[tile] = KeyRow{
                tile,  glyph, static_cast<unsigned char>(glyph),         keyCodeOfGlyph(glyph),
                r + 1, c + 1, kRowLefts[r] + c * KeyTable::kTileSpacing, kRowTops[r]};
        }
    }
    return rows;
}

constexpr std::array<KeyRow, KeyTable::kKeys> kRows = buildRows();

constexpr std::array<int, KeyTable::kKeys> buildTileOfKey() {
    std::array<int, KeyTable::kKeys> tiles{};
    for (const KeyRow& row : kRows) {
        tiles[row.keyCode] = row.tile;
    }
    return tiles;
}

constexpr std::array<int, KeyTable::kKeys> kTileOfKey = buildTileOfKey();

}  // namespace

const std::array<KeyRow, KeyTable::kKeys>& KeyTable::rows() {
    return kRows;
}

int KeyTable::charCodeOfKey(int keyCode) {
    return keyCode < 10 ? '0' + keyCode : 'A' + (keyCode - 10);
}

int KeyTable::tileOfKey(int keyCode) {
    return kTileOfKey[keyCode];
}

TilePosition KeyTable::positionOfTile(int tile) {
    return {kRows[tile].left, kRows[tile].top};
}

std::optional<int> KeyTable::keyOfCharCode(int charCode) {
    if (charCode >= '0' && charCode <= '9') {
        return charCode - '0';
    }
    if (charCode >= 'A' && charCode <= 'Z') {
        return charCode - 'A' + 10;
    }
    return std::nullopt;
}

std::optional<int> KeyTable::keyOfValue(float value) {
    // Written as a range test first so that NaN and huge values never reach the conversion.
    if (!(value >= 0.0f && value <= static_cast<float>(kKeys - 1))) {
        return std::nullopt;
    }
    const int key = static_cast<int>(value);
    if (static_cast<float>(key) != value) {
        return std::nullopt;
    }
    return key;
}

}  // namespace sormio
