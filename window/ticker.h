#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

namespace sormio {

// A periodic tick whose count follows the monotonic clock: when the event loop is late, the
// ticks that fell due meanwhile are delivered one after another on the next wake-up instead of
// being lost, so a turn of n ticks lasts n periods however busy the machine is. Each due tick is
// delivered exactly once, and none after stop().
class Ticker {
  public:
    // More than a whole turn (200 ticks). Of a longer stall, such as a suspended machine, only
    // the last this many ticks are replayed.
    static constexpr int kMaxCatchUp = 256;

    Ticker(std::chrono::milliseconds period, std::function<void()> tick);

    void start();
    void stop();
    bool isActive() const { return timer_.isActive(); }
    std::chrono::milliseconds period() const { return period_; }

  private:
    void onTimeout();

    std::chrono::milliseconds period_;
    std::function<void()> tick_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::int64_t delivered_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace sormio
