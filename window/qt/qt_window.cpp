#include "qt_window.h"

#include <QAccessible>
#include <QApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>

#include "accessible.h"
#include "fonts.h"
#include "icons/keyboard16.xpm"
#include "icons/keyboard32.xpm"
#include "key_table.h"

namespace sormio {

namespace {

QRect qRect(const Rect& r) {
    return {r.left, r.top, r.width, r.height};
}

bool isDeadKey(int key) {
    return (key >= Qt::Key_Dead_Grave && key <= Qt::Key_Dead_Longsolidusoverlay) ||
           key == Qt::Key_Multi_key;
}

std::u16string_view utf16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

KeyPress::Name nameOf(int key, const QString& text) {
    using Name = KeyPress::Name;
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return Name::Enter;
        case Qt::Key_Escape:
            return Name::Escape;
        case Qt::Key_Backspace:
            return Name::Backspace;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return Name::Tab;
        default:
            break;
    }
    if (isDeadKey(key)) {
        return Name::Dead;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) {
        return Name::Function;
    }
    return text.isEmpty() ? Name::Other : Name::Character;
}

}  // namespace

QtWindow::QtWindow()
    : frmsormio_(*this),
      alarm_([this](std::int64_t now) { frmsormio_.wake(now); }),
      // The sound thread's answers, handed to the window's thread.
      sound_({[this] {
                  QMetaObject::invokeMethod(
                      this, [this] { frmsormio_.audioOpened(); }, Qt::QueuedConnection);
              },
              [this](int tones) {
                  QMetaObject::invokeMethod(
                      this, [this, tones] { frmsormio_.audioLost(tones); }, Qt::QueuedConnection);
              }}) {
    const WindowDescription& description = windowDescription();
    setObjectName(qText(description.name));
    installAccessibleFactory();
    setWindowTitle(qText(description.caption));
    QIcon icon;
    icon.addPixmap(QPixmap(keyboard32_xpm));
    icon.addPixmap(QPixmap(keyboard16_xpm));
    setWindowIcon(icon);
    buildMenu();
    buildControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    frmsormio_.Form_Load(now());
}

QtWindow::~QtWindow() = default;

void QtWindow::buildMenu() {
    // The menu belongs in the window, above the client area, not in a desktop's global menu
    // bar; not asking the session bus for one also saves start-up time.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    const Menu& menu = windowDescription().menu;
    QMenu* mnuohjelma = menuBar()->addMenu(qText(menu.caption));
    mnuohjelma->setObjectName(qText(menu.name));
    for (const MenuItem& item : menu.items) {
        QAction* action = mnuohjelma->addAction(
            qText(item.caption), [this, &item] { frmsormio_.command(item.command, now()); });
        action->setObjectName(qText(item.name));
        action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut())));
        // Shortcuts act whichever control holds the focus, the bar included.
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
        if (item.command == Command::Sound) {
            mnusound_ = action;  // the one whose caption changes
        }
    }
}

void QtWindow::buildControls() {
    const WindowDescription& description = windowDescription();
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(description.clientWidth, description.clientHeight);
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, qColour(description.background));
    client->setPalette(palette);
    setCentralWidget(client);

    // Created in the order of the description, which a screen reader follows; stacked in the
    // order it draws them.
    std::vector<QWidget*> widgets(description.controls.size(), nullptr);
    for (std::size_t i = 0; i < description.controls.size(); ++i) {
        const Control& control = description.controls[i];
        if (control.kind == ControlKind::Bar) {
            widgets[i] = picture1_ = new Bar(client, *this, control);
            continue;
        }
        if (control.kind != ControlKind::Label) {
            continue;  // the timers are Frmsormio's
        }
        auto* label = new Label(client, control, gameFont(*control.font));
        widgets[i] = label;
        if (control.index >= 0) {
            lblkirjain_[static_cast<std::size_t>(control.index)] = label;
        } else if (control.name == "Lblpisteet") {
            lblpisteet_ = label;
        }
        label->setVisible(control.visible);
    }
    for (const std::size_t i : description.drawOrder()) {
        if (widgets[i] != nullptr) {
            widgets[i]->raise();
        }
    }
    // Where the focus rests after a game when a screen reader listens; draws nothing.
    ending_ = new QLabel(client);
    ending_->setObjectName(QStringLiteral("ending"));
    ending_->setGeometry(lblpisteet_->geometry());
    ending_->setAttribute(Qt::WA_TransparentForMouseEvents);
    ending_->hide();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void QtWindow::draw(unsigned changes) {
    const View& view = frmsormio_.view();
    if ((changes & Change::Tiles) != 0) {
        for (int t = 0; t < KeyTable::kKeys; ++t) {
            lblkirjain_[static_cast<std::size_t>(t)]->setBackground(
                view.tiles[static_cast<std::size_t>(t)]);
        }
    }
    if ((changes & Change::Bar) != 0) {
        picture1_->resize(view.barWidth, picture1_->drawn().height);
        picture1_->setVisible(view.barShown);
        picture1_->setEnabled(view.barEnabled);
        moveFocusToMatchBar();
    }
    if ((changes & Change::Score) != 0) {
        lblpisteet_->setText(qText(view.score));
        lblpisteet_->setVisible(view.scoreShown);
    }
    if ((changes & Change::SoundItem) != 0) {
        mnusound_->setText(qText(view.soundCaption));
    }
    if ((changes & Change::Turn) != 0) {
        tellTurn();
    }
}

void QtWindow::wakeAt(std::int64_t atNs) {
    alarm_.set(atNs == Platform::kNever ? Alarm::kOff : atNs);
}

void QtWindow::openAudio() {
    if (!sound_.open()) {
        QMetaObject::invokeMethod(this, [this] { frmsormio_.audioLost(0); }, Qt::QueuedConnection);
    }
}

bool QtWindow::playTones(int n) {
    return sound_.play(n);
}

void QtWindow::dropTones() {
    sound_.drop();
}

void QtWindow::ringBell() {
    QApplication::beep();
}

void QtWindow::quit() {
    QApplication::quit();
}

ReaderFocus QtWindow::readerFocus() const {
    return {.keysStayOnBar = true};
}

bool QtWindow::barTakesKeys() const {
    return picture1_->isVisible() && picture1_->isEnabled();
}

void QtWindow::moveFocusToMatchBar() {
    if (barTakesKeys()) {
        picture1_->setFocus();
        ending_->hide();
    } else if (picture1_->hasFocus() || QApplication::focusWidget() == picture1_) {
        // A half-typed composition is no longer anybody's.
        QGuiApplication::inputMethod()->reset();
        const std::string& ending = frmsormio_.telling().ending;
        if (QAccessible::isActive() && !ending.empty()) {
            // How the game ended is told by the focus coming to a control named by it: the
            // window taking the focus back would have its title said first. Keys typed there
            // reach nothing, as on the window.
            ending_->setAccessibleName(qText(ending));
            ending_->show();
            ending_->setFocus();
        } else {
            setFocus();
        }
    }
}

void QtWindow::tellTurn() {
    // The keyboard focus stays on the bar throughout; a screen reader's is moved by an event.
    const Telling& telling = frmsormio_.telling();
    if (QAccessible::isActive() && barTakesKeys() && telling.tile >= 0) {
        QWidget* focus = tile(telling.tile);
        focus = telling.focus == Telling::Focus::Bar ? picture1_ : focus;
        QAccessibleEvent event(focus, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

Bar::Bar(QWidget* parent, QtWindow& window, const Control& control)
    : QWidget(parent), window_(window), control_(control) {
    setObjectName(qText(control.name));
    setGeometry(qRect(control.geometry));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Dead keys, Compose and input methods deliver what the player typed only to a control
    // that accepts input-method text.
    setAttribute(Qt::WA_InputMethodEnabled);
    setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhPreferLatin);
    setVisible(control.visible);
    setEnabled(control.enabled);
}

void Bar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), qColour(windowDescription().barColour));
}

void Bar::keyPressEvent(QKeyEvent* event) {
    // With no compose at all, a dead key itself comes here.
    const std::u32string text = decodeUtf16(utf16(event->text()));
    KeyPress press;
    press.name = nameOf(event->key(), event->text());
    press.text = text;
    press.function = press.name == KeyPress::Name::Function ? event->key() - Qt::Key_F1 + 1 : 0;
    press.shift = event->modifiers().testFlag(Qt::ShiftModifier);
    press.ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    press.alt = event->modifiers().testFlag(Qt::AltModifier);
    press.meta = event->modifiers().testFlag(Qt::MetaModifier);
    if (window_.frmsormio().key(press, window_.now())) {
        event->accept();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void Bar::keyReleaseEvent(QKeyEvent* event) {
    // A dead key's press is taken by the platform's compose, or arrives without text; its
    // release still comes here.
    if (isDeadKey(event->key())) {
        window_.frmsormio().deadKey();
    }
    QWidget::keyReleaseEvent(event);
}

void Bar::inputMethodEvent(QInputMethodEvent* event) {
    // Only what is committed counts; a pre-edit is the input method's business until then.
    window_.frmsormio().committed(utf16(event->commitString()), window_.now());
    event->accept();
}

}  // namespace sormio
