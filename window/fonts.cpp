#include "fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace sormio {

namespace {

QFont carried(const QString& resource, int pixelSize, QFont::Weight weight) {
    const int id = QFontDatabase::addApplicationFont(resource);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    QFont font(families.isEmpty() ? QString() : families.first());
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    // Grey-scale edges on every screen: sub-pixel colour fringes would vary with the desktop.
    font.setStyleStrategy(
        QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    return font;
}

}  // namespace

const GameFonts& gameFonts() {
    static const GameFonts fonts = [] {
        GameFonts f;
        f.title = carried(QStringLiteral(":/fonts/Lato-Black.ttf"), 96, QFont::Black);
        f.score = f.title;
        f.score.setPixelSize(16);
        f.tile = carried(QStringLiteral(":/fonts/DejaVuSansMono-Bold.ttf"), 16, QFont::Bold);
        f.credit = carried(QStringLiteral(":/fonts/DancingScript-Bold.otf"), 13, QFont::Bold);
        return f;
    }();
    return fonts;
}

}  // namespace sormio
