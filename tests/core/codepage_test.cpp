#include <gtest/gtest.h>

#include "codepage.h"

namespace sormio {
namespace {

TEST(Codepage, latinOneAndTheWesternExtrasMapToTheirCodes) {
    for (char32_t c = 0; c < 0x80; ++c) {
        EXPECT_EQ(codepage::fromUnicode(c), c);
    }
    for (char32_t c = 0xA0; c <= 0xFF; ++c) {
        EXPECT_EQ(codepage::fromUnicode(c), c);
    }
    EXPECT_EQ(codepage::fromUnicode(U'€'), 0x80);
    EXPECT_EQ(codepage::fromUnicode(U'Š'), 0x8A);
    EXPECT_EQ(codepage::fromUnicode(U'ž'), 0x9E);
    EXPECT_EQ(codepage::fromUnicode(U'Ÿ'), 0x9F);
    EXPECT_EQ(codepage::fromUnicode(U'\u0081'), 0x81);
}

TEST(Codepage, charactersOutsideTheCodePageHaveNoCode) {
    // No best fit: full-width letters, ligatures, dotless i and Greek are not their look-alikes.
    for (char32_t c : {U'\u0080', U'\u009F', U'\u0100', U'\u0131', U'\u03A3', U'\uFB01', U'\uFF21',
                       U'\uFF45', U'\u212A', U'\U0001F600', U'\U0010FFFF', char32_t{0xD800}}) {
        EXPECT_FALSE(codepage::fromUnicode(c).has_value()) << static_cast<unsigned>(c);
    }
}

TEST(Codepage, upperCaseFollowsTheCodePage) {
    EXPECT_EQ(codepage::toUpper('e'), 'E');
    EXPECT_EQ(codepage::toUpper('E'), 'E');
    EXPECT_EQ(codepage::toUpper(0xE4), 196);   // ä Ä
    EXPECT_EQ(codepage::toUpper(0xFE), 0xDE);  // þ Þ
    EXPECT_EQ(codepage::toUpper(0xFF), 0x9F);  // ÿ Ÿ
    EXPECT_EQ(codepage::toUpper(0x9A), 0x8A);  // š Š
    for (int unchanged : {0xDF, 0xB5, 0xF7, 0x83, int{'1'}, int{' '}, 0, int{'{'}, 0x7F}) {
        EXPECT_EQ(codepage::toUpper(static_cast<std::uint8_t>(unchanged)), unchanged);
    }
    int changed = 0;
    for (int c = 0; c < 256; ++c) {
        changed += codepage::toUpper(static_cast<std::uint8_t>(c)) != c ? 1 : 0;
    }
    EXPECT_EQ(changed, 26 + 30 + 4);
}

}  // namespace
}  // namespace sormio
