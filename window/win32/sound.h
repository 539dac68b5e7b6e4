#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include <array>
#include <functional>

namespace sormio {

// The game's own tone through the system's audio (waveOut). The device is opened on a thread of
// its own, so that neither the window nor a key ever waits for it; every open() is answered
// through `Answers`, which post to the window. Each tone is one buffer holding the tone and the
// silence after it, so that the 19 tones of a game over can be counted; they queue behind each
// other on the device.
class Sound {
  public:
    // Called on any thread; they only post to the window.
    struct Answers {
        std::function<void()> opened;
        std::function<void()> failed;
    };

    explicit Sound(Answers answers);
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Starts opening the device unless it is open or being opened, and answers.
    void open();
    // Queues n tones. False when no device plays them now.
    bool play(int n);
    // Drops every tone not yet heard, so that a new game's first tone sounds at once.
    void drop();
    // Stops and closes the device: the program ends right after.
    void close();

  private:
    enum class State { Closed, Opening, Ready, Failed };
    static DWORD WINAPI opening(void* self);
    // With the lock held.
    bool write();

    Answers answers_;
    CRITICAL_SECTION lock_;
    State state_ = State::Closed;
    HWAVEOUT device_ = nullptr;
    HANDLE opener_ = nullptr;
    // As many tones as can be queued at once: a game over and a hit's more.
    std::array<WAVEHDR, 32> headers_{};
    std::size_t next_ = 0;
};

}  // namespace sormio
