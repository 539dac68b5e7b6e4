#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace sormio {

// The game's own tone, played through the desktop's sound server: PulseAudio, or PipeWire
// through its PulseAudio interface, whichever answers.
//
// Everything that talks to the server runs on a thread of its own, so the window's thread only
// ever touches a few atomics and writes one eventfd: beep() returns in microseconds whether the
// server is fast, slow, hung or gone. While no server plays (none running, refused, lost, or
// not yet connected) beep() says so and the caller rings the window system's bell instead. A
// lost server is looked for again only when the game asks for a tone or starts a game, never
// by polling, so an idle game costs nothing.
class Sound {
  public:
    // Called on the sound thread with the number of tones that a lost server did not play, so
    // that the bell can ring for them.
    using Unplayed = std::function<void(int tones)>;

    explicit Sound(Unplayed unplayed);
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Starts the sound thread, which connects in the background.
    void start();
    // Queues one tone. False when no server would play it now: ring the bell instead.
    bool beep();
    // Drops every tone not yet heard, so that a new game's first tone sounds at once.
    void drop();
    // A server is connected and its playback stream is ready.
    bool playing() const { return ready_.load(std::memory_order_acquire); }

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
    Unplayed unplayed_;
    std::thread thread_;
};

}  // namespace sormio
