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

std::string nameOf(const Control& control, const View& view, const Telling& telling) {
    if (control.kind == ControlKind::Bar) {
        return telling.key;
    }
    if (control.name == "Lblpisteet") {
        const std::size_t digits = view.score.find_first_not_of(' ');
        return digits == std::string::npos ? view.score : view.score.substr(digits);
    }
    return std::string(control.caption);
}

std::string_view descriptionOf(const Control& control, const View& view) {
    if (control.index >= 0) {
        return tileState(view.tiles[static_cast<std::size_t>(control.index)]);
    }
    return control.name == "Lblpisteet" ? texts().points : std::string_view();
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
