#pragma once

#include <QCoreApplication>
#include <QWidget>

namespace sormio {

// Makes `window` the active window, as a click on it would, and takes in the platform's answer.
// Socket notifiers wait meanwhile, so that no tick of the countdown (a timerfd) falls in here.
inline bool activate(QWidget* window) {
    window->activateWindow();
    for (int i = 0; i < 1000 && !window->isActiveWindow(); ++i) {
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers |
                                        QEventLoop::ExcludeUserInputEvents);
    }
    return window->isActiveWindow();
}

}  // namespace sormio
