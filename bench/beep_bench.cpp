// How long the game's tone takes from a beep() call to the sound server's sink, measured from
// outside: a recorder of the sink's monitor, in fragments of a third of a millisecond, stamps
// every chunk it receives with the clock, and the tone's first sample counts as at the sink
// when the chunk that holds it arrives. The recorder's own delay of up to a fragment is in the
// figure, so it is an upper bound. (Counting back from the chunk's end would be closer, but an
// idle sink renders ahead of the clock, which made some tones appear before their call.)
//
//   beep_bench [RUNS] [QUIET_RUNS] [FRAGMENT_FRAMES]    prints one line per figure: name, then
//   values in ms
//   beep_bench listen [FRAGMENT_FRAMES]    for tones played by another program (a browser):
//   "ready", then the arrival of each onset as it comes, in ms of CLOCK_MONOTONIC
//
// Needs a running server whose default sink is a null sink (tools/bench starts one).
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "sound.h"
#include "tone.h"

namespace {

using Clock = std::chrono::steady_clock;
using sormio::Tone;

// Finds tone onsets in the monitor's samples: a sample above the threshold after at least
// 20 ms below it.
class Recorder {
  public:
    explicit Recorder(int fragment) : fragment_(fragment) {
        mainloop_ = pa_threaded_mainloop_new();
        pa_threaded_mainloop_lock(mainloop_);
        context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "beep_bench");
        pa_context_set_state_callback(context_, &Recorder::onContext, this);
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        pa_threaded_mainloop_start(mainloop_);
        pa_threaded_mainloop_unlock(mainloop_);
    }

    ~Recorder() {
        pa_threaded_mainloop_stop(mainloop_);
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(mainloop_);
    }

    // Waits until the monitor delivers data in real time: an idle sink renders ahead at first.
    bool waitFlowing() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] {
            return failed_ || frames_ >= 2 * Tone::kRate;
        }) && !failed_;
    }

    // The arrival time of the next onset after `after`, or nothing within `timeout`.
    std::optional<Clock::time_point> onsetAfter(Clock::time_point after,
                                                std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        const auto deadline = Clock::now() + timeout;
        while (true) {
            while (!onsets_.empty()) {
                const auto t = onsets_.front();
                onsets_.pop_front();
                if (t >= after) {
                    return t;
                }
            }
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
                return std::nullopt;
            }
        }
    }

  private:
    static void onContext(pa_context* c, void* self) {
        auto* r = static_cast<Recorder*>(self);
        const auto state = pa_context_get_state(c);
        if (state == PA_CONTEXT_READY) {
            const pa_sample_spec format{PA_SAMPLE_S16NE, Tone::kRate, 1};
            r->stream_ = pa_stream_new(c, "monitor", &format, nullptr);
            pa_stream_set_read_callback(r->stream_, &Recorder::onRead, r);
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<std::uint32_t>(-1);
            attr.fragsize = static_cast<std::uint32_t>(r->fragment_ * sizeof(std::int16_t));
            pa_stream_connect_record(r->stream_, "null_sink.monitor", &attr,
                                     PA_STREAM_ADJUST_LATENCY);
        } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            std::lock_guard lock(r->mutex_);
            r->failed_ = true;
            r->changed_.notify_all();
        }
    }

    static void onRead(pa_stream* s, std::size_t, void* self) {
        auto* r = static_cast<Recorder*>(self);
        const auto now = Clock::now();
        const void* data;
        std::size_t bytes;
        std::lock_guard lock(r->mutex_);
        while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0) {
            const std::size_t n = bytes / sizeof(std::int16_t);
            const auto* samples = static_cast<const std::int16_t*>(data);
            for (std::size_t i = 0; i < n; ++i) {
                const int v = samples == nullptr ? 0 : std::abs(samples[i]);
                if (v > 300) {
                    if (r->quiet_ >= Tone::kRate / 50) {
                        r->onsets_.push_back(now);
                    }
                    r->quiet_ = 0;
                } else {
                    ++r->quiet_;
                }
            }
            r->frames_ += n;
            if (bytes > 0) {
                pa_stream_drop(s);
            }
        }
        r->changed_.notify_all();
    }

    int fragment_;
    pa_threaded_mainloop* mainloop_;
    pa_context* context_;
    pa_stream* stream_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Clock::time_point> onsets_;
    std::size_t frames_ = 0;
    std::size_t quiet_ = 0;
    bool failed_ = false;
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void print(const char* name, std::vector<double> values) {
    std::printf("%s", name);
    for (double v : values) {
        std::printf(" %.4f", v);
    }
    std::printf("\n");
}

int listen(int fragment) {
    Recorder recorder(fragment);
    if (!recorder.waitFlowing()) {
        std::fprintf(stderr, "beep_bench: no data from null_sink.monitor\n");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    auto after = Clock::now();
    while (true) {
        if (const auto onset = recorder.onsetAfter(after, std::chrono::seconds(3600))) {
            std::printf("%.4f\n", ms(onset->time_since_epoch()));
            std::fflush(stdout);
            after = *onset;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "listen") {
        return listen(argc > 2 ? std::atoi(argv[2]) : 16);
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    const int quietRuns = argc > 2 ? std::atoi(argv[2]) : 5;

    const int fragment = argc > 3 ? std::atoi(argv[3]) : 16;
    Recorder recorder(fragment);
    if (!recorder.waitFlowing()) {
        std::fprintf(stderr, "beep_bench: no data from null_sink.monitor\n");
        return 1;
    }
    int lost = 0;
    sormio::Sound sound({[] {}, [&lost](int tones) { lost += tones; }});
    sound.open();
    for (int i = 0; i < 500 && !sound.connected(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!sound.connected()) {
        std::fprintf(stderr, "beep_bench: the game's sound did not connect\n");
        return 1;
    }

    std::mt19937 random(1);
    std::vector<double> latency, quiet, call;
    int missed = 0;
    auto measure = [&](std::chrono::milliseconds rest, std::vector<double>& into) {
        std::this_thread::sleep_for(rest);
        const auto before = Clock::now();
        sound.play(1);
        const auto after = Clock::now();
        call.push_back(ms(after - before));
        if (const auto onset = recorder.onsetAfter(before, std::chrono::milliseconds(1000))) {
            into.push_back(ms(*onset - before));
        } else {
            ++missed;
        }
    };
    // Rests long enough for each tone to end and the stream to be corked again.
    for (int i = 0; i < runs; ++i) {
        measure(std::chrono::milliseconds(150 + random() % 100), latency);
    }
    for (int i = 0; i < quietRuns; ++i) {
        measure(std::chrono::seconds(10), quiet);
    }
    print("latency", latency);
    print("latency_after_10s", quiet);
    print("call", call);
    std::printf("missed %d lost %d\n", missed, lost);
    return missed == 0 ? 0 : 1;
}
