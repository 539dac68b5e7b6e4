#include "frmsormio.h"

#include <QAccessible>
#include <QApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "accessible.h"
#include "fonts.h"
#include "icons/keyboard16.xpm"
#include "icons/keyboard32.xpm"
#include "key_table.h"
#include "reader.h"

namespace sormio {

namespace {

QRect qRect(const Rect& r) {
    return {r.left, r.top, r.width, r.height};
}

std::chrono::milliseconds periodOf(std::string_view timer) {
    return std::chrono::milliseconds(windowDescription().control(timer).periodMs);
}

bool isDeadKey(int key) {
    return (key >= Qt::Key_Dead_Grave && key <= Qt::Key_Dead_Longsolidusoverlay) ||
           key == Qt::Key_Multi_key;
}

std::u16string_view utf16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

}  // namespace

Frmsormio::Frmsormio()
    : game_(*this),
      pressKey_([this](std::uint8_t code) {
          if (barTakesKeys()) {
              std::int16_t keyascii = code;
              picture1_KeyPress(keyascii);
          }
      }),
      tmr2_(periodOf("Tmr2"), [this](std::int64_t n) { game_.samplerTicks(n); }),
      tmr1_(periodOf("Tmr1"),
            [this] {
                game_.Tmr1_Timer();
                tellIfGameEnded();
            }),
      sound_([this](int tones) {
          // From the sound thread: a lost server's tones are rung on the window's thread.
          QMetaObject::invokeMethod(
              this,
              [tones] {
                  for (int i = 0; i < tones; ++i) {
                      QApplication::beep();
                  }
              },
              Qt::QueuedConnection);
      }),
      bell_([this] {
          if (!sound_.beep()) {
              QApplication::beep();
          }
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
    tmr2_.start();
    Form_Load();
}

Frmsormio::~Frmsormio() = default;

void Frmsormio::buildMenu() {
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
                    mnustart_Click();
                    break;
                case Command::Sound:
                    mnusound_Click();
                    break;
                case Command::Quit:
                    mnuquit_Click();
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

void Frmsormio::buildControls() {
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
            continue;  // the timers are the tickers above
        }
        auto* label = new Label(client, control, gameFont(*control.font));
        if (control.index >= 0) {
            lblkirjain_[control.index] = label;
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

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void Frmsormio::Form_Load() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    picture1_->hide();
    picture1_->setEnabled(false);
}

void Frmsormio::startSoundAfterFirstFrame() {
    client()->installEventFilter(this);
}

bool Frmsormio::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client() && event->type() == QEvent::Paint) {
        client()->removeEventFilter(this);
        // Queued: the frame is painted and handed to the window system first.
        QTimer::singleShot(0, this, [this] { sound_.start(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void Frmsormio::mnustart_Click() {
    sound_.drop();  // what is left of the last game's tones would only delay this one's
    tmr2_.settle();
    picture1_->dropComposition();  // a dead key before Start is not part of this game
    if (!accessibleDescription().isEmpty()) {
        setAccessibleDescription({});
    }
    game_.mnustart_Click();
    tellTurn();
}

void Frmsormio::tellIfGameEnded() {
    if (barTakesKeys() || !QAccessible::isActive() || !accessibleDescription().isEmpty()) {
        return;
    }
    // Set on the window, which holds the focus from now on: read with it, and told at once.
    const QString ending = QString::fromStdString(reader::ending(game_.state));
    setAccessibleDescription(ending);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // A screen reader that reads the window's title only, as the focus comes back after the
    // key it echoed (Orca 48), still says the sentence when asked to announce it.
    QAccessibleAnnouncementEvent announcement(this, ending);
    announcement.setPoliteness(QAccessible::AnnouncementPoliteness::Assertive);
    QAccessible::updateAccessibility(&announcement);
#endif
}

void Frmsormio::mnusound_Click() {
    mnusound_->setText(qText(toggleSound(game_.state)));
}

void Frmsormio::mnuquit_Click() {
    QApplication::quit();
}

void Frmsormio::paintTile(int tile, TileColour colour) {
    lblkirjain_[tile]->setBackground(rgbOf(colour));
}

void Frmsormio::tellTurn() {
    if (!QAccessible::isActive() || !barTakesKeys()) {
        return;
    }
    // The screen reader's focus moves to the lit tile, named by the key to press, so that a
    // screen reader speaks the key at every turn: the bar holds the keyboard focus throughout,
    // and a screen reader tells nothing of a focus that does not move. Keys still go to the bar.
    QWidget* tile =
        lblkirjain_[KeyTable::tileOfKey(KeyTable::keyOfValue(game_.state.target).value_or(0))];
    if (announced_ != tile) {
        tell(tile);
        return;
    }
    // The same tile again: told by the bar, also named by the key, and a moment later by the
    // tile once more, for a screen reader that took the focus to the bar itself on the key.
    tell(picture1_);
    const std::uint64_t turn = turnsTold_;
    QTimer::singleShot(150, this, [this, tile, turn] {
        if (turn == turnsTold_ && barTakesKeys()) {
            tell(tile);
        }
    });
}

void Frmsormio::tell(QWidget* focus) {
    announced_ = focus;
    ++turnsTold_;
    QAccessibleEvent event(focus, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

float Frmsormio::barWidth() const {
    return static_cast<float>(picture1_->width());
}

void Frmsormio::setBarWidth(float px) {
    picture1_->resize(barPixels(px), picture1_->drawn().height);
}

void Frmsormio::setBarShown(bool on) {
    picture1_->setVisible(on);
    moveFocusToMatchBar();
}

void Frmsormio::setBarEnabled(bool on) {
    picture1_->setEnabled(on);
    moveFocusToMatchBar();
}

bool Frmsormio::barTakesKeys() const {
    return picture1_->isVisible() && picture1_->isEnabled();
}

void Frmsormio::moveFocusToMatchBar() {
    if (barTakesKeys()) {
        picture1_->setFocus();
    } else if (picture1_->hasFocus() || QApplication::focusWidget() == picture1_) {
        picture1_->dropComposition();
        announced_ = nullptr;
        setFocus();
    }
}

void Frmsormio::setCountdown(bool on) {
    if (on) {
        tmr1_.start();
    } else {
        tmr1_.stop();
    }
}

void Frmsormio::setScoreCaption(const std::string& text) {
    lblpisteet_->setText(QString::fromStdString(text));
}

void Frmsormio::showScore() {
    lblpisteet_->show();
}

void Frmsormio::beep() {
    if (bell_) {
        bell_();
    }
}

Bar::Bar(QWidget* parent, Frmsormio& window, const Control& control)
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
            window_.keyEntry().deadKey();  // no compose at all: the dead key itself comes here
        }
        QWidget::keyPressEvent(event);  // arrows, modifiers, function keys: not the game's
        return;
    }
    window_.keyEntry().keyText(utf16(event->text()), window_.pressKey());
    event->accept();
}

void Bar::keyReleaseEvent(QKeyEvent* event) {
    // A dead key's press is taken by the platform's compose, or arrives without text; its
    // release still comes here.
    if (isDeadKey(event->key())) {
        window_.keyEntry().deadKey();
    }
    QWidget::keyReleaseEvent(event);
}

void Bar::inputMethodEvent(QInputMethodEvent* event) {
    // Only what is committed counts; a pre-edit is the input method's business until then.
    window_.keyEntry().committed(utf16(event->commitString()), window_.pressKey());
    event->accept();
}

void Bar::dropComposition() {
    window_.keyEntry().forget();
    QGuiApplication::inputMethod()->reset();
}

}  // namespace sormio
