#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace sormio {

// The game's own tone, played through the desktop's sound server: PulseAudio, or PipeWire
// through its PulseAudio interface, whichever answers.
//
// Everything that talks to the server runs on a thread of its own, so the window's thread only
// ever touches a few atomics and writes one eventfd: play() returns in microseconds whether the
// server is fast, slow, hung or gone. Every open() is answered on that thread, when the server
// has answered or failed to; a lost server is looked for again only when open() asks, never by
// polling, so an idle game costs nothing.
class Sound {
  public:
    // Called on the sound thread.
    struct Answers {
        std::function<void()> opened;  // a server plays what play() is given
        // No server answered, or it went away with `tones` that it never played.
        std::function<void(int tones)> lost;
    };

    explicit Sound(Answers answers);
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Starts the sound thread, which connects in the background; once started, looks again
    // for a server that was lost. Answered on the sound thread, or false when no thread can
    // start, and no answer comes.
    bool open();
    // Queues n tones. False when no server would play them now.
    bool play(int n);
    // Drops every tone not yet heard.
    void drop();
    // A server is connected and its playback stream is ready.
    bool connected() const { return ready_.load(std::memory_order_acquire); }

  private:
    struct Loop;
    void wake();
    void run();

    std::atomic<int> requested_{0};
    std::atomic<unsigned> drops_{0};
    std::atomic<bool> ready_{false};
    std::atomic<bool> retry_{false};
    std::atomic<bool> quit_{false};
    int wakeFd_ = -1;
    Answers answers_;
    std::thread thread_;
};

}  // namespace sormio
