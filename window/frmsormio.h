#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "description.h"
#include "game.h"
#include "key_entry.h"
#include "key_table.h"
#include "screen.h"
#include "ticks.h"

namespace sormio {

// What the window shows now. Every platform draws exactly this.
struct View {
    std::array<Rgb, KeyTable::kKeys> tiles{};  // backgrounds, by tile index
    int barWidth = 0;                          // whole pixels, 0..the drawn width
    bool barShown = false;
    bool barEnabled = false;
    std::string score;  // the score label's caption
    bool scoreShown = false;
    std::string_view soundCaption;  // the sound item's caption

    // A shown and enabled bar holds the keyboard focus and takes the player's keys.
    bool barTakesKeys() const { return barShown && barEnabled; }
};

// What a screen reader is told, the same on every platform.
struct Telling {
    // Where a screen reader's focus is taken to tell the turn or the ending: it speaks what the
    // focus comes to, and nothing of a focus that does not move.
    enum class Focus : std::uint8_t { None, Tile, Bar, Ending };

    // The key to press while a turn runs ("E"), and its tile; empty and -1 outside a turn.
    std::string key;
    int tile = -1;
    // Counts the turns told: every Start and every hit is a new one, also when its key is the
    // same as the last.
    std::uint64_t turn = 0;
    // This turn's key is the one told last, with no end of a game in between: a screen reader
    // that speaks only what changed would say nothing of it.
    bool sameKey = false;
    // Where the focus is now, as told: the tile named by the key, the bar (also named by it), or
    // the ending; none before the first game.
    Focus focus = Focus::None;
    // The bar's value as told: its width when the turn was lit. A value that changed with every
    // tick would flood a screen reader that hears changes with events.
    int value = 0;
    // How the last game ended, from its end until the next Start; empty otherwise.
    std::string ending;
};

// How a platform's screen reader follows the focus, where platforms differ; Frmsormio decides
// from it where each turn is told.
struct ReaderFocus {
    // A tile can take a screen reader's focus; where none can, the bar tells every turn.
    bool tiles = true;
    // Keys go on to the bar while a tile holds a screen reader's focus, so a reader may have
    // taken its focus back to the bar on the key: a tile told again through the bar is told
    // once more a moment later.
    bool keysStayOnBar = false;
    // A screen reader's focus that comes to the game from outside it goes to the bar first: a
    // page's reader leaves its reading mode, in which letters are its own commands, only as the
    // focus comes to a control.
    bool barFirst = false;
};

// Bits of Platform::draw(): what changed since the platform last drew.
struct Change {
    static constexpr unsigned Tiles = 1u << 0;
    static constexpr unsigned Bar = 1u << 1;
    static constexpr unsigned Score = 1u << 2;
    static constexpr unsigned SoundItem = 1u << 3;
    static constexpr unsigned Turn = 1u << 4;    // a turn to tell, or to tell again: Telling
    static constexpr unsigned Ending = 1u << 5;  // Telling::ending set, or cleared by a Start
    static constexpr unsigned Picture = Tiles | Bar | Score | SoundItem;
};

// What Frmsormio asks of the platform it runs on. Every call comes on the window's thread, at
// the end of one of Frmsormio's calls, never in the middle of the rules.
class Platform {
  public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    virtual ~Platform() = default;

    // Draws again what `changes` (bits of Change) names, from Frmsormio::view() and telling():
    // at once or with the next frame, but in that order: the bar (and with it the keyboard
    // focus) before the turn is told.
    virtual void draw(unsigned changes) = 0;
    // Frmsormio::wake() is wanted at `atNs` on the clock the platform passes in: not before
    // (a turn must not end early), and as soon after as it can; or never. Replaces the last.
    virtual void wakeAt(std::int64_t atNs) = 0;
    // Opens the audio, or looks again at audio that is open (a page resumes what its browser
    // suspended). It answers, at once or later, with Frmsormio::audioOpened() or audioLost(),
    // also when the audio was already open.
    virtual void openAudio() = 0;
    // Plays n of the game's tones (Tone::slot(), each a tone and its silence) behind those not
    // yet heard, on audio that said it opened. False when it cannot play them now. Tones it
    // takes and never plays (it went away) come back through Frmsormio::audioLost().
    virtual bool playTones(int n) = 0;
    // Forgets every tone not yet heard.
    virtual void dropTones() = 0;
    // The platform's alert sound, once.
    virtual void ringBell() = 0;
    // Ends the program there and then; a page, as far as a page can.
    virtual void quit() = 0;
    // How its screen reader follows the focus.
    virtual ReaderFocus readerFocus() const { return {}; }
};

// The game's window as every platform runs it: the rules, and all that happens around them,
// decided here once. A platform turns its events into the calls below, each with the time of
// its monotonic clock, and draws, sounds and tells what Platform is asked.
//
// The turn cycle. Form_Load() leaves the bar hidden and disabled, so no key counts yet; the
// sampler's ticks are counted from then on, never woken for. mnustart_Click() opens the audio
// (the first game's), drops the last game's tones, forgets a pending dead key and the last
// ending, takes the sampler's latest draw and runs the rules' Start: one red tile, a full bar
// that takes keys, the countdown on. The platform draws that, tells the key to press and is
// asked to wake Frmsormio at the countdown's next tick; wake() delivers every tick due by
// then. Typed text first settles the ticks due by the time it was typed (a key after the bar
// ran out is too late however late it is handled), then becomes key presses through the shared
// key entry, each handed to the rules only while the bar takes keys. A hit beeps, scores and
// lights the next key, told again even when it is the same one; a miss, or a bar that runs out,
// ends the game: the bar stops taking keys, 19 tones sound, and how the game ended is told
// once, until the next Start clears it. A turn is told by a screen reader's focus coming to
// its tile; where that holds it already (the same key again), to the bar. Tones go to the
// platform's audio, or where none plays to its bell: those asked for while the audio opens wait for
// it, and those it cannot play or loses ring the bell.
class Frmsormio final : private Screen {
  public:
    explicit Frmsormio(Platform& platform, Sampler sampler = Sampler{});

    // The window is up: the bar hidden and disabled, everything drawn, the sampler running.
    void Form_Load(std::int64_t nowNs);

    // A menu item was chosen, from the menu or by its shortcut.
    void command(Command command, std::int64_t nowNs);
    void mnustart_Click(std::int64_t nowNs);
    void mnusound_Click();
    void mnuquit_Click();

    // A key went down. What counts: a menu item's shortcut with no modifier held gives its
    // command; a character typed, Enter, Escape, Backspace, Tab and Ctrl with a letter are keys
    // of the game; a dead key makes the next key no key of the game; Alt or Meta with anything
    // and keys that type nothing are the platform's own. True when the game took it, and the
    // platform does nothing else with it: a shortcut's key (with any modifiers), and a key of
    // the game while the bar takes keys.
    bool key(const KeyPress& press, std::int64_t nowNs);
    // The text of one key press as the platform's key event carries it.
    void keyText(std::u16string_view text, std::int64_t nowNs);
    void keyText(std::u32string_view text, std::int64_t nowNs);
    // What an input method or the platform's compose committed.
    void committed(std::u16string_view text, std::int64_t nowNs);
    void committed(std::u32string_view text, std::int64_t nowNs);
    // One UTF-16 unit of a character message.
    void unit(char16_t unit, std::int64_t nowNs);
    // A dead key or Compose went down (or up): the next key is not itself.
    void deadKey();

    // The countdown's ticks that have fallen due by nowNs. Called when Platform::wakeAt's time
    // has come, or at any other time: a tick is delivered once, and none early.
    void wake(std::int64_t nowNs);
    // When the countdown runs out if no key comes, for a platform that draws once a frame and
    // would otherwise end such a turn at the next one; kNever while it does not run.
    std::int64_t countdownEndsAt() const;
    bool countdownRunning() const { return countdown_; }

    // The audio that openAudio() asked for is open: tones asked for since play now.
    void audioOpened();
    // The audio could not open, or went away with n tones that it never played: the bell rings
    // for those and for the tones still waiting for it, and for every tone until the audio
    // opens again, which the next Start asks for.
    void audioLost(int n);

    const View& view() const { return view_; }
    const Telling& telling() const { return telling_; }
    const Game& game() const { return game_; }

    // Runs `change` on the rules as one of the calls above would, with everything that
    // follows such a call: for a test or a benchmark that sets up a turn of its own.
    void apply(std::int64_t nowNs, const std::function<void(Game&)>& change);

  private:
    // Screen: the rules draw into the view.
    void paintTile(int tile, TileColour colour) override;
    float barWidth() const override { return static_cast<float>(view_.barWidth); }
    void setBarWidth(float px) override;
    void setBarShown(bool on) override;
    void setBarEnabled(bool on) override;
    void setCountdown(bool on) override;
    void setScoreCaption(const std::string& text) override;
    void showScore() override;
    void beep() override { ++beeps_; }

    // The clock moves on (never back): the sampler's draws and the countdown's ticks due by
    // then are made.
    void settle(std::int64_t nowNs);
    void press(std::uint8_t code);
    // What key() decides, between settling and finishing.
    bool take(const KeyPress& press, std::int64_t nowNs);
    // After every call: the tones, what to tell, the drawing, the next wake-up.
    void finish();
    // Where the focus tells a new turn.
    Telling::Focus focusForTurn();
    // n tones to the audio, to wait for it, or to the bell.
    void sound(int n);
    void ringBell(int n);

    Platform& platform_;
    Game game_;
    KeyEntry keyEntry_;
    KeyEntry::Press press_;
    std::int64_t nowNs_ = std::numeric_limits<std::int64_t>::min();
    TickCount sampler_;
    TickCount countdownTicks_;
    bool countdown_ = false;
    View view_;
    std::optional<std::array<Rgb, KeyTable::kKeys>> drawnTiles_;  // none drawn yet
    Telling telling_;
    bool playing_ = false;  // from a Start until the game's end is told
    bool lit_ = false;      // the rules lit a target since the last finish()
    // When the tile told again through the bar is told once more, or kNever.
    std::int64_t retellAtNs_ = Platform::kNever;
    int beeps_ = 0;
    enum class Audio { Closed, Opening, Open } audio_ = Audio::Closed;
    int waiting_ = 0;  // tones asked for while the audio opens
    unsigned changes_ = 0;
};

}  // namespace sormio
