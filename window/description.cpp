#include "description.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "key_table.h"

namespace sormio {

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr std::string_view kSoundOn = "Äänet päällä";

// The carried faces stand in for a heavy display sans, a bold monospace and a bold script.
constexpr Font kTitleFont{Face::Heavy, "Lato Black", "Lato-Black.ttf", 72, 900};
constexpr Font kScoreFont{Face::Heavy, "Lato Black", "Lato-Black.ttf", 12, 900};
constexpr Font kTileFont{Face::Mono, "DejaVu Sans Mono", "DejaVuSansMono-Bold.ttf", 12, 700};
constexpr Font kCreditFont{Face::Script, "Dancing Script", "DancingScript-Bold.otf", 9.75, 700};

Control timer(std::string_view name, int periodMs, bool running) {
    return {ControlKind::Timer, name,   -1, {}, {}, {}, nullptr, {}, false, false, false, false,
            periodMs,           running};
}

Control label(std::string_view name, int index, Rect geometry, const Font& font,
              std::string caption, bool border, bool visible) {
    return {ControlKind::Label, name, index,  geometry, kWhite, kBlack, &font,
            std::move(caption), true, border, visible,  true,   0,      false};
}

WindowDescription describe() {
    WindowDescription w{
        "Frmsormio",
        "Sormio IV",
        "fi.sormio.SormioIV",
        800,
        450,
        kBlack,
        {0xC0, 0xC0, 0xC0},
        kWhite,
        {},
        {"mnuohjelma",
         "Ohjelma",
         {{{"mnustart", "Käynnistä", 1, Command::Start},
           {"mnusound", kSoundOn, 3, Command::Sound},
           {"mnuquit", "Lopeta", 0, Command::Quit}}}},
    };
    // The sampler draws every 10 ms from the start. The countdown asks for 1 ms, which the
    // platform this game was first written for raised to its 10 ms minimum: its pace is 10 ms.
    w.controls.push_back(timer("Tmr2", 10, true));
    w.controls.push_back(timer("Tmr1", 10, false));
    // The bar takes keys only while shown and enabled; it starts neither.
    w.controls.push_back({ControlKind::Bar,
                          "Picture1",
                          -1,
                          {100, 304, 600, 1},
                          kWhite,
                          kWhite,
                          nullptr,
                          {},
                          false,
                          false,
                          true,
                          false,
                          0,
                          false});
    for (int tile = KeyTable::kKeys - 1; tile >= 0; --tile) {
        const KeyRow& row = KeyTable::rows()[tile];
        w.controls.push_back(label("Lblkirjain", tile,
                                   {row.left, row.top, KeyTable::kTileSize, KeyTable::kTileSize},
                                   kTileFont, std::string(1, row.glyph), true, true));
    }
    w.controls.push_back(label("Label1", -1, {208, 128, 401, 33}, kCreditFont,
                               "TEKIJÄT: SORMIO-TIIMI 2026", false, true));
    w.controls.push_back(
        label("Lblpisteet", -1, {376, 320, 49, 33}, kScoreFont, "0", false, false));
    w.controls.push_back(
        label("Lblotsikko", -1, {16, 8, 769, 129}, kTitleFont, "SORMIO IV", false, true));
    return w;
}

// UTF-8 to code points; the texts here are all well formed.
std::u32string decode(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
            c = c << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        out += c;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

}  // namespace

std::string MenuItem::shortcut() const {
    std::string name;
    if (functionKey > 0) {
        name = 'F';
        name += std::to_string(functionKey);
    }
    return name;
}

const std::vector<std::size_t>& WindowDescription::drawOrder() const {
    // Drawn as created, but the credit line over the title, whose last rows it overlaps: its
    // small script must stay readable, where the title's big letters lose nothing. Only the
    // platforms that draw ask for it (not the page's module, which a phone downloads).
    static const std::vector<std::size_t> order = [this] {
        const std::size_t credit = static_cast<std::size_t>(&control("Label1") - controls.data());
        std::vector<std::size_t> all;
        for (std::size_t i = 0; i < controls.size(); ++i) {
            if (i != credit) {
                all.push_back(i);
            }
        }
        all.push_back(credit);
        return all;
    }();
    return order;
}

std::string Control::fullName() const {
    return index < 0 ? std::string(name) : std::string(name) + "(" + std::to_string(index) + ")";
}

const WindowDescription& windowDescription() {
    static const WindowDescription description = describe();
    return description;
}

const Control& WindowDescription::control(std::string_view wanted) const {
    for (const Control& c : controls) {
        if (c.name == wanted) {
            return c;
        }
    }
    std::abort();  // a name that no control has is a fault of the program itself
}

const Control& WindowDescription::tile(int index) const {
    // Created from the last tile down, right after the two timers and the bar.
    return controls[3 + (KeyTable::kKeys - 1 - index)];
}

const Texts& texts() {
    static constexpr Texts t{
        kSoundOn, "Äänet poissa", "kohde", "väärä", "pisteet", "Aika loppui", "Väärä näppäin",
    };
    return t;
}

int barPixels(float px) {
    const auto drawn = static_cast<float>(windowDescription().control("Picture1").geometry.width);
    return static_cast<int>(std::lround(std::clamp(std::isnan(px) ? 0.0f : px, 0.0f, drawn)));
}

std::string_view toggleSound(GameState& state) {
    state.soundoff = state.soundoff == 0 ? 1 : 0;
    return state.soundoff != 0 ? texts().soundOff : texts().soundOn;
}

std::u32string glyphsOf(Face face) {
    std::u32string glyphs;
    for (const Control& c : windowDescription().controls) {
        if (c.font != nullptr && c.font->face == face) {
            glyphs += decode(c.caption);
            if (c.name == "Lblpisteet") {
                glyphs += U" 0123456789";  // every score: a blank and digits
            }
        }
    }
    return glyphs;
}

}  // namespace sormio
