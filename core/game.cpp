#include "game.h"

#include <cmath>
#include <limits>

#include "codepage.h"
#include "key_table.h"

namespace sormio {

namespace {

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

}  // namespace

std::string scoreText(std::int64_t score) {
    // Appended rather than prepended: GCC 12 warns (-Wrestrict) on its own inlined insert.
    std::string text(1, ' ');
    text += std::to_string(score);
    return text;
}

void Game::paintAllTilesBlack() {
    for (state.tileloop = 0; state.tileloop < KeyTable::kKeys; ++state.tileloop) {
        screen_.paintTile(state.tileloop, TileColour::Black);
    }
}

void Game::mnustart_Click() {
    // A running countdown is left alone: paaohjelma restarts it for the new game.
    paintAllTilesBlack();
    state.startwidth = kStartWidth;
    state.score = 0;
    state.timedout = 0;
    screen_.setScoreCaption("0");
    screen_.showScore();
    paaohjelma();
}

void Game::paaohjelma() {
    paintAllTilesBlack();
    state.target = state.sample;
    if (const auto key = KeyTable::keyOfValue(state.target)) {
        screen_.paintTile(KeyTable::tileOfKey(*key), TileColour::Red);
    }
    screen_.setBarWidth(static_cast<float>(state.startwidth));
    screen_.setBarShown(true);
    screen_.setBarEnabled(true);
    screen_.setCountdown(true);
}

void Game::tarkistus() {
    screen_.setCountdown(false);
    state.hit = 0;
    if (const auto key = KeyTable::keyOfValue(state.target)) {
        if (state.keycode == KeyTable::charCodeOfKey(*key)) {
            state.hit = 1;
        }
    }
    if (state.hit == 0) {
        gameover();
        return;
    }
    if (state.soundoff == 0) {
        screen_.beep();
    }
    state.score = saturatingAdd(state.score, 1);
    state.hit = 0;
    state.startwidth = saturatingAdd(state.startwidth, -kWidthLostPerPoint);
    paaohjelma();
    screen_.setScoreCaption(scoreText(state.score));
    screen_.showScore();
}

void Game::gameover() {
    screen_.setBarShown(false);
    if (state.soundoff == 0) {
        for (int i = 0; i < kGameOverBeeps; ++i) {
            screen_.beep();
        }
    }
    if (state.timedout == 0) {
        if (const auto key = KeyTable::keyOfCharCode(state.keycode)) {
            screen_.paintTile(KeyTable::tileOfKey(*key), TileColour::Blue);
        }
    }
}

void Game::Tmr1_Timer() {
    const float width = screen_.barWidth();
    screen_.setBarWidth(width - kCountdownStep);
    if (screen_.barWidth() <= kTimeoutWidth) {
        screen_.setBarShown(false);
        screen_.setCountdown(false);
        state.timedout = 1;
    }
    if (state.timedout == 1) {
        gameover();
    }
}

std::int64_t Game::ticksLeft() const {
    const float steps = (screen_.barWidth() - kTimeoutWidth) / kCountdownStep;
    return steps > 1.0f ? static_cast<std::int64_t>(std::ceil(steps)) : 1;
}

void Game::Tmr2_Timer() {
    state.sample = std::floor(sampler_.next() * kSamplerRange);
}

void Game::samplerTicks(std::int64_t n) {
    if (n > 0) {
        sampler_.discard(static_cast<std::uint64_t>(n - 1));
        Tmr2_Timer();
    }
}

void Game::picture1_KeyPress(std::int16_t& keyascii) {
    // A code the 8-bit code page cannot hold must not wrap onto a key of the table.
    const std::uint8_t code = keyascii >= 0 && keyascii <= 0xFF
                                  ? static_cast<std::uint8_t>(keyascii)
                                  : codepage::kReplacement;
    state.keytext.assign(1, static_cast<char>(code));
    keyascii = codepage::toUpper(code);
    state.keycode = keyascii;
    keyascii = 0;
    state.keytext.clear();
    tarkistus();
}

}  // namespace sormio
