#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sound.h"

namespace sormio {
namespace {

TEST(Sound, withoutAServerPlaySaysNoAndNeverWaits) {
    // A runtime folder with no server in it, and no server named in the environment.
    const auto folder = std::filesystem::temp_directory_path() / "sormio-no-server";
    std::filesystem::create_directories(folder);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    unsetenv("PULSE_SERVER");
    int unplayed = 0;
    {
        Sound sound([&unplayed](int tones) { unplayed += tones; });
        EXPECT_FALSE(sound.play(1)) << "before it opened";
        sound.open();
        for (int i = 0; i < 50; ++i) {
            EXPECT_FALSE(sound.play(1));
            sound.drop();
            sound.open();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_FALSE(sound.connected());
    }
    EXPECT_EQ(unplayed, 0) << "a tone the caller rang as a bell was reported again";
}

}  // namespace
}  // namespace sormio
