#pragma once

#include <cstdint>
#include <optional>

namespace sormio {

// The game compares 8-bit character codes of the Western European code page (Windows-1252, a
// superset of ISO 8859-1). Typed text arrives as Unicode and is brought into that code page here.
namespace codepage {

// What a character that the code page cannot hold becomes: like any other key outside the
// table, it compares unequal with every key, whatever Unicode would make of it.
constexpr std::uint8_t kReplacement = '?';

// The code of c in the code page, if it has one. No best fit: a full-width "Ａ" or a ligature
// is not "A".
std::optional<std::uint8_t> fromUnicode(char32_t c);

// Upper case by the code page's own rules: "a".."z" and the accented small letters become their
// capitals when the code page holds them ("ä" 228 to "Ä" 196, "ÿ" to "Ÿ" 159); "ß", "µ" and
// every other code stay as they are.
std::uint8_t toUpper(std::uint8_t code);

}  // namespace codepage
}  // namespace sormio
