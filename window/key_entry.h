#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sormio {

// From what the player typed to the game's key presses, the same way on every platform. What
// counts is the character typed: each becomes one 8-bit code of the game's code page, and the
// window hands each to the game for as long as the bar takes keys.
//
// Two traps of real keyboards are handled here. An input method may commit a letter and its
// accents separately ("a" and U+0301 for "á"), or a letter that has no single code at all ("j"
// with an acute): either way it is one character, and never the plain letter. And a dead key
// (or Compose) that the platform could not combine with the next key lets that key through as
// itself; it was not typed as itself, so it is no key of the game.
class KeyEntry {
  public:
    using Press = std::function<void(std::uint8_t code)>;

    // Stands for a key that arrived as something other than itself: no key of the game has it.
    static constexpr char32_t kNotAKey = U'\uFFFD';

    // A dead key or Compose went down (or up) and nothing has been typed since.
    void deadKey() { composing_ = true; }
    bool composing() const { return composing_; }
    // Forgets a pending dead key and half a surrogate pair: a new game starts clean.
    void forget() {
        composing_ = false;
        highSurrogate_ = 0;
    }

    // The text of one key press as the platform's key event carries it. After a dead key, it is
    // one key that is not a key of the game, whatever it says.
    void keyText(std::u16string_view text, const Press& press);
    void keyText(std::u32string_view text, const Press& press);
    // What an input method or the platform's compose committed: the characters as typed.
    void committed(std::u16string_view text, const Press& press);
    void committed(std::u32string_view text, const Press& press);
    // One UTF-16 unit of a character message: a character outside the basic plane arrives as
    // two, its surrogate halves, and is one key.
    void unit(char16_t unit, const Press& press);

  private:
    bool composing_ = false;
    char16_t highSurrogate_ = 0;
};

// One key press as the platform reports it, before anything is decided about it: what it typed
// where the platform says, which key it was where that matters, and the modifiers held.
struct KeyPress {
    enum class Name : std::uint8_t {
        Character,  // a key that types what `text` holds
        Enter,
        Escape,
        Backspace,
        Tab,
        Dead,      // a dead key or Compose
        Function,  // F1 and so on: `function` says which
        Other,     // arrows, modifiers and whatever else types nothing
    };
    Name name = Name::Character;
    std::u32string_view text;  // as the platform has it; may be a control character or empty
    int function = 0;          // 1 for F1
    bool shift = false;        // which matters only to a key that types nothing
    bool ctrl = false;
    bool alt = false;  // Alt as a modifier: AltGr, which types characters, is none
    bool meta = false;
    // The platform brings this key's character in an event of its own (a page's keypress after
    // its keydown): the press types nothing by itself.
    bool characterFollows = false;
};

// Combining marks (Unicode categories Mn, Mc and Me).
bool isCombiningMark(char32_t c);

// UTF-16 to code points: a surrogate pair is one, a lone surrogate half stays itself.
std::u32string decodeUtf16(std::u16string_view text);

}  // namespace sormio
