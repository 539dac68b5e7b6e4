#include "web_window.h"

#include <cmath>

#include "reader.h"

namespace sormio {

namespace {

std::chrono::milliseconds periodOf(std::string_view timer) {
    return std::chrono::milliseconds(windowDescription().control(timer).periodMs);
}

}  // namespace

WebWindow::WebWindow(double nowMs)
    : game_(*this),
      tmr2_(
          periodOf("Tmr2"), [this](std::int64_t n) { game_.samplerTicks(n); },
          [this] { return nowNs_; }),
      tmr1_(periodOf("Tmr1")) {
    const WindowDescription& description = windowDescription();
    for (int t = 0; t < KeyTable::kKeys; ++t) {
        tiles_[t] = description.tile(t).background;
    }
    score_ = description.control("Lblpisteet").caption;
    setNow(nowMs);
    tmr2_.start();
}

void WebWindow::setNow(double nowMs) {
    // A page's clock never runs backwards; a caller that passes garbage gets no ticks from it.
    if (std::isfinite(nowMs)) {
        const auto ns = static_cast<std::int64_t>(nowMs * 1e6);
        nowNs_ = ns > nowNs_ ? ns : nowNs_;
    }
}

void WebWindow::mnustart_Click(double nowMs) {
    setNow(nowMs);
    tmr2_.settle();
    keyEntry_.forget();  // a dead key pressed before Start is not this game's
    ending_.clear();
    playing_ = true;
    changes_ |= Ended;
    game_.mnustart_Click();
}

void WebWindow::mnusound_Click() {
    toggleSound(game_.state);
    changes_ |= SoundItem;
}

std::string_view WebWindow::soundCaption() const {
    return game_.state.soundoff != 0 ? texts().soundOff : texts().soundOn;
}

void WebWindow::keyText(std::u32string_view text, double nowMs) {
    // The ticks due before the key come first: a key typed after the bar ran out is too late,
    // however long the page took to run its next frame.
    frame(nowMs);
    tmr2_.settle();
    keyEntry_.keyText(text, [this](std::uint8_t code) {
        if (barTakesKeys()) {
            std::int16_t keyascii = code;
            game_.picture1_KeyPress(keyascii);
        }
    });
    tellIfGameEnded();
}

bool WebWindow::frame(double nowMs) {
    setNow(nowMs);
    if (countdown_) {
        std::int64_t n = tmr1_.take(tmr1_.dueBy(nowNs_), TickCount::kMaxCatchUp);
        while (n-- > 0 && countdown_) {
            game_.Tmr1_Timer();
        }
        tellIfGameEnded();
    }
    return countdown_;
}

double WebWindow::timeoutAt() const {
    if (!countdown_) {
        return -1;
    }
    // The countdown ends at the tick that leaves the bar no wider than Game::kTimeoutWidth.
    const auto ticks = static_cast<std::int64_t>(
        std::ceil((static_cast<float>(barWidth_) - Game::kTimeoutWidth) / Game::kCountdownStep));
    return static_cast<double>(tmr1_.deadlineOf(tmr1_.delivered() + (ticks > 0 ? ticks : 0))) / 1e6;
}

void WebWindow::tellIfGameEnded() {
    if (playing_ && !barTakesKeys()) {
        playing_ = false;
        keyEntry_.forget();
        ending_ = reader::ending(game_.state);
        changes_ |= Ended;
    }
}

unsigned WebWindow::takeChanges() {
    const unsigned c = changes_;
    changes_ = 0;
    return c;
}

int WebWindow::takeBeeps() {
    const int n = beeps_;
    beeps_ = 0;
    return n;
}

std::uint32_t WebWindow::tile(int index) const {
    return index >= 0 && index < KeyTable::kKeys ? tiles_[index].packed() : 0;
}

std::string_view WebWindow::tileState(int index) const {
    return index >= 0 && index < KeyTable::kKeys ? reader::tileState(tiles_[index])
                                                 : std::string_view();
}

std::string WebWindow::barName() const {
    return barTakesKeys() ? reader::barName(game_.state) : std::string();
}

void WebWindow::paintTile(int tile, TileColour colour) {
    tiles_[tile] = rgbOf(colour);
    changes_ |= Tiles;
    if (colour == TileColour::Red) {
        changes_ |= Turn;  // also when the key is the same as the last
    }
}

void WebWindow::setBarWidth(float px) {
    const int width = barPixels(px);
    if (width != barWidth_) {
        barWidth_ = width;
        changes_ |= Bar;
    }
}

void WebWindow::setBarShown(bool on) {
    barShown_ = on;
    changes_ |= Bar;
}

void WebWindow::setBarEnabled(bool on) {
    barEnabled_ = on;
    changes_ |= Bar;
}

void WebWindow::setCountdown(bool on) {
    if (on && !countdown_) {
        tmr1_.start(nowNs_);
    }
    countdown_ = on;
}

void WebWindow::setScoreCaption(const std::string& text) {
    score_ = text;
    changes_ |= Score;
}

void WebWindow::showScore() {
    scoreShown_ = true;
    changes_ |= Score;
}

}  // namespace sormio
