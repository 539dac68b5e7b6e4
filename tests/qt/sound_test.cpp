#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sound.h"

namespace sormio {
namespace {

TEST(Sound, withoutAServerEveryOpenIsAnsweredAndNoToneIsTaken) {
    // A runtime folder with no server in it, and no server named in the environment: each open
    // hears that nothing answered, and the game rings its bell for every tone.
    const auto folder = std::filesystem::temp_directory_path() / "sormio-no-server";
    std::filesystem::create_directories(folder);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    unsetenv("PULSE_SERVER");
    std::atomic<int> opened = 0;
    std::atomic<int> lost = 0;
    std::atomic<int> unplayed = 0;
    Sound sound({[&] { ++opened; },
                 [&](int tones) {
                     unplayed += tones;
                     ++lost;
                 }});
    EXPECT_FALSE(sound.play(1)) << "before it opened";
    for (int asked = 1; asked <= 3; ++asked) {
        ASSERT_TRUE(sound.open());
        // The connection's own time-out is two seconds; a long wait only on a stalled machine.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (lost.load() < asked && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(lost.load(), asked) << "open " << asked << " was never answered";
        EXPECT_FALSE(sound.play(1));
    }
    EXPECT_EQ(opened.load(), 0);
    EXPECT_EQ(unplayed.load(), 0);
    EXPECT_FALSE(sound.connected());
}

}  // namespace
}  // namespace sormio
