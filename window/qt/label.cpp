#include "label.h"

#include <QAccessible>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace sormio {

Label::Label(QWidget* parent, const Control& control, const QRawFont& font)
    : QWidget(parent),
      font_(font),
      text_(QString::fromStdString(control.caption)),
      foreground_(qColour(control.text)),
      background_(control.background),
      control_(control) {
    setObjectName(QString::fromStdString(control.fullName()));
    const Rect& r = control.geometry;
    setGeometry(r.left, r.top, r.width, r.height);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    layOut();
}

void Label::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        layOut();
        update();
        tell(QAccessible::NameChanged);
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

void Label::setBackground(Rgb colour) {
    if (colour != background_) {
        background_ = colour;
        update();
        if (control_.border) {
            tell(QAccessible::DescriptionChanged);  // a tile: the key to press, or the wrong one
        }
    }
}

void Label::tell(QAccessible::Event change) {
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, change);
        QAccessible::updateAccessibility(&event);
    }
}

void Label::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Background and border are laid on whole device pixels. At 125 % or 150 % a one-pixel
    // line drawn in widget units falls between device rows: it is lost where the widget's
    // clip begins, or doubled where neighbouring tiles overlap. Snapped, every line of the
    // keyboard is the same number of device pixels, and neighbours' lines coincide.
    const QTransform world = painter.worldTransform();
    const QTransform toDevice = painter.deviceTransform();
    painter.setWorldTransform((world.inverted() * toDevice).inverted());
    const qreal scale = toDevice.m11();
    const QPointF origin = toDevice.map(QPointF(0, 0));
    const auto x = [&](int units) { return qRound(origin.x() + units * scale); };
    const auto y = [&](int units) { return qRound(origin.y() + units * scale); };
    painter.fillRect(QRect(QPoint(x(0), y(0)), QPoint(x(width()) - 1, y(height()) - 1)),
                     qColour(background_));
    if (control_.border) {
        const int line = std::max(1, static_cast<int>(scale));
        const int left = x(0), top = y(0), right = x(width() - 1), bottom = y(height() - 1);
        const int across = right + line - left, down = bottom + line - top;
        const QColor border = qColour(windowDescription().tileBorder);
        painter.fillRect(left, top, across, line, border);
        painter.fillRect(left, bottom, across, line, border);
        painter.fillRect(left, top, line, down, border);
        painter.fillRect(right, top, line, down, border);
    }
    painter.setWorldTransform(world);
    painter.setPen(foreground_);
    painter.drawGlyphRun(origin_, glyphs_);
}

}  // namespace sormio
