#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accessible.h"
#include "alarm.h"
#include "description.h"
#include "frmsormio.h"
#include "sound.h"

namespace sormio {

// The game's one window on Windows, in plain Win32. It holds the game's Frmsormio and
// its controls for the whole run; it turns menu commands, character messages and its alarm into
// the calls of Frmsormio, and draws, sounds and tells what Frmsormio asks. It draws every label
// itself, off screen and at once; the bar is a child window of its own, which holds the focus
// during a turn and takes the character messages. A screen reader reads it all through the
// window's own accessible objects (accessible.h).
//
// win32_window.cpp: creation, scaling and what Frmsormio asks; paint.cpp: the painting;
// message_loop.cpp: the window procedures and the message loop.
class Win32Window : public Platform {
  public:
    Win32Window();
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // Creates the window from the description and shows it; false if the system refused.
    bool create(HINSTANCE instance, int show);
    HWND hwnd() const { return hwnd_; }
    HWND barHwnd() const { return picture1_; }
    // Where a part of the client area (in the description's pixels) is on the screen now.
    RECT screenRect(const Rect& r) const;
    HACCEL accelerators() const { return accelerators_; }
    Alarm& alarm() { return alarm_; }
    Frmsormio& frmsormio() { return frmsormio_; }
    const Frmsormio& frmsormio() const { return frmsormio_; }

    // Platform; virtual, so that a benchmark can stamp what it is asked
    void draw(unsigned changes) override;
    void wakeAt(std::int64_t atNs) override;
    void openAudio() override { sound_.open(); }
    bool playTones(int n) override { return sound_.play(n); }
    void dropTones() override { sound_.drop(); }
    void ringBell() override;
    void quit() override;
    ReaderFocus readerFocus() const override;

  private:
    // The bar's id as a child window.
    static constexpr int kBarId = 100;
    // Posted by the audio's answers to an open.
    static constexpr UINT kAudioOpened = WM_APP + 1;
    static constexpr UINT kAudioFailed = WM_APP + 2;

    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK barProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    void buildMenu();
    void buildControls();
    // Places every control and makes the fonts for the window's current scale.
    void layOut();
    void paintWindow();
    // Label i of the description, where it overlaps the area to paint.
    void paintLabel(HDC dc, std::size_t i, const RECT& area);
    // Label i into `all`, in the coordinates of dc.
    void drawLabel(HDC dc, std::size_t i, const RECT& all);
    void invalidateLabel(std::size_t i);
    // Where tile t's label is in the description: after the two timers and the bar, from the
    // last tile down.
    static std::size_t tileLabel(int tile) { return static_cast<std::size_t>(3 + 35 - tile); }
    void paintBar(HWND bar);
    bool barTakesKeys() const;
    // The bar holds the focus while it takes keys, the window otherwise; true if the bar has
    // just taken it.
    bool moveFocusToMatchBar();
    // Client pixels at the window's scale, snapped so that shared edges stay shared.
    int scaled(int units) const;
    RECT scaledRect(const Rect& r) const;

    Frmsormio frmsormio_;
    Alarm alarm_;
    Sound sound_;
    Accessibility accessibility_{*this};
    HWND hwnd_ = nullptr;
    HWND picture1_ = nullptr;
    // What each label of the description shows now, in description order (the timers and the
    // bar have empty ones).
    struct Label {
        std::wstring text;
        Rgb background{};
        bool visible = false;
    };
    std::vector<Label> labels_;
    std::size_t score_ = 0;
    HMENU mnuohjelma_ = nullptr;
    HACCEL accelerators_ = nullptr;
    std::vector<HFONT> fonts_;  // per control, at the current scale
    int barWidth_ = 0;
    UINT dpi_ = 96;
};

// UTF-8 to the system's UTF-16.
std::wstring wide(std::string_view utf8);

// One thread, one loop: messages, and during a turn the alarm, each handled to completion
// before the next is taken. Returns when `done` says so after a message or a wake-up (a
// benchmark's turn), or with WM_QUIT's code.
int runMessageLoop(Win32Window& window, const std::function<bool()>& done = {});

}  // namespace sormio
