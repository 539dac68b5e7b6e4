#include "codepage.h"

#include <array>

namespace sormio::codepage {

namespace {

// 0x80..0x9F, where the code page differs from ISO 8859-1. The five codes that it leaves
// undefined keep the C1 control of the same number, as the platform's own table does.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

constexpr std::array<std::uint8_t, 256> buildUpper() {
    std::array<std::uint8_t, 256> upper{};
    for (int c = 0; c < 256; ++c) {
        upper[c] = static_cast<std::uint8_t>(c);
    }
    for (int c = 'a'; c <= 'z'; ++c) {
        upper[c] = static_cast<std::uint8_t>(c - 0x20);
    }
    for (int c = 0xE0; c <= 0xFE; ++c) {
        if (c != 0xF7) {  // the division sign
            upper[c] = static_cast<std::uint8_t>(c - 0x20);
        }
    }
    upper[0x9A] = 0x8A;  // š Š
    upper[0x9C] = 0x8C;  // œ Œ
    upper[0x9E] = 0x8E;  // ž Ž
    upper[0xFF] = 0x9F;  // ÿ Ÿ
    return upper;
}

constexpr std::array<std::uint8_t, 256> kUpper = buildUpper();

}  // namespace

std::optional<std::uint8_t> fromUnicode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<std::uint8_t>(c);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return std::nullopt;
}

std::uint8_t toUpper(std::uint8_t code) {
    return kUpper[code];
}

}  // namespace sormio::codepage
