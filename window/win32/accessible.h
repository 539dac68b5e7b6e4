#pragma once

#include <windows.h>

#include <string>

struct IAccPropServices;

namespace sormio {

// What a screen reader reads beyond the controls' own texts (a tile's and the score's text, the
// bar's text as the key to press): a tile's state, the bar as a progress bar, and how a game
// ended, as annotations of the controls through the system's accessibility (MSAA dynamic
// annotation). Only while a screen reader runs (the system's flag that screen readers set):
// otherwise nothing of it is loaded. Where the system offers none, the controls are still
// named by their texts.
class Annotations {
  public:
    Annotations() = default;
    ~Annotations();
    Annotations(const Annotations&) = delete;
    Annotations& operator=(const Annotations&) = delete;

    // A screen reader runs; the first time it is seen, the annotation service is loaded.
    bool active();
    void describe(HWND control, const std::wstring& description);
    void markAsProgressBar(HWND control);

  private:
    ::IAccPropServices* services_ = nullptr;
    bool loaded_ = false;
};

}  // namespace sormio
