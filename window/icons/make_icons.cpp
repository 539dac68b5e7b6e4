// Writes the installed icons from the hand-drawn pixel art: PNGs scaled by whole factors without
// smoothing, so that every size keeps its sharp pixels, and an SVG of the 32 x 32 art.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>
#include <cstdio>

#include "keyboard16.xpm"
#include "keyboard32.xpm"

namespace {

bool writePng(const QImage& art, int factor, const QString& dir) {
    const int size = art.width() * factor;
    const QString path = QStringLiteral("%1/%2x%2.png").arg(dir).arg(size);
    return art.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(path);
}

bool writeSvg(const QImage& art, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    QTextStream out(&file);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << art.width() << ' '
        << art.height() << "\" width=\"256\" height=\"256\" shape-rendering=\"crispEdges\">\n";
    for (int y = 0; y < art.height(); ++y) {
        for (int x = 0; x < art.width();) {
            const QRgb colour = art.pixel(x, y);
            int run = 1;
            while (x + run < art.width() && art.pixel(x + run, y) == colour) {
                ++run;
            }
            if (qAlpha(colour) != 0) {
                out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << run
                    << "\" height=\"1\" fill=\"" << QColor(colour).name() << "\"/>\n";
            }
            x += run;
        }
    }
    out << "</svg>\n";
    return out.status() == QTextStream::Ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_icons OUTPUT_DIR\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QImage small(keyboard16_xpm);
    const QImage large(keyboard32_xpm);
    const bool ok = writePng(small, 1, dir) && writePng(small, 3, dir) && writePng(large, 1, dir) &&
                    writePng(large, 2, dir) && writePng(large, 4, dir) && writePng(large, 8, dir) &&
                    writeSvg(large, dir + QStringLiteral("/scalable.svg"));
    if (!ok) {
        std::fputs("make_icons: could not write the icons\n", stderr);
        return 1;
    }
    return 0;
}
