#include "accessible.h"

#include <QAccessibleWidget>

#include "frmsormio.h"
#include "label.h"

namespace sormio {

namespace {

const QString kTarget = QStringLiteral("kohde");
const QString kWrong = QStringLiteral("väärä");

class LabelAccessible : public QAccessibleWidget {
  public:
    explicit LabelAccessible(Label* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const Label*>(widget());
        switch (t) {
            case QAccessible::Name:
                return label->text().trimmed();
            case QAccessible::Description:
                if (!label->isTile()) {
                    return QAccessibleWidget::text(t);
                }
                if (label->background() == qColour(TileColour::Red)) {
                    return kTarget;
                }
                if (label->background() == qColour(TileColour::Blue)) {
                    return kWrong;
                }
                return {};
            default:
                return QAccessibleWidget::text(t);
        }
    }
};

class BarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    BarAccessible(Bar* bar, const Frmsormio& window)
        : QAccessibleWidget(bar, QAccessible::ProgressBar), window_(window) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return window_.targetName();
        }
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return widget()->width(); }
    void setCurrentValue(const QVariant&) override {}  // the countdown alone sets it
    QVariant maximumValue() const override { return Game::kStartWidth; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return static_cast<int>(Game::kCountdownStep); }

  private:
    const Frmsormio& window_;
};

QAccessibleInterface* accessibleFor(const QString&, QObject* object) {
    // The game's controls declare no meta-object of their own, so they are told apart by type.
    if (auto* bar = dynamic_cast<Bar*>(object)) {
        return new BarAccessible(bar, bar->owner());
    }
    if (auto* label = dynamic_cast<Label*>(object)) {
        return new LabelAccessible(label);
    }
    return nullptr;
}

}  // namespace

void installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    (void)installed;
}

}  // namespace sormio
