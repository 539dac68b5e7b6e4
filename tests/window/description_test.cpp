#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "description.h"
#include "key_table.h"
#include "reader.h"

namespace sormio {
namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

struct Expected {
    std::string name;
    ControlKind kind;
    Rect geometry;
    std::string caption;
    double points;
    int weight;
    bool border, visible, enabled;
};

// The window as it must look, control by control in creation order.
std::vector<Expected> expectedControls() {
    std::vector<Expected> rows{
        {"Tmr2", ControlKind::Timer, {}, "", 0, 0, false, false, false},
        {"Tmr1", ControlKind::Timer, {}, "", 0, 0, false, false, false},
        {"Picture1", ControlKind::Bar, {100, 304, 600, 1}, "", 0, 0, false, true, false},
    };
    for (int tile = 35; tile >= 0; --tile) {
        const KeyRow& row = KeyTable::rows()[tile];
        rows.push_back({"Lblkirjain(" + std::to_string(tile) + ")",
                        ControlKind::Label,
                        {row.left, row.top, 33, 33},
                        std::string(1, row.glyph),
                        12,
                        700,
                        true,
                        true,
                        true});
    }
    rows.push_back({"Label1",
                    ControlKind::Label,
                    {208, 128, 401, 33},
                    "TEKIJÄT: SORMIO-TIIMI 2026",
                    9.75,
                    700,
                    false,
                    true,
                    true});
    rows.push_back(
        {"Lblpisteet", ControlKind::Label, {376, 320, 49, 33}, "0", 12, 900, false, false, true});
    rows.push_back({"Lblotsikko",
                    ControlKind::Label,
                    {16, 8, 769, 129},
                    "SORMIO IV",
                    72,
                    900,
                    false,
                    true,
                    true});
    return rows;
}

TEST(WindowDescription, everyControlIsCreatedInOrderWhereAndAsTheWindowShowsIt) {
    const WindowDescription& w = windowDescription();
    EXPECT_EQ(w.caption, "Sormio IV");
    EXPECT_EQ(w.clientWidth, 800);
    EXPECT_EQ(w.clientHeight, 450);
    EXPECT_EQ(w.background, kBlack);
    const std::vector<Expected> expected = expectedControls();
    ASSERT_EQ(w.controls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Control& c = w.controls[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(c.fullName(), e.name);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_EQ(c.geometry, e.geometry);
        EXPECT_EQ(c.caption, e.caption);
        EXPECT_EQ(c.border, e.border);
        EXPECT_EQ(c.visible, e.visible);
        EXPECT_EQ(c.enabled, e.enabled);
        if (c.kind == ControlKind::Label) {
            ASSERT_NE(c.font, nullptr);
            EXPECT_EQ(c.font->points, e.points);
            EXPECT_EQ(c.font->weight, e.weight);
            EXPECT_TRUE(c.text == kWhite && c.background == kBlack && c.centred);
        }
    }
    EXPECT_EQ(w.tile(9).caption, "0");
    EXPECT_EQ(w.control("Tmr2").periodMs, 10);
    EXPECT_TRUE(w.control("Tmr2").running && !w.control("Tmr1").running);
    EXPECT_NE(w.barColour, kBlack) << "the bar must show against the background";
}

TEST(WindowDescription, drawsEveryControlOnceAndTheCreditLineOverTheTitle) {
    const WindowDescription& w = windowDescription();
    std::vector<std::size_t> order = w.drawOrder();
    const auto place = [&](std::string_view name) {
        const auto c = std::find_if(w.controls.begin(), w.controls.end(),
                                    [&](const Control& k) { return k.name == name; });
        return std::find(order.begin(), order.end(), std::size_t(c - w.controls.begin())) -
               order.begin();
    };
    EXPECT_GT(place("Label1"), place("Lblotsikko"));
    std::sort(order.begin(), order.end());
    for (std::size_t i = 0; i < w.controls.size(); ++i) {
        ASSERT_EQ(order.at(i), i);
    }
}

TEST(WindowDescription, theMenuHoldsItsThreeCommandsWithoutAccessKeys) {
    const Menu& menu = windowDescription().menu;
    EXPECT_EQ(menu.caption, "Ohjelma");
    const std::vector<std::pair<std::string_view, std::string>> items{
        {"Käynnistä", "F1"}, {"Äänet päällä", "F3"}, {"Lopeta", ""}};
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(menu.items[i].caption, items[i].first);
        EXPECT_EQ(menu.items[i].shortcut(), items[i].second);
        EXPECT_EQ(menu.items[i].caption.find('&'), std::string_view::npos);
    }
    EXPECT_EQ(texts().soundOff, "Äänet poissa");
}

TEST(WindowDescription, eachFaceCarriesTheGlyphsDrawnInIt) {
    EXPECT_EQ(glyphsOf(Face::Mono).size(), 36u);
    EXPECT_EQ(glyphsOf(Face::Heavy), U"0 0123456789SORMIO IV");
    EXPECT_EQ(glyphsOf(Face::Script), U"TEKIJÄT: SORMIO-TIIMI 2026");
}

TEST(WindowDescription, theBarIsNeverWiderThanDrawnNorNarrowerThanNothing) {
    EXPECT_EQ(barPixels(597.0f), 597);
    EXPECT_EQ(barPixels(-3.0f), 0);
    EXPECT_EQ(barPixels(std::nanf("")), 0);
    EXPECT_EQ(barPixels(1e30f), 600);
    GameState state;
    EXPECT_EQ(toggleSound(state), "Äänet poissa");
    EXPECT_EQ(toggleSound(state), "Äänet päällä") << "twice: back where it was";
    EXPECT_EQ(state.soundoff, 0);
}

TEST(ScreenReader, tellsTheKeyToPressAndHowAGameEnded) {
    GameState state;
    state.target = 14;  // E
    state.score = 3;
    EXPECT_EQ(reader::barName(state), "E");
    state.keycode = 'W';
    EXPECT_EQ(reader::ending(state), "Väärä näppäin W, pisteet 3");
    state.keycode = 196;  // Ä: no key of the game
    EXPECT_EQ(reader::ending(state), "Väärä näppäin, pisteet 3");
    state.timedout = 1;
    EXPECT_EQ(reader::ending(state), "Aika loppui, pisteet 3");
    EXPECT_EQ(reader::tileState(rgbOf(TileColour::Red)), "kohde");
    EXPECT_EQ(reader::tileState(rgbOf(TileColour::Blue)), "väärä");
    EXPECT_EQ(reader::tileState(rgbOf(TileColour::Black)), "");

    // Each control's name and description, the same on every platform.
    const WindowDescription& w = windowDescription();
    View view;
    view.score = " 3";
    view.tiles[5] = rgbOf(TileColour::Red);
    Telling telling;
    telling.key = "E";
    EXPECT_EQ(reader::nameOf(w.control("Lblpisteet"), view, telling), "3");
    EXPECT_EQ(reader::descriptionOf(w.control("Lblpisteet"), view), "pisteet");
    EXPECT_EQ(reader::nameOf(w.control("Picture1"), view, telling), "E");
    EXPECT_EQ(reader::nameOf(w.tile(5), view, telling), w.tile(5).caption);
    EXPECT_EQ(reader::descriptionOf(w.tile(5), view), "kohde");
    EXPECT_EQ(reader::descriptionOf(w.tile(6), view), "");
    EXPECT_EQ(reader::nameOf(w.control("Lblotsikko"), view, telling), "SORMIO IV");
}

}  // namespace
}  // namespace sormio
