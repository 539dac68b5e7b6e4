#include "fonts.h"

#include <QResource>

namespace sormio {

namespace {

QRawFont carried(const QString& resource, qreal pixelSize) {
    // The resource is stored uncompressed in the program: its bytes are used where they lie.
    const QResource file(resource);
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()),
                                                    static_cast<qsizetype>(file.size()));
    return QRawFont(data, pixelSize, QFont::PreferNoHinting);
}

}  // namespace

const GameFonts& gameFonts() {
    static const GameFonts fonts = [] {
        const QString lato = QStringLiteral(":/fonts/Lato-Black.ttf");
        return GameFonts{carried(lato, 96), carried(lato, 16),
                         carried(QStringLiteral(":/fonts/DejaVuSansMono-Bold.ttf"), 16),
                         carried(QStringLiteral(":/fonts/DancingScript-Bold.otf"), 13)};
    }();
    return fonts;
}

}  // namespace sormio
