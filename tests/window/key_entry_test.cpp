#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codepage.h"
#include "key_entry.h"

namespace sormio {
namespace {

constexpr int q = codepage::kReplacement;  // what no key of the game has

class KeyEntryTest : public ::testing::Test {
  protected:
    KeyEntry entry;
    std::vector<int> codes;
    const KeyEntry::Press press = [this](std::uint8_t c) { codes.push_back(c); };

    std::vector<int> keyText(std::u16string_view text) {
        codes.clear();
        entry.keyText(text, press);
        return codes;
    }
    std::vector<int> committed(std::u32string_view text) {
        codes.clear();
        entry.committed(text, press);
        return codes;
    }
};

TEST_F(KeyEntryTest, everyCharacterTypedIsOneKeyPressInOrder) {
    // A surrogate pair is one character, a lone half one more; neither can become a key.
    EXPECT_EQ(keyText(u""), std::vector<int>{});
    EXPECT_EQ(keyText(u"e"), std::vector<int>{'e'});
    EXPECT_EQ(keyText(u"aä€"), (std::vector<int>{'a', 0xE4, 0x80}));
    EXPECT_EQ(keyText(u"x\U0001F600y"), (std::vector<int>{'x', q, 'y'}));
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xDC00, 0xD800};
    EXPECT_EQ(keyText(std::u16string_view(lone, 6)), (std::vector<int>{'a', q, 'b', q, q, q}));
    EXPECT_EQ(keyText(u"\uFF25"), std::vector<int>{q}) << "a full-width E is not E";
}

TEST_F(KeyEntryTest, aLetterWithCombiningMarksIsOneCharacterAndNeverThePlainLetter) {
    EXPECT_EQ(committed(U"e\u0301"), std::vector<int>{q});
    EXPECT_EQ(committed(U"j\u0301\u0323x"), (std::vector<int>{q, 'x'}));
    EXPECT_EQ(committed(U"\u20DDe"), (std::vector<int>{q, 'e'})) << "a mark alone comes first";
    EXPECT_EQ(committed(U"a\U0001D167"), std::vector<int>{q}) << "a mark outside the basic plane";
    EXPECT_TRUE(isCombiningMark(U'\u0301') && isCombiningMark(U'\u0903') &&
                isCombiningMark(U'\u20DD') && isCombiningMark(U'\U000E01EF'));
    EXPECT_FALSE(isCombiningMark(U'e') || isCombiningMark(U'\u00B4') ||
                 isCombiningMark(U'\u02CA') || isCombiningMark(U'\U0010FFFF'));
}

TEST_F(KeyEntryTest, aKeyAfterADeadKeyIsNeverThatKeyButACommitIsWhatItSays) {
    entry.deadKey();
    EXPECT_EQ(keyText(u"e"), std::vector<int>{q});
    EXPECT_EQ(keyText(u"e"), std::vector<int>{'e'}) << "only the one key after the dead key";
    entry.deadKey();
    EXPECT_EQ(committed(U"é"), std::vector<int>{0xE9}) << "what compose made of it";
    EXPECT_EQ(keyText(u"e"), std::vector<int>{'e'});
    entry.deadKey();
    entry.forget();
    EXPECT_EQ(keyText(u"e"), std::vector<int>{'e'}) << "a new game forgets the dead key";
}

TEST_F(KeyEntryTest, surrogateHalvesInSeparateMessagesAreOneCharacter) {
    // As character messages bring a character outside the basic plane: two units, one key.
    const auto units = [&](std::u16string_view text) {
        codes.clear();
        for (char16_t u : text) {
            entry.unit(u, press);
        }
        return codes;
    };
    EXPECT_EQ(units(u"a\U0001F600b"), (std::vector<int>{'a', q, 'b'}));
    const char16_t lone[] = {0xD800, u'e', 0xDC00, 0xD800, 0xD83D, 0xDE00};
    EXPECT_EQ(units(std::u16string_view(lone, 6)), (std::vector<int>{q, 'e', q, q, q}));
}

}  // namespace
}  // namespace sormio
