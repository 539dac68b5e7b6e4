#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include <array>
#include <atomic>

namespace sormio {

// The game's own tone through the system's audio (waveOut). The device is opened on a thread of
// its own when the first game starts, so that neither start-up nor a key ever waits for it, and
// a window at rest holds no audio at all; tones asked for while it opens play once it answers.
// Where none answers, beep() says so and the caller sounds the system's alert. Each tone is one
// buffer holding the tone and the silence after it, so that the 19 tones of a game over can be
// counted; they queue behind each other on the device.
class Sound {
  public:
    Sound();
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    void start();
    // Queues one tone. False when no device plays it: sound the alert instead.
    bool beep();
    // Drops every tone not yet heard, so that a new game's first tone sounds at once.
    void drop();
    // Stops and closes the device: the program ends right after.
    void close();

  private:
    enum class State { Closed, Opening, Ready, Failed };
    static DWORD WINAPI open(void* self);
    // With the lock held.
    bool write();

    CRITICAL_SECTION lock_;
    State state_ = State::Closed;
    int pending_ = 0;  // asked for while the device opened
    HWAVEOUT device_ = nullptr;
    HANDLE opener_ = nullptr;
    // As many tones as can be queued at once: a game over and a hit's more.
    std::array<WAVEHDR, 32> headers_{};
    std::size_t next_ = 0;
};

}  // namespace sormio
