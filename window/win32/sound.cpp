#include "sound.h"

#include "tone.h"

namespace sormio {

Sound::~Sound() {
    close();
}

void Sound::start() {
    if (opener_ == nullptr && device_ == nullptr) {
        opener_ = CreateThread(nullptr, 0, &Sound::open, this, 0, nullptr);
    }
}

DWORD WINAPI Sound::open(void* self) {
    auto* sound = static_cast<Sound*>(self);
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = Tone::kRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = Tone::kRate * 2;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return 1;  // no device: the alert sound it is
    }
    const auto& slot = Tone::slot();
    for (WAVEHDR& header : sound->headers_) {
        header.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(slot.data()));
        header.dwBufferLength = static_cast<DWORD>(slot.size() * sizeof(slot[0]));
        waveOutPrepareHeader(device, &header, sizeof header);
        header.dwFlags |= WHDR_DONE;  // free to queue
    }
    sound->device_ = device;
    sound->ready_.store(true, std::memory_order_release);
    return 0;
}

bool Sound::beep() {
    if (!ready_.load(std::memory_order_acquire)) {
        return false;
    }
    for (std::size_t tried = 0; tried < headers_.size(); ++tried) {
        WAVEHDR& header = headers_[next_];
        next_ = (next_ + 1) % headers_.size();
        if ((header.dwFlags & WHDR_DONE) != 0) {
            header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
            return waveOutWrite(device_, &header, sizeof header) == MMSYSERR_NOERROR;
        }
    }
    return false;  // every buffer queued: this one the alert sound plays
}

void Sound::drop() {
    if (ready_.load(std::memory_order_acquire)) {
        waveOutReset(device_);  // marks every queued buffer done
    }
}

void Sound::close() {
    if (opener_ != nullptr) {
        // An open still under way is let finish, briefly, so that its device can be closed.
        WaitForSingleObject(opener_, 1000);
        CloseHandle(opener_);
        opener_ = nullptr;
    }
    if (ready_.exchange(false)) {
        waveOutReset(device_);
        for (WAVEHDR& header : headers_) {
            waveOutUnprepareHeader(device_, &header, sizeof header);
        }
        waveOutClose(device_);
        device_ = nullptr;
    }
}

}  // namespace sormio
