// Coverage-guided fuzzing of the game's sequencing: raw key-event text, dead keys, commands and
// a clock that steps, stalls and jumps, through the shared Frmsormio that every platform drives,
// with the invariants of a game checked after every step.
//
// The input is read as UTF-16 code units. Noncharacters act as the other events of the game;
// every other unit is text, and U+FFFF ends one key event's text. Text goes in as a key event's,
// as an input method's commit, a unit at a time as Windows sends it, or as a key press with or
// without Ctrl held: U+FFF8 switches between them. U+FFF7 is the audio's answer to its opening.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frmsormio.h"
#include "key_table.h"
#include "recording_platform.h"

namespace {

using sormio::Frmsormio;
using sormio::Platform;
using sormio::Rgb;
using sormio::TileColour;

constexpr char16_t kEndOfEvent = 0xFFFF;
constexpr char16_t kStart = 0xFFFE;
constexpr char16_t kCountdownTick = 0xFFFD;  // woken at the moment asked for
constexpr char16_t kSamplerTick = 0xFFFC;    // ten milliseconds pass unwoken
constexpr char16_t kSound = 0xFFFB;
constexpr char16_t kDeadKey = 0xFFFA;
constexpr char16_t kJump = 0xFFF9;  // the clock jumps (or stalls, or goes back) by the next unit
constexpr char16_t kMode = 0xFFF8;
constexpr char16_t kAudio = 0xFFF7;  // opened, or lost with two tones unplayed, in turn
constexpr std::int64_t kMs = 1'000'000;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct Play {
    sormio::testing::RecordingPlatform platform;
    Frmsormio frmsormio{platform};
    std::int64_t now = 0;
    std::int64_t seen = 0;  // the latest time Frmsormio has been told
    int mode = 0;
    bool started = false;
    bool audioOpens = true;

    Play() { frmsormio.Form_Load(now); }

    void type(std::u16string_view text) {
        if (text.empty()) {
            return;
        }
        seen = std::max(seen, now);
        switch (mode) {
            case 0:
                frmsormio.keyText(text, now);
                break;
            case 1:
                frmsormio.committed(text, now);
                break;
            case 2:
                for (const char16_t u : text) {
                    frmsormio.unit(u, now);
                }
                break;
            default: {
                const std::u32string characters = sormio::decodeUtf16(text);
                sormio::KeyPress press;
                press.text = characters;
                press.ctrl = mode == 4;
                frmsormio.key(press, now);
            }
        }
    }

    void check() {
        const sormio::View& view = frmsormio.view();
        int red = 0, blue = 0;
        for (const Rgb& tile : view.tiles) {
            red += tile == sormio::rgbOf(TileColour::Red);
            blue += tile == sormio::rgbOf(TileColour::Blue);
        }
        const sormio::GameState& state = frmsormio.game().state;
        require(red == (started ? 1 : 0), "one red tile once started");
        require(blue <= 1, "at most one blue tile");
        require(view.barShown == frmsormio.countdownRunning(),
                "the bar shows while the countdown runs");
        require(view.barTakesKeys() == view.barShown, "a shown bar takes keys");
        require((platform.wakeAtNs != Platform::kNever) == frmsormio.countdownRunning(),
                "woken exactly while the countdown runs");
        require(!frmsormio.countdownRunning() || platform.wakeAtNs > seen, "woken for what is due");
        require(view.score == (state.score > 0 ? sormio::scoreText(state.score) : "0"),
                "score caption");
        require(view.barWidth >= 0 && view.barWidth <= 600, "bar width within 0..600");
        require(sormio::KeyTable::keyOfValue(state.sample).has_value(), "sample is a key");
        require(state.hit == 0 && state.keytext.empty(), "no check is running");
        require(frmsormio.telling().key.empty() != view.barTakesKeys(), "a key told during a turn");
        require(frmsormio.telling().ending.empty() == (view.barTakesKeys() || !started),
                "the ending told between games");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Play play;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit < kAudio) {
            text += unit;
            continue;
        }
        play.type(text);
        text.clear();
        switch (unit) {
            case kStart:
                play.seen = std::max(play.seen, play.now);
                play.frmsormio.mnustart_Click(play.now);
                play.started = true;
                break;
            case kCountdownTick:
                if (play.platform.wakeAtNs != Platform::kNever) {
                    play.now = play.platform.wakeAtNs;
                }
                play.seen = std::max(play.seen, play.now);
                play.frmsormio.wake(play.now);
                break;
            case kSamplerTick:
                play.now += 10 * kMs;
                break;
            case kSound:
                play.frmsormio.mnusound_Click();
                break;
            case kDeadKey:
                play.frmsormio.deadKey();
                break;
            case kJump:
                if (i + 3 < size) {
                    i += 2;
                    const auto by = static_cast<std::int16_t>(data[i] | (data[i + 1] << 8));
                    play.now += by * kMs;
                    play.seen = std::max(play.seen, play.now);
                    play.frmsormio.wake(play.now);
                }
                break;
            case kMode:
                play.mode = (play.mode + 1) % 5;
                break;
            case kAudio:
                play.audioOpens ? play.frmsormio.audioOpened() : play.frmsormio.audioLost(2);
                play.audioOpens = !play.audioOpens;
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
