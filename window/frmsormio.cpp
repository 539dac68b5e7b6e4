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
#include "codepage.h"
#include "fonts.h"
#include "icons/keyboard16.xpm"
#include "icons/keyboard32.xpm"
#include "key_table.h"

namespace sormio {

namespace {

const QString kCaption = QStringLiteral("Sormio IV");
const QString kTitle = QStringLiteral("SORMIO IV");
const QString kCredit = QStringLiteral("TEKIJÄT: SORMIO-TIIMI 2026");
const QString kMenu = QStringLiteral("Ohjelma");
const QString kStart = QStringLiteral("Käynnistä");
const QString kSoundOn = QStringLiteral("Äänet päällä");
const QString kSoundOff = QStringLiteral("Äänet poissa");
const QString kQuit = QStringLiteral("Lopeta");
// How a game ended, for a screen reader; the score follows.
const QString kTimedOut = QStringLiteral("Aika loppui");
const QString kWrongKey = QStringLiteral("Väärä näppäin");
const QString kPoints = QStringLiteral("pisteet");

constexpr QRect kBarGeometry{100, 304, 600, 1};
constexpr QRect kCreditGeometry{208, 128, 401, 33};
constexpr QRect kScoreGeometry{376, 320, 49, 33};
constexpr QRect kTitleGeometry{16, 8, 769, 129};

QLatin1Char glyphOfKey(int key) {
    return QLatin1Char(KeyTable::rows()[KeyTable::tileOfKey(key)].glyph);
}

bool isDeadKey(int key) {
    return (key >= Qt::Key_Dead_Grave && key <= Qt::Key_Dead_Longsolidusoverlay) ||
           key == Qt::Key_Multi_key;
}

// Stands for a key that arrived as something other than itself: no key of the game has it.
constexpr char16_t kNotAKey = u'\uFFFD';

// The characters as the player sees them typed. An input method may commit a letter and its
// accents separately ("a" and U+0301 for "á"), or a letter that has no single code at all
// ("j" with an acute): either way it is one character, and never the plain letter.
std::u16string asTyped(const QString& text) {
    std::u16string units;
    units.reserve(static_cast<std::size_t>(text.size()));
    std::size_t last = 0;  // where the last character begins
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        const bool pair =
            QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pair) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
        }
        const QChar::Category category = QChar::category(c);
        if (!units.empty() &&
            (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
             category == QChar::Mark_Enclosing)) {
            units.resize(last);
            units.push_back(kNotAKey);
        } else {
            last = units.size();
            units.push_back(text.at(i).unicode());
            if (pair) {
                units.push_back(text.at(i + 1).unicode());
            }
        }
        i += pair ? 1 : 0;
    }
    return units;
}

}  // namespace

QColor qColour(TileColour colour) {
    return QColor::fromRgb(static_cast<QRgb>(colour));
}

const QColor Frmsormio::kBarColour = Qt::white;

Frmsormio::Frmsormio()
    : game_(*this),
      tmr2_(kSamplerPeriod, [this] { game_.Tmr2_Timer(); }),
      tmr1_(kCountdownPeriod,
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
    setObjectName(QStringLiteral("Frmsormio"));
    installAccessibleFactory();
    setWindowTitle(kCaption);
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
    QMenu* mnuohjelma = menuBar()->addMenu(kMenu);
    mnuohjelma->setObjectName(QStringLiteral("mnuohjelma"));
    mnustart_ = mnuohjelma->addAction(kStart, [this] { mnustart_Click(); });
    mnustart_->setObjectName(QStringLiteral("mnustart"));
    mnustart_->setShortcut(Qt::Key_F1);
    mnusound_ = mnuohjelma->addAction(kSoundOn, [this] { mnusound_Click(); });
    mnusound_->setObjectName(QStringLiteral("mnusound"));
    mnusound_->setShortcut(Qt::Key_F3);
    mnuquit_ = mnuohjelma->addAction(kQuit, [this] { mnuquit_Click(); });
    mnuquit_->setObjectName(QStringLiteral("mnuquit"));
    for (QAction* action : {mnustart_, mnusound_, mnuquit_}) {
        // Shortcuts act whichever control holds the focus, the bar included.
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
    }
}

void Frmsormio::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, Qt::black);
    client->setPalette(palette);
    setCentralWidget(client);

    // Created in the order of the window description; later siblings lie on top.
    picture1_ = new Bar(client, *this);
    const GameFonts& fonts = gameFonts();
    for (int tile = KeyTable::kKeys - 1; tile >= 0; --tile) {
        const KeyRow& row = KeyTable::rows()[tile];
        lblkirjain_[tile] =
            new Label(client, QStringLiteral("Lblkirjain(%1)").arg(tile),
                      QRect(row.left, row.top, KeyTable::kTileSize, KeyTable::kTileSize),
                      fonts.tile, QString(QLatin1Char(row.glyph)), true);
    }
    label1_ =
        new Label(client, QStringLiteral("Label1"), kCreditGeometry, fonts.credit, kCredit, false);
    lblpisteet_ = new Label(client, QStringLiteral("Lblpisteet"), kScoreGeometry, fonts.score,
                            QStringLiteral("0"), false);
    lblpisteet_->setAccessibleDescription(kPoints);
    lblpisteet_->hide();
    lblotsikko_ =
        new Label(client, QStringLiteral("Lblotsikko"), kTitleGeometry, fonts.title, kTitle, false);
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
}

QString Frmsormio::targetName() const {
    const std::optional<int> key = KeyTable::keyOfValue(game_.state.target);
    if (!key) {
        return {};
    }
    return QString(glyphOfKey(*key));
}

void Frmsormio::tellIfGameEnded() {
    if (barTakesKeys() || !QAccessible::isActive() || !accessibleDescription().isEmpty()) {
        return;
    }
    const GameState& state = game_.state;
    QString how = kTimedOut;
    if (state.timedout == 0) {
        how = kWrongKey;
        if (const std::optional<int> key = KeyTable::keyOfCharCode(state.keycode)) {
            how += QLatin1Char(' ');
            how += glyphOfKey(*key);
        }
    }
    // Set on the window, which holds the focus from now on: read with it, and told at once.
    setAccessibleDescription(how + QStringLiteral(", ") + kPoints + QLatin1Char(' ') +
                             lblpisteet_->text().trimmed());
}

void Frmsormio::mnusound_Click() {
    GameState& state = game_.state;
    if (state.soundoff == 0) {
        state.soundoff = 1;
        mnusound_->setText(kSoundOff);
    } else {
        state.soundoff = 0;
        mnusound_->setText(kSoundOn);
    }
}

void Frmsormio::mnuquit_Click() {
    QApplication::quit();
}

void Frmsormio::typeText(const QString& text) {
    const std::u16string units = asTyped(text);
    codepage::forEachCharCode(units, [this](std::uint8_t code) {
        if (barTakesKeys()) {
            std::int16_t keyascii = code;
            picture1_KeyPress(keyascii);
        }
    });
}

void Frmsormio::paintTile(int tile, TileColour colour) {
    lblkirjain_[tile]->setBackground(qColour(colour));
    if (colour == TileColour::Red && QAccessible::isActive()) {
        // A new turn: the bar, named by the key to press, holds the focus, so the change of
        // its name is what a screen reader speaks. Told even when the key is the same again.
        QAccessibleEvent event(picture1_, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

float Frmsormio::barWidth() const {
    return static_cast<float>(picture1_->width());
}

void Frmsormio::setBarWidth(float px) {
    // Never wider than the bar was drawn; NaN and anything below 0 give 0.
    const float clamped =
        std::clamp(std::isnan(px) ? 0.0f : px, 0.0f, static_cast<float>(kBarGeometry.width()));
    picture1_->resize(static_cast<int>(std::lround(clamped)), kBarGeometry.height());
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

Bar::Bar(QWidget* parent, Frmsormio& window) : QWidget(parent), window_(window) {
    setObjectName(QStringLiteral("Picture1"));
    setGeometry(kBarGeometry);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Dead keys, Compose and input methods deliver what the player typed only to a control
    // that accepts input-method text.
    setAttribute(Qt::WA_InputMethodEnabled);
    setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhPreferLatin);
    setEnabled(false);
}

void Bar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Frmsormio::kBarColour);
}

void Bar::keyPressEvent(QKeyEvent* event) {
    if (event->text().isEmpty()) {
        if (isDeadKey(event->key())) {
            composing_ = true;  // no compose at all: the dead key itself comes here
        }
        QWidget::keyPressEvent(event);  // arrows, modifiers, function keys: not the game's
        return;
    }
    if (composing_) {
        // Compose gave up on this key and let it through: it was not typed as itself.
        composing_ = false;
        window_.typeText(QString(QChar(kNotAKey)));
    } else {
        window_.typeText(event->text());
    }
    event->accept();
}

void Bar::keyReleaseEvent(QKeyEvent* event) {
    // A dead key's press is taken by the platform's compose, or arrives without text; its
    // release still comes here.
    if (isDeadKey(event->key())) {
        composing_ = true;
    }
    QWidget::keyReleaseEvent(event);
}

void Bar::inputMethodEvent(QInputMethodEvent* event) {
    // Only what is committed counts; a pre-edit is the input method's business until then.
    if (!event->commitString().isEmpty()) {
        composing_ = false;
        window_.typeText(event->commitString());
    }
    event->accept();
}

void Bar::dropComposition() {
    composing_ = false;
    QGuiApplication::inputMethod()->reset();
}

}  // namespace sormio
