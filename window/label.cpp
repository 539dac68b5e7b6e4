#include "label.h"

#include <QPainter>
#include <cmath>

namespace sormio {

const QColor Label::kForeground = Qt::white;
const QColor Label::kBorder{0xC0, 0xC0, 0xC0};

Label::Label(QWidget* parent, const QString& name, const QRect& geometry, const QRawFont& font,
             const QString& text, bool border)
    : QWidget(parent), font_(font), text_(text), border_(border) {
    setObjectName(name);
    setGeometry(geometry);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    layOut();
}

void Label::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        layOut();
        update();
    }
}

void Label::layOut() {
    const QList<quint32> indexes = font_.glyphIndexesForString(text_);
    const QList<QPointF> advances = font_.advancesForGlyphIndexes(indexes);
    QList<QPointF> positions;
    positions.reserve(indexes.size());
    qreal x = 0;
    for (const QPointF& advance : advances) {
        positions.append(QPointF(x, 0));
        x += advance.x();
    }
    glyphs_.setRawFont(font_);
    glyphs_.setGlyphIndexes(indexes);
    glyphs_.setPositions(positions);
    // Centred both ways; a caption wider than the label is cut at both ends alike.
    origin_ =
        QPointF(std::round((width() - x) / 2),
                std::round((height() - font_.ascent() - font_.descent()) / 2 + font_.ascent()));
}

void Label::setBackground(const QColor& colour) {
    if (colour != background_) {
        background_ = colour;
        update();
    }
}

void Label::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    if (border_) {
        painter.setPen(kBorder);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    painter.setPen(kForeground);
    painter.drawGlyphRun(origin_, glyphs_);
}

}  // namespace sormio
