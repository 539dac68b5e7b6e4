#include "qt_window.h"

#include <QAccessible>
#include <QApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTimer>

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

}  // namespace

QtWindow::QtWindow()
    : middle_(*this),
      alarm_([this](std::int64_t now) { middle_.wake(now); }),
      sound_([this](int tones) {
          // From the sound thread: what a lost server did not play is handed back to the window's.
          QMetaObject::invokeMethod(
              this, [this, tones] { middle_.tonesLost(tones); }, Qt::QueuedConnection);
      }) {
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
    middle_.Form_Load(now());
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
        QAction* action = mnuohjelma->addAction(qText(item.caption), [this, &item] {
            switch (item.command) {
                case Command::Start:
                    middle_.mnustart_Click(now());
                    break;
                case Command::Sound:
                    middle_.mnusound_Click();
                    break;
                case Command::Quit:
                    middle_.mnuquit_Click();
                    break;
            }
        });
        action->setObjectName(qText(item.name));
        if (item.shortcut != Shortcut::None) {
            action->setShortcut(item.shortcut == Shortcut::F1 ? Qt::Key_F1 : Qt::Key_F3);
        }
        // Shortcuts act whichever control holds the focus, the bar included.
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
        (item.command == Command::Start   ? mnustart_
         : item.command == Command::Sound ? mnusound_
                                          : mnuquit_) = action;
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

    // Created in the order of the description; later siblings lie on top.
    for (const Control& control : description.controls) {
        if (control.kind == ControlKind::Bar) {
            picture1_ = new Bar(client, *this, control);
            continue;
        }
        if (control.kind != ControlKind::Label) {
            continue;  // the timers are the middle's
        }
        auto* label = new Label(client, control, gameFont(*control.font));
        if (control.index >= 0) {
            lblkirjain_[static_cast<std::size_t>(control.index)] = label;
        } else if (control.name == "Label1") {
            label1_ = label;
        } else if (control.name == "Lblpisteet") {
            lblpisteet_ = label;
            label->setAccessibleDescription(qText(texts().points));
        } else {
            lblotsikko_ = label;
        }
        label->setVisible(control.visible);
    }
    // The credit line overlaps the title's last nine rows and must stay readable over it.
    label1_->raise();
    // Where the focus rests after a game when a screen reader listens; draws nothing.
    ending_ = new QLabel(client);
    ending_->setObjectName(QStringLiteral("ending"));
    ending_->setGeometry(lblpisteet_->geometry());
    ending_->setAttribute(Qt::WA_TransparentForMouseEvents);
    ending_->hide();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void QtWindow::setClock(Clock clock) {
    clock_ = std::move(clock);
    byHand_ = true;
    alarm_.set(Alarm::kOff);
}

void QtWindow::draw(unsigned changes) {
    const View& view = middle_.view();
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
    if (!byHand_) {
        alarm_.set(atNs == Platform::kNever ? Alarm::kOff : atNs);
    }
}

void QtWindow::openAudio() {
    if (!listener_) {
        sound_.open();
    }
}

bool QtWindow::playTones(int n) {
    if (listener_) {
        listener_(n);
        return true;
    }
    return sound_.play(n);
}

void QtWindow::dropTones() {
    sound_.drop();
}

void QtWindow::ringBell() {
    if (listener_) {
        listener_(1);
    } else {
        QApplication::beep();
    }
}

void QtWindow::quit() {
    QApplication::quit();
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
        announced_ = nullptr;
        const std::string& ending = middle_.telling().ending;
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
    if (!QAccessible::isActive() || !barTakesKeys()) {
        return;
    }
    // The screen reader's focus moves to the lit tile, named by the key to press, so that a
    // screen reader speaks the key at every turn: the bar holds the keyboard focus throughout,
    // and a screen reader tells nothing of a focus that does not move. Keys still go to the bar.
    const Telling& telling = middle_.telling();
    const auto key = KeyTable::keyOfCharCode(static_cast<unsigned char>(telling.key.at(0)));
    QWidget* tile = lblkirjain_[static_cast<std::size_t>(KeyTable::tileOfKey(key.value_or(0)))];
    if (!telling.sameKey || announced_ != tile) {
        tell(tile);
        return;
    }
    // The same tile again: told by the bar, also named by the key, and a moment later by the
    // tile once more, for a screen reader that took the focus to the bar itself on the key.
    tell(picture1_);
    const std::uint64_t turn = telling.turn;
    QTimer::singleShot(150, this, [this, tile, turn] {
        if (turn == middle_.telling().turn && barTakesKeys()) {
            tell(tile);
        }
    });
}

void QtWindow::tell(QWidget* focus) {
    announced_ = focus;
    QAccessibleEvent event(focus, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
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
    if (event->text().isEmpty()) {
        if (isDeadKey(event->key())) {
            window_.middle().deadKey();  // no compose at all: the dead key itself comes here
        }
        QWidget::keyPressEvent(event);  // arrows, modifiers, function keys: not the game's
        return;
    }
    window_.middle().keyText(utf16(event->text()), window_.now());
    event->accept();
}

void Bar::keyReleaseEvent(QKeyEvent* event) {
    // A dead key's press is taken by the platform's compose, or arrives without text; its
    // release still comes here.
    if (isDeadKey(event->key())) {
        window_.middle().deadKey();
    }
    QWidget::keyReleaseEvent(event);
}

void Bar::inputMethodEvent(QInputMethodEvent* event) {
    // Only what is committed counts; a pre-edit is the input method's business until then.
    window_.middle().committed(utf16(event->commitString()), window_.now());
    event->accept();
}

}  // namespace sormio
