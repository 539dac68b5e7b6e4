#pragma once

#include <windows.h>

#include <string>

struct IAccessible;

namespace sormio {

class Win32Window;

// What a screen reader reads of the window (Narrator, NVDA, JAWS; anything that asks through
// MSAA or UI Automation): the window answers WM_GETOBJECT with an IAccessible of its own, made
// when a client first asks and never before. Its children are the 36 tiles (static text named
// by their characters, described "kohde" or "väärä"), the bar (a progress bar named by the key
// to press, its value the width left, focused during a turn), the score (static text, "0",
// "3"), the title, the credit line and how the last game ended (static text named by the
// sentence, over the score, holding the window's focus between the end of a game and the next
// Start: the window's focus coming back alone would have its title said first). The bar, a
// window of its own that holds the keyboard focus during a turn, answers as that progress bar
// too. What changes is told by events (tell*()), which cost nothing while no one listens.
class Accessibility {
  public:
    // Child ids of the window's object: the tiles are 1..36 by tile index, then these.
    static constexpr long kBar = 37;
    static constexpr long kScore = 38;
    static constexpr long kTitle = 39;
    static constexpr long kCredit = 40;
    static constexpr long kEnding = 41;
    static constexpr long kChildren = 41;

    explicit Accessibility(const Win32Window& window) : window_(window) {}
    ~Accessibility();
    Accessibility(const Accessibility&) = delete;
    Accessibility& operator=(const Accessibility&) = delete;

    // The answer to WM_GETOBJECT, for the game's window or its bar; 0 for what it does not
    // serve, which the window then leaves to the system.
    LRESULT answer(HWND to, WPARAM flags, LPARAM object);

    // Events, as the window's picture changes.
    void tellTile(int tile) const;
    // A new key to press, also when it is the same one again; the focus told too unless it has
    // just moved to the bar (the system tells that itself).
    void tellTurn(bool tellFocus) const;
    void tellScore() const;
    // Set at the end of a game, told as the focus of the window, which has it back by then;
    // cleared by Start.
    void tellEnding() const;

  private:
    const Win32Window& window_;
    IAccessible* windowObject_ = nullptr;
    IAccessible* barObject_ = nullptr;
    bool comStarted_ = false;
};

}  // namespace sormio
