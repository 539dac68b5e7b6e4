#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <array>
#include <atomic>

namespace sormio {

// The game's own tone through the system's audio (waveOut). The device is opened on a thread of
// its own once the window is up, so that neither start-up nor a key ever waits for it; until it
// answers, and wherever none does, beep() says so and the caller sounds the system's alert.
// Each tone is one buffer holding the tone and the silence after it, so that the 19 tones of a
// game over can be counted; they queue behind each other on the device.
class Sound {
  public:
    Sound() = default;
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    void start();
    // Queues one tone. False when no device would play it now.
    bool beep();
    // Drops every tone not yet heard, so that a new game's first tone sounds at once.
    void drop();
    // Stops and closes the device: the program ends right after.
    void close();

  private:
    static DWORD WINAPI open(void* self);

    HWAVEOUT device_ = nullptr;
    HANDLE opener_ = nullptr;
    std::atomic<bool> ready_{false};
    // As many tones as can be queued at once: a game over and a hit's more.
    std::array<WAVEHDR, 32> headers_{};
    std::size_t next_ = 0;
};

}  // namespace sormio
