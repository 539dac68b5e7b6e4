#include "fonts.h"

#include "label.h"

#include <QResource>
#include <map>

namespace sormio {

const QRawFont& gameFont(const Font& font) {
    static std::map<const Font*, QRawFont> loaded;
    auto found = loaded.find(&font);
    if (found == loaded.end()) {
        // The resource is stored uncompressed in the program: its bytes are used where they lie.
        const QResource file(
            QStringLiteral(":/fonts/") +
            QString::fromUtf8(font.file.data(), static_cast<qsizetype>(font.file.size())));
        const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()),
                                                        static_cast<qsizetype>(file.size()));
        found = loaded.emplace(&font, QRawFont(data, font.pixels(), QFont::PreferNoHinting)).first;
    }
    return found->second;
}

}  // namespace sormio
