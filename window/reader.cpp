#include "reader.h"

#include "key_table.h"

namespace sormio::reader {

namespace {

std::string glyphOfKey(int key) {
    return std::string(1, KeyTable::rows()[KeyTable::tileOfKey(key)].glyph);
}

}  // namespace

std::string_view tileState(Rgb background) {
    if (background == rgbOf(TileColour::Red)) {
        return texts().target;
    }
    if (background == rgbOf(TileColour::Blue)) {
        return texts().wrong;
    }
    return {};
}

std::string barName(const GameState& state) {
    const std::optional<int> key = KeyTable::keyOfValue(state.target);
    return key ? glyphOfKey(*key) : std::string();
}

std::string ending(const GameState& state) {
    std::string how(state.timedout != 0 ? texts().timedOut : texts().wrongKey);
    if (state.timedout == 0) {
        if (const std::optional<int> key = KeyTable::keyOfCharCode(state.keycode)) {
            how += ' ' + glyphOfKey(*key);
        }
    }
    return how + ", " + std::string(texts().points) + ' ' + std::to_string(state.score);
}

}  // namespace sormio::reader
