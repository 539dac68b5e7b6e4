#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frmsormio.h"

namespace sormio::testing {

// A Platform that plays nothing and draws nothing, and logs what it was asked, in order, so that
// a test reads like the turn it checks. Its audio plays while `audio` says so.
class RecordingPlatform : public Platform {
  public:
    std::vector<std::string> log;
    unsigned drawn = 0;  // every change asked to be drawn since the last take()
    std::int64_t wakeAtNs = kNever;
    int tones = 0;
    int bells = 0;
    int opened = 0;
    bool audio = true;
    bool quitted = false;
    ReaderFocus reader;

    void draw(unsigned changes) override {
        drawn |= changes;
        log.push_back("draw " + names(changes));
    }
    void wakeAt(std::int64_t atNs) override { wakeAtNs = atNs; }
    void openAudio() override {
        ++opened;
        log.push_back("open audio");
    }
    bool playTones(int n) override {
        log.push_back(std::to_string(n) + (audio ? " tones" : " tones unheard"));
        tones += audio ? n : 0;
        return audio;
    }
    void dropTones() override { log.push_back("drop tones"); }
    void ringBell() override { ++bells; }
    void quit() override { quitted = true; }
    ReaderFocus readerFocus() const override { return reader; }

    std::vector<std::string> take() {
        std::vector<std::string> out;
        out.swap(log);
        drawn = 0;
        return out;
    }

    static std::string names(unsigned changes) {
        std::string out;
        const char* const all[] = {"tiles", "bar", "score", "sound", "turn", "ending"};
        for (unsigned bit = 0; bit < 6; ++bit) {
            if ((changes & (1u << bit)) != 0) {
                out += (out.empty() ? "" : ",") + std::string(all[bit]);
            }
        }
        return out;
    }
};

}  // namespace sormio::testing
