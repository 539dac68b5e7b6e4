#pragma once

#include <QAccessible>
#include <QColor>
#include <QGlyphRun>
#include <QRawFont>
#include <QString>
#include <QWidget>

#include "description.h"

namespace sormio {

inline QColor qColour(Rgb c) {
    return {c.r, c.g, c.b};
}

inline QString qText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A caption on a solid background, optionally framed by a one-pixel border. Drawn by hand rather
// than with a style sheet: each turn paints all 36 tiles, and a colour that did not change must
// cost nothing and repaint nothing.
class Label : public QWidget {
  public:
    // As the description draws it: name, place, caption, colours and border.
    Label(QWidget* parent, const Control& control, const QRawFont& font);

    QString text() const { return text_; }
    void setText(const QString& text);
    Rgb background() const { return background_; }
    const Control& control() const { return control_; }
    void setBackground(Rgb colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void layOut();
    // Reports a change to assistive technology, if any listens.
    void tell(QAccessible::Event change);

    QRawFont font_;
    QString text_;
    QGlyphRun glyphs_;  // the caption, laid out centred once per change of text
    QPointF origin_;
    QColor foreground_;
    Rgb background_;
    const Control& control_;
};

}  // namespace sormio
