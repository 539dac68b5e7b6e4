#include "frmsormio.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "reader.h"

// Out of line where many of the calls that a platform makes share it: inlined into each, it
// would be copied as often into the page's module, which a phone downloads.
#define SORMIO_SHARED_CALL [[gnu::noinline]]

namespace sormio {

namespace {

// How long after the bar tells a tile again the tile itself is told once more: time for a
// screen reader to have said the bar.
constexpr std::int64_t kRetellNs = 150'000'000;

std::chrono::milliseconds periodOf(std::string_view timer) {
    return std::chrono::milliseconds(windowDescription().control(timer).periodMs);
}

// The character a key press types, or none where it types nothing of the game's.
std::optional<char32_t> typedBy(const KeyPress& press) {
    using Name = KeyPress::Name;
    if (press.alt || press.meta) {
        return std::nullopt;  // the desktop's or the browser's
    }
    switch (press.name) {
        case Name::Enter:
            return press.ctrl ? std::nullopt : std::optional<char32_t>(U'\r');
        case Name::Escape:
            return press.ctrl ? std::nullopt : std::optional<char32_t>(U'\x1b');
        case Name::Backspace:
            return press.ctrl ? std::nullopt : std::optional<char32_t>(U'\b');
        case Name::Tab:
            return press.ctrl ? std::nullopt : std::optional<char32_t>(U'\t');
        case Name::Character:
            break;
        default:
            return std::nullopt;
    }
    if (!press.ctrl || press.text.size() != 1) {
        return std::nullopt;
    }
    // Ctrl with a letter types its control character, however the platform reports it.
    const char32_t c = press.text[0];
    if (c < 0x20) {
        return c;
    }
    if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'_')) {
        return c & 0x1F;
    }
    return std::nullopt;
}

}  // namespace

Frmsormio::Frmsormio(Platform& platform, Sampler sampler)
    : platform_(platform),
      game_(*this, sampler),
      press_([this](std::uint8_t code) { press(code); }),
      sampler_(periodOf("Tmr2")),
      countdownTicks_(periodOf("Tmr1")) {
    const WindowDescription& description = windowDescription();
    for (int t = 0; t < KeyTable::kKeys; ++t) {
        view_.tiles[static_cast<std::size_t>(t)] = description.tile(t).background;
    }
    const Control& bar = description.control("Picture1");
    view_.barWidth = bar.geometry.width;
    view_.barShown = bar.visible;
    view_.barEnabled = bar.enabled;
    const Control& score = description.control("Lblpisteet");
    view_.score = score.caption;
    view_.scoreShown = score.visible;
    view_.soundCaption = texts().soundOn;
}

void Frmsormio::Form_Load(std::int64_t nowNs) {
    nowNs_ = nowNs;
    sampler_.start(nowNs);
    setBarShown(false);
    setBarEnabled(false);
    changes_ = Change::Picture | Change::Ending;  // all of it, and nothing told
    finish();
}

SORMIO_SHARED_CALL void Frmsormio::settle(std::int64_t nowNs) {
    nowNs_ = nowNs > nowNs_ ? nowNs : nowNs_;
    game_.samplerTicks(sampler_.take(sampler_.dueBy(nowNs_), TickCount::kNoLimit));
    if (countdown_) {
        // A tick that runs the bar out stops the countdown, and with it the rest of the backlog.
        for (std::int64_t n =
                 countdownTicks_.take(countdownTicks_.dueBy(nowNs_), TickCount::kMaxCatchUp);
             n > 0 && countdown_; --n) {
            game_.Tmr1_Timer();
        }
    }
    if (nowNs_ >= retellAtNs_) {
        retellAtNs_ = Platform::kNever;
        if (view_.barTakesKeys()) {
            telling_.focus = Telling::Focus::Tile;
            changes_ |= Change::Turn;
        }
    }
}

void Frmsormio::mnustart_Click(std::int64_t nowNs) {
    // The last game's ticks come first (it may have run out meanwhile). What is left of its
    // tones, those of that end included, would only delay this game's: dropped. The first game
    // opens the audio, and a later one looks again for audio that was lost.
    settle(nowNs);
    beeps_ = 0;
    waiting_ = 0;
    audio_ = audio_ == Audio::Closed ? Audio::Opening : audio_;  // it may answer at once
    platform_.openAudio();
    platform_.dropTones();
    keyEntry_.forget();  // a dead key or half a character before Start is not this game's
    if (!telling_.ending.empty()) {
        telling_.ending.clear();
        changes_ |= Change::Ending;
    }
    playing_ = true;
    game_.mnustart_Click();
    finish();
}

SORMIO_SHARED_CALL void Frmsormio::command(Command command, std::int64_t nowNs) {
    switch (command) {
        case Command::Start:
            mnustart_Click(nowNs);
            break;
        case Command::Sound:
            mnusound_Click();
            break;
        case Command::Quit:
            mnuquit_Click();
            break;
    }
}

bool Frmsormio::key(const KeyPress& press, std::int64_t nowNs) {
    settle(nowNs);  // whatever the key is, the time it came is now
    const bool taken = take(press, nowNs);
    finish();
    return taken;
}

SORMIO_SHARED_CALL bool Frmsormio::take(const KeyPress& press, std::int64_t nowNs) {
    using Name = KeyPress::Name;
    if (press.name == Name::Function) {
        for (const MenuItem& item : windowDescription().menu.items) {
            if (item.functionKey == press.function) {
                if (!press.shift && !press.ctrl && !press.alt && !press.meta) {
                    command(item.command, nowNs);
                }
                return true;
            }
        }
        return false;
    }
    if (press.name == Name::Dead) {
        keyEntry_.deadKey();
        return false;  // the platform's compose still wants it
    }
    std::u32string_view text;
    char32_t control = 0;
    if (const std::optional<char32_t> c = typedBy(press)) {
        control = *c;
        text = std::u32string_view(&control, 1);
    } else if (press.name == Name::Character && !press.ctrl && !press.alt && !press.meta &&
               !press.characterFollows) {
        text = press.text;
    }
    if (text.empty()) {
        return false;
    }
    const bool taken = view_.barTakesKeys();
    keyEntry_.keyText(text, press_);
    return taken;
}

void Frmsormio::mnusound_Click() {
    view_.soundCaption = toggleSound(game_.state);
    changes_ |= Change::SoundItem;
    finish();
}

void Frmsormio::mnuquit_Click() {
    platform_.quit();
}

void Frmsormio::keyText(std::u16string_view text, std::int64_t nowNs) {
    settle(nowNs);
    keyEntry_.keyText(text, press_);
    finish();
}

void Frmsormio::keyText(std::u32string_view text, std::int64_t nowNs) {
    settle(nowNs);
    keyEntry_.keyText(text, press_);
    finish();
}

void Frmsormio::committed(std::u16string_view text, std::int64_t nowNs) {
    settle(nowNs);
    keyEntry_.committed(text, press_);
    finish();
}

void Frmsormio::committed(std::u32string_view text, std::int64_t nowNs) {
    settle(nowNs);
    keyEntry_.committed(text, press_);
    finish();
}

void Frmsormio::unit(char16_t unit, std::int64_t nowNs) {
    settle(nowNs);
    keyEntry_.unit(unit, press_);
    finish();
}

void Frmsormio::deadKey() {
    keyEntry_.deadKey();
}

void Frmsormio::press(std::uint8_t code) {
    // Only a bar that takes keys hands them on: after a miss, the rest of the text goes nowhere.
    if (view_.barTakesKeys()) {
        std::int16_t keyascii = code;
        game_.picture1_KeyPress(keyascii);
    }
}

void Frmsormio::wake(std::int64_t nowNs) {
    settle(nowNs);
    finish();
}

std::int64_t Frmsormio::countdownEndsAt() const {
    if (!countdown_) {
        return Platform::kNever;
    }
    return countdownTicks_.deadlineOf(countdownTicks_.delivered() + game_.ticksLeft());
}

void Frmsormio::audioOpened() {
    audio_ = Audio::Open;
    const int n = waiting_;
    waiting_ = 0;
    if (n > 0) {
        sound(n);
    }
}

void Frmsormio::audioLost(int n) {
    audio_ = Audio::Closed;
    ringBell(n + waiting_);
    waiting_ = 0;
}

SORMIO_SHARED_CALL void Frmsormio::sound(int n) {
    switch (audio_) {
        case Audio::Open:
            if (!platform_.playTones(n)) {
                ringBell(n);
            }
            break;
        case Audio::Opening:
            waiting_ += n;
            break;
        case Audio::Closed:
            ringBell(n);
            break;
    }
}

void Frmsormio::ringBell(int n) {
    for (int i = 0; i < n; ++i) {
        platform_.ringBell();
    }
}

void Frmsormio::apply(std::int64_t nowNs, const std::function<void(Game&)>& change) {
    settle(nowNs);
    change(game_);
    finish();
}

SORMIO_SHARED_CALL void Frmsormio::finish() {
    if (beeps_ > 0) {
        const int n = beeps_;
        beeps_ = 0;
        sound(n);
    }
    if (playing_ && !view_.barTakesKeys()) {
        // The game is over: told once, and no key typed before it is part of the next.
        playing_ = false;
        keyEntry_.forget();
        telling_.key.clear();
        telling_.tile = -1;
        telling_.ending = reader::ending(game_.state);
        telling_.focus = Telling::Focus::Ending;
        retellAtNs_ = Platform::kNever;
        changes_ |= Change::Ending;
    } else if (lit_ && view_.barTakesKeys()) {
        const std::string key = reader::barName(game_.state);
        telling_.sameKey = key == telling_.key;
        telling_.key = key;
        const std::optional<int> lit = KeyTable::keyOfValue(game_.state.target);
        telling_.tile = lit ? KeyTable::tileOfKey(*lit) : -1;
        telling_.value = view_.barWidth;
        telling_.focus = focusForTurn();
        ++telling_.turn;
        changes_ |= Change::Turn;
    }
    lit_ = false;
    // Every turn paints all tiles black and one red: only a different picture is a change
    // (but the first drawing draws all, whatever the platform showed before).
    if ((changes_ & Change::Tiles) != 0 && drawnTiles_ == view_.tiles) {
        changes_ &= ~Change::Tiles;
    }
    if (changes_ != 0) {
        drawnTiles_ = view_.tiles;
    }
    if (changes_ != 0) {
        const unsigned changes = changes_;
        changes_ = 0;
        platform_.draw(changes);
    }
    platform_.wakeAt(std::min(
        countdown_ ? countdownTicks_.deadlineOf(countdownTicks_.delivered() + 1) : Platform::kNever,
        retellAtNs_));
}

Telling::Focus Frmsormio::focusForTurn() {
    using Focus = Telling::Focus;
    const ReaderFocus reader = platform_.readerFocus();
    retellAtNs_ = Platform::kNever;
    if (!reader.tiles || (reader.barFirst && telling_.focus == Focus::None)) {
        return Focus::Bar;
    }
    if (telling_.sameKey && telling_.focus == Focus::Tile) {
        // The focus is there already: it moves to the bar, named by the same key.
        if (reader.keysStayOnBar) {
            retellAtNs_ = nowNs_ + kRetellNs;
        }
        return Focus::Bar;
    }
    return Focus::Tile;
}

void Frmsormio::paintTile(int tile, TileColour colour) {
    Rgb& background = view_.tiles[static_cast<std::size_t>(tile)];
    if (background != rgbOf(colour)) {
        background = rgbOf(colour);
        changes_ |= Change::Tiles;
    }
    if (colour == TileColour::Red) {
        lit_ = true;  // a new turn, also when its key is the last one's
    }
}

void Frmsormio::setBarWidth(float px) {
    const int width = barPixels(px);
    if (width != view_.barWidth) {
        view_.barWidth = width;
        changes_ |= Change::Bar;
    }
}

void Frmsormio::setBarShown(bool on) {
    if (on != view_.barShown) {
        view_.barShown = on;
        changes_ |= Change::Bar;
    }
}

void Frmsormio::setBarEnabled(bool on) {
    if (on != view_.barEnabled) {
        view_.barEnabled = on;
        changes_ |= Change::Bar;
    }
}

void Frmsormio::setCountdown(bool on) {
    // Every turn counts its ticks from its own start, a turn restarted mid-way included.
    if (on) {
        countdownTicks_.start(nowNs_);
    }
    countdown_ = on;
}

void Frmsormio::setScoreCaption(const std::string& text) {
    if (text != view_.score) {
        view_.score = text;
        changes_ |= Change::Score;
    }
}

void Frmsormio::showScore() {
    if (!view_.scoreShown) {
        view_.scoreShown = true;
        changes_ |= Change::Score;
    }
}

}  // namespace sormio
