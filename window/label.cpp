#include "label.h"

#include <QPainter>

namespace sormio {

const QColor Label::kForeground = Qt::white;
const QColor Label::kBorder{0xC0, 0xC0, 0xC0};

Label::Label(QWidget* parent, const QString& name, const QRect& geometry, const QFont& font,
             const QString& text, bool border)
    : QWidget(parent), text_(text), border_(border) {
    setObjectName(name);
    setGeometry(geometry);
    setFont(font);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Label::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        update();
    }
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
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

}  // namespace sormio
