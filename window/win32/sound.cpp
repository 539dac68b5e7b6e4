#include "sound.h"

#include "system.h"
#include "tone.h"

namespace sormio {

namespace {

// The audio functions, from winmm once the first game starts.
struct WaveOut {
    decltype(&waveOutOpen) open = nullptr;
    decltype(&waveOutPrepareHeader) prepare = nullptr;
    decltype(&waveOutWrite) write = nullptr;
    decltype(&waveOutReset) reset = nullptr;
    decltype(&waveOutUnprepareHeader) unprepare = nullptr;
    decltype(&waveOutClose) close = nullptr;

    bool load() {
        open = systemFunction<decltype(open)>(L"winmm.dll", "waveOutOpen");
        prepare = systemFunction<decltype(prepare)>(L"winmm.dll", "waveOutPrepareHeader");
        write = systemFunction<decltype(write)>(L"winmm.dll", "waveOutWrite");
        reset = systemFunction<decltype(reset)>(L"winmm.dll", "waveOutReset");
        unprepare = systemFunction<decltype(unprepare)>(L"winmm.dll", "waveOutUnprepareHeader");
        close = systemFunction<decltype(close)>(L"winmm.dll", "waveOutClose");
        return open && prepare && write && reset && unprepare && close;
    }
};

// Filled by the opening thread before the device counts as ready.
WaveOut waveOut;

struct Locked {
    explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~Locked() { LeaveCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    CRITICAL_SECTION& lock_;
};

}  // namespace

Sound::Sound(Answers answers) : answers_(std::move(answers)) {
    InitializeCriticalSection(&lock_);
}

Sound::~Sound() {
    close();
    DeleteCriticalSection(&lock_);
}

void Sound::open() {
    Locked locked(lock_);
    if (state_ == State::Ready) {
        answers_.opened();
        return;
    }
    if (state_ == State::Opening) {
        return;  // the opening thread answers
    }
    if (opener_ != nullptr) {
        CloseHandle(opener_);  // the last try, which found no device and is done
    }
    state_ = State::Opening;
    opener_ = CreateThread(nullptr, 0, &Sound::opening, this, 0, nullptr);
    if (opener_ == nullptr) {
        state_ = State::Failed;
        answers_.failed();
    }
}

DWORD WINAPI Sound::opening(void* self) {
    auto* sound = static_cast<Sound*>(self);
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = Tone::kRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = Tone::kRate * 2;
    HWAVEOUT device = nullptr;
    const bool opened = waveOut.load() && waveOut.open(&device, WAVE_MAPPER, &format, 0, 0,
                                                       CALLBACK_NULL) == MMSYSERR_NOERROR;
    Locked locked(sound->lock_);
    if (!opened) {
        sound->state_ = State::Failed;
        sound->answers_.failed();
        return 1;
    }
    const auto& slot = Tone::slot();
    for (WAVEHDR& header : sound->headers_) {
        header.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(slot.data()));
        header.dwBufferLength = static_cast<DWORD>(slot.size() * sizeof(slot[0]));
        waveOut.prepare(device, &header, sizeof header);
        header.dwFlags |= WHDR_DONE;  // free to queue
    }
    sound->device_ = device;
    sound->state_ = State::Ready;
    sound->answers_.opened();
    return 0;
}

bool Sound::play(int n) {
    Locked locked(lock_);
    bool all = state_ == State::Ready;
    for (int i = 0; i < n && all; ++i) {
        all = write();
    }
    return all;
}

bool Sound::write() {
    for (std::size_t tried = 0; tried < headers_.size(); ++tried) {
        WAVEHDR& header = headers_[next_];
        next_ = (next_ + 1) % headers_.size();
        if ((header.dwFlags & WHDR_DONE) != 0) {
            header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
            return waveOut.write(device_, &header, sizeof header) == MMSYSERR_NOERROR;
        }
    }
    return false;  // every buffer queued: this one the alert sound plays
}

void Sound::drop() {
    Locked locked(lock_);
    if (state_ == State::Ready) {
        waveOut.reset(device_);  // marks every queued buffer done
    }
}

void Sound::close() {
    HANDLE opener = nullptr;
    {
        Locked locked(lock_);
        opener = opener_;
        opener_ = nullptr;
    }
    if (opener != nullptr) {
        // An open still under way is let finish, briefly, so that its device can be closed.
        WaitForSingleObject(opener, 1000);
        CloseHandle(opener);
    }
    Locked locked(lock_);
    if (state_ == State::Ready) {
        waveOut.reset(device_);
        for (WAVEHDR& header : headers_) {
            waveOut.unprepare(device_, &header, sizeof header);
        }
        waveOut.close(device_);
        device_ = nullptr;
    }
    state_ = State::Failed;
}

}  // namespace sormio
