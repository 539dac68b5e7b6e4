#include "frmsormio.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>

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

constexpr QRect kBarGeometry{100, 304, 600, 1};
constexpr QRect kCreditGeometry{208, 128, 401, 33};
constexpr QRect kScoreGeometry{376, 320, 49, 33};
constexpr QRect kTitleGeometry{16, 8, 769, 129};

QColor qColour(TileColour colour) {
    return QColor::fromRgb(static_cast<QRgb>(colour));
}

}  // namespace

const QColor Frmsormio::kBarColour = Qt::white;

Frmsormio::Frmsormio()
    : game_(*this),
      tmr2_(kSamplerPeriod, [this] { game_.Tmr2_Timer(); }),
      tmr1_(kCountdownPeriod, [this] { game_.Tmr1_Timer(); }),
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
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.utf16()),
                                    static_cast<std::size_t>(text.size()));
    codepage::forEachCharCode(units, [this](std::uint8_t code) {
        if (barTakesKeys()) {
            std::int16_t keyascii = code;
            picture1_KeyPress(keyascii);
        }
    });
}

void Frmsormio::paintTile(int tile, TileColour colour) {
    lblkirjain_[tile]->setBackground(qColour(colour));
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
    focusBarIfItTakesKeys();
}

void Frmsormio::setBarEnabled(bool on) {
    picture1_->setEnabled(on);
    focusBarIfItTakesKeys();
}

bool Frmsormio::barTakesKeys() const {
    return picture1_->isVisible() && picture1_->isEnabled();
}

void Frmsormio::focusBarIfItTakesKeys() {
    if (barTakesKeys()) {
        picture1_->setFocus();
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
    setEnabled(false);
}

void Bar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Frmsormio::kBarColour);
}

void Bar::keyPressEvent(QKeyEvent* event) {
    if (event->text().isEmpty()) {
        QWidget::keyPressEvent(event);  // arrows, modifiers, function keys: not the game's
        return;
    }
    window_.typeText(event->text());
    event->accept();
}

}  // namespace sormio
