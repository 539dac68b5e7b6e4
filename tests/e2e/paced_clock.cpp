// The Windows program's clock in the test build that the end-to-end harness plays under Wine:
// the harness sets its pace, as it sets the Linux program's through game_clock.c, so that a
// turn of two seconds lasts eight while the harness looks at it slowly, and a case that times
// the game asks for the real pace. The pace is read from the file that SORMIO_GAME_CLOCK names
// (a Windows path), written by the harness only (session.GameClock), little-endian:
//   u32 seq (odd while it is being written), u32 0, i64 real ns, i64 game ns, f64 rate
// Its real times are the harness's clock, not Wine's performance counter: only the rate is
// taken, and game time is run on here from the counter at the rate last read. It never runs
// back, and a new rate counts from the first reading after it was written.
#include <cstdint>

#include "alarm.h"

namespace sormio {

namespace {

struct Pace {
    std::uint32_t seq;
    std::uint32_t unused;
    std::int64_t real;
    std::int64_t game;
    double rate;
};

const volatile Pace* mapPace() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"SORMIO_GAME_CLOCK", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (mapping == nullptr) {
        return nullptr;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(Pace));
    CloseHandle(mapping);  // the view keeps it
    return static_cast<const volatile Pace*>(view);
}

// The harness's rate now: 1 where it set none.
double rate() {
    static const volatile Pace* const pace = mapPace();
    if (pace == nullptr) {
        return 1.0;
    }
    for (;;) {
        const std::uint32_t before = pace->seq;
        const double rate = pace->rate;
        if ((before & 1u) == 0 && pace->seq == before) {
            return rate > 0 ? rate : 1.0;
        }
    }
}

// Only the window's thread reads the game's clock.
std::int64_t lastReal = Alarm::counterNs();
std::int64_t lastGame = lastReal;
double lastRate = rate();

}  // namespace

std::int64_t Alarm::nowNs() {
    const std::int64_t real = Alarm::counterNs();
    lastGame += static_cast<std::int64_t>(static_cast<double>(real - lastReal) * lastRate);
    lastReal = real;
    lastRate = rate();
    return lastGame;
}

std::int64_t Alarm::realNs(std::int64_t ns) {
    return static_cast<std::int64_t>(static_cast<double>(ns) / lastRate);
}

}  // namespace sormio
