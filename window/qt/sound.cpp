#include "sound.h"

#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

#include "description.h"
#include "tone.h"

namespace sormio {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSlot =
    std::chrono::microseconds(std::int64_t{Tone::kSlotFrames} * 1000000 / Tone::kRate);
// A server that takes longer than this to accept us counts as absent until the next try.
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;
// A drained stream stays open this long before it is corked: tones that follow each other during
// play skip the server's reactivation (about a millisecond on PipeWire), while at rest a corked
// stream lets the server idle and the sound device sleep.
constexpr pa_usec_t kCorkAfter = 1 * PA_USEC_PER_SEC;
// The server's buffer ahead of the play position: a few periods, small enough that a tone
// written into a running stream is not held up behind silence.
constexpr std::uint32_t kTargetBytes = 128 * sizeof(std::int16_t);
// While tones play, the stream is asked this often how much of them it has played: what it had
// not begun when it is lost is the bell's.
constexpr pa_usec_t kAskEvery = 15 * PA_USEC_PER_MSEC;

// libpulse and its dozen libraries (sound file codecs among them) are loaded by the sound
// thread once the window is up, rather than by the dynamic linker before anything shows: start-up
// pays nothing for them, and a desktop without them simply gets the bell.
#define SORMIO_PULSE_FUNCTIONS(F)    \
    F(pa_context_connect)            \
    F(pa_context_disconnect)         \
    F(pa_context_get_state)          \
    F(pa_context_new_with_proplist)  \
    F(pa_context_rttime_new)         \
    F(pa_context_set_state_callback) \
    F(pa_context_unref)              \
    F(pa_gettimeofday)               \
    F(pa_mainloop_free)              \
    F(pa_mainloop_get_api)           \
    F(pa_mainloop_new)               \
    F(pa_mainloop_run)               \
    F(pa_operation_unref)            \
    F(pa_proplist_free)              \
    F(pa_proplist_new)               \
    F(pa_proplist_sets)              \
    F(pa_rtclock_now)                \
    F(pa_stream_connect_playback)    \
    F(pa_stream_cork)                \
    F(pa_stream_disconnect)          \
    F(pa_stream_drain)               \
    F(pa_stream_flush)               \
    F(pa_stream_get_state)           \
    F(pa_stream_get_timing_info)     \
    F(pa_stream_new)                 \
    F(pa_stream_set_state_callback)  \
    F(pa_stream_unref)               \
    F(pa_stream_update_timing_info)  \
    F(pa_stream_write)

struct Pulse {
#define SORMIO_PULSE_POINTER(name) decltype(&::name) name = nullptr;
    SORMIO_PULSE_FUNCTIONS(SORMIO_PULSE_POINTER)
#undef SORMIO_PULSE_POINTER

    bool load() {
        void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return false;
        }
        bool complete = true;
#define SORMIO_PULSE_SYMBOL(name)                                   \
    name = reinterpret_cast<decltype(name)>(dlsym(library, #name)); \
    complete = complete && name != nullptr;
        SORMIO_PULSE_FUNCTIONS(SORMIO_PULSE_SYMBOL)
#undef SORMIO_PULSE_SYMBOL
        return complete;
    }
};

// Filled once by the sound thread before its first call; read by that thread only.
Pulse& pulse() {
    static Pulse functions;
    return functions;
}

}  // namespace

// Lives on the sound thread only; nothing here is touched by the window's thread.
struct Sound::Loop {
    Sound& owner;
    pa_mainloop* mainloop = pulse().pa_mainloop_new();
    pa_mainloop_api* api = pulse().pa_mainloop_get_api(mainloop);
    pa_io_event* wakeEvent = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* connectTimer = nullptr;
    pa_time_event* corkTimer = nullptr;
    pa_time_event* askTimer = nullptr;
    unsigned dropsSeen = 0;
    int pending = 0;  // asked for and not yet written
    bool corked = true;
    bool draining = false;
    bool drainAgain = false;
    bool asking = false;
    Clock::time_point playedUntil{};  // when what was written runs out, to write behind it
    ToneLedger ledger;                // what the server has confirmed of what it was given

    explicit Loop(Sound& s) : owner(s) {}

    void connect() {
        pa_proplist* props = pulse().pa_proplist_new();
        const std::string name(windowDescription().caption);
        const std::string id(windowDescription().appId);
        pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, name.c_str());
        pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_ID, id.c_str());
        pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, id.c_str());
        pulse().pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "game");
        context = pulse().pa_context_new_with_proplist(api, name.c_str(), props);
        pulse().pa_proplist_free(props);
        if (context == nullptr) {
            return;
        }
        pulse().pa_context_set_state_callback(context, &Loop::onContextState, this);
        // Never start a server of our own: a desktop without one gets the bell.
        if (pulse().pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            if (context != nullptr) {
                lose();  // unless its failing state has been seen to already
            }
            return;
        }
        connectTimer = pulse().pa_context_rttime_new(
            context, pulse().pa_rtclock_now() + kConnectTimeout, &Loop::onConnectTimeout, this);
    }

    void openStream() {
        const pa_sample_spec format{PA_SAMPLE_S16NE, Tone::kRate, 1};
        stream = pulse().pa_stream_new(context, "Beep", &format, nullptr);
        if (stream == nullptr) {
            lose();
            return;
        }
        pulse().pa_stream_set_state_callback(stream, &Loop::onStreamState, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = kTargetBytes;
        // Playback starts with the first frame, not once a buffer is full. Not zero: without
        // any prebuffering PulseAudio never reports a drained stream, and it would never be
        // corked. After the stream ran dry its write position may lag the play position, which
        // is why the first write of a tone seeks relative to the read position.
        attr.prebuf = sizeof(std::int16_t);
        attr.minreq = kTargetBytes / 2;
        attr.fragsize = static_cast<std::uint32_t>(-1);
        constexpr auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        if (pulse().pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) <
            0) {
            lose();
        }
    }

    void ready() {
        stopTimer(connectTimer);
        corked = true;
        draining = false;
        owner.ready_.store(true, std::memory_order_release);
        owner.answers_.opened();
        write();
    }

    // The server went away or never answered: whatever it did not play is the bell's.
    void lose() {
        owner.ready_.store(false, std::memory_order_release);
        const int unplayed = pending + owner.requested_.exchange(0) + ledger.lost(wallNs());
        pending = 0;
        playedUntil = {};
        asking = false;
        stopTimer(connectTimer);
        stopTimer(corkTimer);
        stopTimer(askTimer);
        if (stream != nullptr) {
            // Gone before it is let go: nothing that it still answers is taken for this one.
            pa_stream* gone = stream;
            stream = nullptr;
            pulse().pa_stream_set_state_callback(gone, nullptr, nullptr);
            pulse().pa_stream_disconnect(gone);
            pulse().pa_stream_unref(gone);
        }
        if (context != nullptr) {
            pulse().pa_context_set_state_callback(context, nullptr, nullptr);
            pulse().pa_context_disconnect(context);
            pulse().pa_context_unref(context);
            context = nullptr;
        }
        if (!owner.quit_.load()) {
            owner.answers_.lost(unplayed);  // nobody is left to ring when the game quits
        }
    }

    bool streamReady() const {
        return stream != nullptr && pulse().pa_stream_get_state(stream) == PA_STREAM_READY;
    }

    // Hands the pending tones to the server behind what it still plays, or at its play
    // position if it has run dry.
    void write() {
        if (pending == 0 || !streamReady()) {
            return;
        }
        stopTimer(corkTimer);
        const auto now = Clock::now();
        bool dry = corked || now >= playedUntil;
        const auto& slot = Tone::slot();
        ledger.queued(pending);
        for (; pending > 0; --pending) {
            pulse().pa_stream_write(stream, slot.data(), slot.size() * sizeof(slot[0]), nullptr, 0,
                                    dry ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE);
            playedUntil = (dry ? now : playedUntil) + kSlot;
            dry = false;
        }
        // Uncorked after the writes: the server finds the tone waiting when it starts the
        // stream, about 0.2 ms sooner on PulseAudio than uncorking first.
        if (corked) {
            pulse().pa_operation_unref(pulse().pa_stream_cork(stream, 0, nullptr, nullptr));
            corked = false;
        }
        drain();
        ask();
    }

    // The clock of the server's answers (the same machine's wall clock, as libpulse reads it).
    static std::int64_t wallNs() {
        timeval now{};
        pulse().pa_gettimeofday(&now);
        return std::int64_t{now.tv_sec} * 1'000'000'000 + std::int64_t{now.tv_usec} * 1000;
    }

    // How much of what it was given is still to be played: asked once at a time. The answer
    // speaks of every write so far, those made after the question included.
    void ask() {
        if (asking || !streamReady()) {
            return;
        }
        stopTimer(askTimer);
        pa_operation* question =
            pulse().pa_stream_update_timing_info(stream, &Loop::onAnswer, this);
        if (question != nullptr) {
            asking = true;
            pulse().pa_operation_unref(question);
        }
    }

    static void onAnswer(pa_stream* s, int success, void* self) {
        auto* loop = static_cast<Loop*>(self);
        if (s != loop->stream) {
            return;
        }
        loop->asking = false;
        // A question sent before a write at the read position, or before a flush, has no
        // answer that can be placed: the next one will.
        const pa_timing_info* t = success ? pulse().pa_stream_get_timing_info(s) : nullptr;
        if (t != nullptr && !t->write_index_corrupt && !t->read_index_corrupt) {
            const std::int64_t held =
                (t->write_index - t->read_index) / static_cast<std::int64_t>(sizeof(std::int16_t));
            const auto inDevice =
                static_cast<std::int64_t>(t->sink_usec * Tone::kRate / PA_USEC_PER_SEC);
            // When the server measured it: the answer may have waited for a busy game to read it.
            loop->ledger.answered(held + inDevice,
                                  std::int64_t{t->timestamp.tv_sec} * 1'000'000'000 +
                                      std::int64_t{t->timestamp.tv_usec} * 1000);
        }
        if (loop->ledger.unheard(wallNs()) > 0 && loop->askTimer == nullptr) {
            loop->askTimer = pulse().pa_context_rttime_new(
                loop->context, pulse().pa_rtclock_now() + kAskEvery, &Loop::onAskTime, loop);
        }
    }

    static void onAskTime(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* loop = static_cast<Loop*>(self);
        loop->stopTimer(loop->askTimer);
        loop->ask();
    }

    // The server holds back the unfinished last period of a tone until a drain asks for it, and
    // only one drain may be outstanding: a second would silently replace the first.
    void drain() {
        if (draining) {
            drainAgain = true;
            return;
        }
        draining = true;
        drainAgain = false;
        pulse().pa_operation_unref(pulse().pa_stream_drain(stream, &Loop::onDrained, this));
    }

    void stopTimer(pa_time_event*& timer) {
        if (timer != nullptr) {
            api->time_free(timer);
            timer = nullptr;
        }
    }

    void onWakeUp() {
        std::uint64_t count;
        [[maybe_unused]] const auto n = ::read(owner.wakeFd_, &count, sizeof count);
        if (owner.quit_.load()) {
            api->quit(api, 0);
            return;
        }
        const unsigned drops = owner.drops_.load();
        if (drops != dropsSeen) {
            dropsSeen = drops;
            pending = 0;
            ledger.dropped();
            if (streamReady()) {
                pulse().pa_operation_unref(pulse().pa_stream_flush(stream, nullptr, nullptr));
            }
            playedUntil = {};
        }
        pending += owner.requested_.exchange(0);
        if (owner.retry_.exchange(false)) {
            if (context == nullptr) {
                connect();  // answered as it succeeds or fails
            } else if (owner.ready_.load()) {
                owner.answers_.opened();
            }  // else the connection under way answers
        }
        if (owner.ready_.load()) {
            write();
        } else if (pending > 0) {
            // Asked for while the server was being lost: the bell plays them.
            owner.answers_.lost(pending);
            pending = 0;
        }
    }

    static void onWake(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* self) {
        static_cast<Loop*>(self)->onWakeUp();
    }

    static void onContextState(pa_context* c, void* self) {
        auto* loop = static_cast<Loop*>(self);
        switch (pulse().pa_context_get_state(c)) {
            case PA_CONTEXT_READY:
                loop->openStream();
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                loop->lose();
                break;
            default:
                break;
        }
    }

    static void onStreamState(pa_stream* s, void* self) {
        auto* loop = static_cast<Loop*>(self);
        switch (pulse().pa_stream_get_state(s)) {
            case PA_STREAM_READY:
                loop->ready();
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED:
                loop->lose();
                break;
            default:
                break;
        }
    }

    static void onConnectTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                 void* self) {
        auto* loop = static_cast<Loop*>(self);
        loop->stopTimer(loop->connectTimer);
        if (!loop->owner.ready_.load()) {
            loop->lose();
        }
    }

    static void onDrained(pa_stream* s, int, void* self) {
        auto* loop = static_cast<Loop*>(self);
        if (s != loop->stream) {
            return;
        }
        loop->draining = false;
        if (loop->drainAgain) {
            loop->drain();
        } else if (loop->pending == 0 && !loop->corked && loop->corkTimer == nullptr) {
            loop->corkTimer = pulse().pa_context_rttime_new(
                loop->context, pulse().pa_rtclock_now() + kCorkAfter, &Loop::onQuiet, loop);
        }
    }

    // Silent for a while: a corked stream costs neither side anything.
    static void onQuiet(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* loop = static_cast<Loop*>(self);
        loop->stopTimer(loop->corkTimer);
        if (!loop->draining && loop->pending == 0 && !loop->corked && loop->streamReady()) {
            pulse().pa_operation_unref(pulse().pa_stream_cork(loop->stream, 1, nullptr, nullptr));
            loop->corked = true;
        }
    }
};

Sound::Sound(Answers answers) : answers_(std::move(answers)) {}

Sound::~Sound() {
    if (thread_.joinable()) {
        quit_.store(true);
        wake();
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool Sound::open() {
    if (thread_.joinable()) {
        retry_.store(true);
        wake();
        return true;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        return false;  // no thread, no tone: the bell it is
    }
    // Signals stay with the window's thread; a write to a server that died must not raise
    // SIGPIPE here.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    thread_ = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

bool Sound::play(int n) {
    if (!connected()) {
        return false;
    }
    requested_.fetch_add(n);
    wake();
    return true;
}

void Sound::drop() {
    drops_.fetch_add(1);
    wake();
}

void Sound::wake() {
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
    }
}

void Sound::run() {
    static const bool loaded = pulse().load();
    if (loaded) {
        Loop loop(*this);
        if (loop.mainloop != nullptr) {
            loop.wakeEvent =
                loop.api->io_new(loop.api, wakeFd_, PA_IO_EVENT_INPUT, &Loop::onWake, &loop);
            loop.connect();
            pulse().pa_mainloop_run(loop.mainloop, nullptr);
            // Nobody is left to ring for what was not played.
            loop.pending = 0;
            loop.ledger.dropped();
            requested_.store(0);
            loop.lose();
            loop.api->io_free(loop.wakeEvent);
            pulse().pa_mainloop_free(loop.mainloop);
            return;
        }
    }
    // No libpulse, or no loop to run it in: nothing will ever play, which every open() hears.
    for (retry_.store(true); !quit_.load();) {
        if (retry_.exchange(false)) {
            answers_.lost(0);
        }
        pollfd wakeUp{wakeFd_, POLLIN, 0};
        std::uint64_t count;
        if (::poll(&wakeUp, 1, -1) > 0) {
            [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
        }
    }
}

}  // namespace sormio
