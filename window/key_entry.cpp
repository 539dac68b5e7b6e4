#include "key_entry.h"

#include <string>

#include "codepage.h"

namespace sormio {

namespace {

// Each character typed, with its combining marks, is one key press.
void pressEach(std::u32string_view text, const KeyEntry::Press& press) {
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i + 1;
        while (end < text.size() && isCombiningMark(text[end])) {
            ++end;
        }
        const char32_t c = end - i > 1 ? KeyEntry::kNotAKey : text[i];
        press(codepage::fromUnicode(c).value_or(codepage::kReplacement));
        i = end;
    }
}

}  // namespace

std::u32string decodeUtf16(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out += c;
    }
    return out;
}

void KeyEntry::keyText(std::u32string_view text, const Press& press) {
    if (text.empty()) {
        return;
    }
    if (composing_) {
        composing_ = false;
        pressEach(std::u32string_view(&kNotAKey, 1), press);
        return;
    }
    pressEach(text, press);
}

void KeyEntry::keyText(std::u16string_view text, const Press& press) {
    keyText(decodeUtf16(text), press);
}

void KeyEntry::committed(std::u32string_view text, const Press& press) {
    if (!text.empty()) {
        composing_ = false;
        pressEach(text, press);
    }
}

void KeyEntry::committed(std::u16string_view text, const Press& press) {
    committed(decodeUtf16(text), press);
}

void KeyEntry::unit(char16_t u, const Press& press) {
    const char16_t high = highSurrogate_;
    highSurrogate_ = 0;
    if (u >= 0xD800 && u <= 0xDBFF) {
        if (high != 0) {
            committed(std::u16string_view(&high, 1), press);
        }
        highSurrogate_ = u;
        return;
    }
    if (high != 0 && u >= 0xDC00 && u <= 0xDFFF) {
        const char16_t pair[] = {high, u};
        committed(std::u16string_view(pair, 2), press);
        return;
    }
    if (high != 0) {
        committed(std::u16string_view(&high, 1), press);
    }
    committed(std::u16string_view(&u, 1), press);
}

}  // namespace sormio
