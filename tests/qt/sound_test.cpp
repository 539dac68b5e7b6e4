#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sound.h"

namespace sormio {
namespace {

TEST(Sound, withoutAServerEveryToneIsRefusedOrHandedBackAndNothingWaits) {
    // A runtime folder with no server in it, and no server named in the environment. A tone
    // asked for while the connection is tried waits for it; when it fails, it comes back as
    // unplayed. Either way the caller rings for it exactly once.
    const auto folder = std::filesystem::temp_directory_path() / "sormio-no-server";
    std::filesystem::create_directories(folder);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    unsetenv("PULSE_SERVER");
    std::atomic<int> unplayed = 0;
    int refused = 0;
    {
        Sound sound([&unplayed](int tones) { unplayed += tones; });
        EXPECT_FALSE(sound.play(1)) << "before it opened";
        sound.open();
        for (int i = 0; i < 50; ++i) {
            const auto asked = std::chrono::steady_clock::now();
            refused += sound.play(1) ? 0 : 1;
            EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(sound.connected());
        EXPECT_GT(refused, 0) << "a server that is not there was never found missing";
    }
    EXPECT_EQ(refused + unplayed.load(), 50) << "a tone lost, or both refused and handed back";
}

}  // namespace
}  // namespace sormio
