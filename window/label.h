#pragma once

#include <QAccessible>
#include <QColor>
#include <QGlyphRun>
#include <QRawFont>
#include <QString>
#include <QWidget>

namespace sormio {

// A caption on a solid background, optionally framed by a one-pixel border. Drawn by hand rather
// than with a style sheet: each turn paints all 36 tiles, and a colour that did not change must
// cost nothing and repaint nothing.
class Label : public QWidget {
  public:
    Label(QWidget* parent, const QString& name, const QRect& geometry, const QRawFont& font,
          const QString& text, bool border);

    QString text() const { return text_; }
    void setText(const QString& text);
    QColor background() const { return background_; }
    bool isTile() const { return border_; }
    void setBackground(const QColor& colour);

    static const QColor kForeground;
    static const QColor kBorder;

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
    QColor background_ = Qt::black;
    bool border_;
};

}  // namespace sormio
