#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QProxyStyle>
#include <cstdio>
#include <cstdlib>

#include "qt_window.h"

namespace {

// While the application object connects to the window system, Qt's own complaints are held
// back: without a display it prints several lines and then aborts with a core dump. Instead the
// player gets one line and a plain non-zero exit.
QByteArray heldBack;

bool expectedNote(const QMessageLogContext& context, const QString& message);

void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (expectedNote(context, message)) {
        return;
    }
    if (type == QtFatalMsg) {
        std::fputs("sormio: cannot open a window: no usable display (is DISPLAY set?)\n", stderr);
        std::_Exit(EXIT_FAILURE);
    }
    heldBack += message.toLocal8Bit() + '\n';
}

// Qt's Wayland plugin would bring up EGL, and with it the whole of Mesa (some 50 MB), to offer
// GPU buffers that a game painted in software never uses. Naming no buffer integration leaves
// it with shared-memory buffers only; the plugin's two lines about the missing one are
// expected and dropped, everything else goes where Qt sends it.
constexpr char kBufferIntegration[] = "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION";
QtMessageHandler qtHandler = nullptr;

bool expectedNote(const QMessageLogContext& context, const QString& message) {
    return qstrcmp(context.category, "qt.qpa.wayland") == 0 &&
           message.contains(QLatin1String("client buffer integration"));
}

void runningMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!expectedNote(context, message)) {
        qtHandler(type, context, message);
    }
}

// The platform's own style, but for the icon of the menu bar's overflow button: the bar holds
// one menu and never overflows, and looking that icon up in the desktop's icon theme costs a
// noticeable part of start-up.
class GameStyle : public QProxyStyle {
  public:
    QIcon standardIcon(StandardPixmap pixmap, const QStyleOption* option,
                       const QWidget* widget) const override {
        if (pixmap == SP_ToolBarHorizontalExtensionButton ||
            pixmap == SP_ToolBarVerticalExtensionButton) {
            return {};
        }
        return QProxyStyle::standardIcon(pixmap, option, widget);
    }
};

// Once a close is asked for (the title bar's button, Alt+F4, "Lopeta"), the program ends there
// and then: nothing is stored, so nothing needs painting or tearing down. Letting Qt hide the
// window first leaves a turn's next repaint to run on a Wayland surface that mutter or KWin
// has already taken away, which crashed the program there.
class EndOnClose : public QObject {
  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            std::fflush(nullptr);
            std::_Exit(EXIT_SUCCESS);
        }
        return false;
    }
};

}  // namespace

int main(int, char**) {
    // The game takes nothing from its command line, not even Qt's own options.
    static int argc = 1;
    static char name[] = "sormio";
    static char* argv[] = {name, nullptr};

    if (!qEnvironmentVariableIsSet(kBufferIntegration)) {
        qputenv(kBufferIntegration, "none");
    }
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    // GNOME's compositor decorates no Wayland window, and Qt 6.4 draws a title bar of its own
    // only with a GPU buffer integration, which more than doubles the game's memory. Natively
    // the window could then be neither moved nor closed with the mouse; through XWayland
    // mutter gives it its title bar. Later Qt versions draw their own in shared memory.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY") &&
        qEnvironmentVariable("XDG_CURRENT_DESKTOP")
            .split(QLatin1Char(':'))
            .contains(QLatin1String("GNOME"))) {
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");  // natively after all if XWayland fails
    }
#endif
    qtHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(runningMessages);
    if (!heldBack.isEmpty()) {
        std::fputs(heldBack.constData(), stderr);
    }

    QApplication::setStyle(new GameStyle);
    // Ties the window to its desktop entry (and icon) where the window system asks for it.
    QGuiApplication::setDesktopFileName(sormio::qText(sormio::windowDescription().appId));
    sormio::QtWindow window;
    EndOnClose endOnClose;
    window.installEventFilter(&endOnClose);
    const int status = QApplication::exec();
    // Reached only if Qt quits without closing the window. As on a close, the program ends
    // without tearing down the window system's connection, which Qt's Wayland plugin can wait
    // on forever, or the sound thread, whatever its server is doing.
    std::fflush(nullptr);
    std::_Exit(status);
}
