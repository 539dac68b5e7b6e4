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
// server is fast, slow, hung or gone. Tones asked for while it connects play once it is
// connected; while no server plays (none running, refused, lost) play() says so, and the game
// rings the window system's bell instead. A lost server is looked for again only when the game
// asks for a tone or opens the audio again, never by polling, so an idle game costs nothing.
class Sound {
  public:
    // Called on the sound thread with the number of tones that were asked for and never
    // played (the server went away, or never answered), so that the game can ring for them.
    using Unplayed = std::function<void(int tones)>;

    explicit Sound(Unplayed unplayed);
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Starts the sound thread, which connects in the background; once started, looks again
    // for a server that was lost.
    void open();
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
    std::atomic<bool> connecting_{false};
    std::atomic<bool> retry_{false};
    std::atomic<bool> quit_{false};
    int wakeFd_ = -1;
    Unplayed unplayed_;
    std::thread thread_;
};

}  // namespace sormio
