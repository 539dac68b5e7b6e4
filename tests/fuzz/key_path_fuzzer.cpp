// Coverage-guided fuzzing of the key path: raw key-event text, through the shared key entry,
// the code page and the key handler, into the rules, with the invariants of a game checked after
// every step.
//
// The input is read as UTF-16 code units. Four noncharacters act as the other events of the
// game; every other unit is text, and U+FFFF ends one key event's text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codepage.h"
#include "game.h"
#include "key_entry.h"
#include "key_table.h"
#include "recording_screen.h"

namespace {

using sormio::Game;
using sormio::TileColour;
using sormio::testing::RecordingScreen;

constexpr char16_t kEndOfEvent = 0xFFFF;
constexpr char16_t kStart = 0xFFFE;
constexpr char16_t kCountdownTick = 0xFFFD;
constexpr char16_t kSamplerTick = 0xFFFC;
constexpr char16_t kSound = 0xFFFB;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct Play {
    RecordingScreen screen;
    Game game{screen};
    sormio::KeyEntry entry;
    bool started = false;
    long long score = 0;

    void type(std::u16string_view text) {
        entry.keyText(text, [this](std::uint8_t code) {
            if (!screen.takesKeys()) {
                return;  // a hidden bar takes no keys: the rest of the text goes nowhere
            }
            const auto target = sormio::KeyTable::keyOfValue(game.state.target);
            const bool hit = target && sormio::codepage::toUpper(code) ==
                                           sormio::KeyTable::charCodeOfKey(*target);
            std::int16_t keyascii = code;
            game.picture1_KeyPress(keyascii);
            require(keyascii == 0, "the key is swallowed");
            score = hit ? score + 1 : score;
            require(hit == screen.takesKeys(), "a hit goes on, a miss ends the game");
        });
    }

    void check() {
        require(screen.tilesOf(TileColour::Red) == (started ? 1 : 0), "one red tile once started");
        require(screen.tilesOf(TileColour::Blue) <= 1, "at most one blue tile");
        require(screen.shown == screen.countdown, "the bar shows exactly while the countdown runs");
        require(game.state.score == score, "the score counts the hits");
        require(screen.caption == (score > 0 ? sormio::scoreText(score) : "0"), "score caption");
        require(screen.width >= 0.0f && screen.width <= 600.0f, "bar width within 0..600");
        require(sormio::KeyTable::keyOfValue(game.state.sample).has_value(), "sample is a key");
        require(game.state.hit == 0 && game.state.keytext.empty(), "no check is running");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Play play;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit < kSound) {
            text += unit;
            continue;
        }
        play.type(text);
        text.clear();
        switch (unit) {
            case kStart:
                play.game.mnustart_Click();
                play.started = true;
                play.score = 0;
                break;
            case kCountdownTick:
                if (play.screen.countdown) {
                    play.game.Tmr1_Timer();
                }
                break;
            case kSamplerTick:
                play.game.Tmr2_Timer();
                break;
            case kSound:
                play.game.state.soundoff = play.game.state.soundoff == 0 ? 1 : 0;
                break;
            default:
                break;
        }
        play.check();
    }
    play.type(text);
    play.check();
    return 0;
}
