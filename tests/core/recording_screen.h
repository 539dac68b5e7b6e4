#pragma once

#include <array>
#include <string>
#include <vector>

#include "screen.h"

namespace sormio::testing {

// A Screen that keeps what the window would show and logs every operation in order, so that a
// test reads like the turn it checks.
class RecordingScreen : public Screen {
  public:
    std::vector<std::string> log;
    std::array<TileColour, 36> tiles{};
    float width = 0.0f;
    bool shown = false;
    bool enabled = false;
    bool countdown = false;
    std::string caption = "0";
    bool scoreShown = false;
    int beeps = 0;
    bool logReads = false;  // reads of the bar width are noise in most tests

    void paintTile(int tile, TileColour colour) override {
        tiles.at(tile) = colour;
        log.push_back("paint " + std::to_string(tile) + " " + name(colour));
    }
    float barWidth() const override {
        if (logReads) {
            const_cast<RecordingScreen*>(this)->log.push_back("read");
        }
        return width;
    }
    void setBarWidth(float px) override {
        width = px < 0.0f ? 0.0f : px;
        log.push_back("width " + std::to_string(static_cast<long long>(px)));
    }
    void setBarShown(bool on) override {
        shown = on;
        log.push_back(on ? "show bar" : "hide bar");
    }
    void setBarEnabled(bool on) override {
        enabled = on;
        log.push_back(on ? "enable bar" : "disable bar");
    }
    void setCountdown(bool on) override {
        countdown = on;
        log.push_back(on ? "countdown on" : "countdown off");
    }
    void setScoreCaption(const std::string& text) override {
        caption = text;
        log.push_back("caption '" + text + "'");
    }
    void showScore() override {
        scoreShown = true;
        log.push_back("show score");
    }
    void beep() override {
        ++beeps;
        log.push_back("beep");
    }

    // The keys reach the game only through a shown and enabled bar.
    bool takesKeys() const { return shown && enabled; }

    int tilesOf(TileColour colour) const {
        int n = 0;
        for (TileColour c : tiles) {
            n += c == colour ? 1 : 0;
        }
        return n;
    }

    std::vector<std::string> take() {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }

    static std::string name(TileColour colour) {
        switch (colour) {
            case TileColour::Black:
                return "black";
            case TileColour::Red:
                return "red";
            case TileColour::Blue:
                return "blue";
        }
        return "?";
    }
};

}  // namespace sormio::testing
