#include "accessible.h"

#include <QAccessibleWidget>

#include "label.h"
#include "qt_window.h"
#include "reader.h"

namespace sormio {

namespace {

class LabelAccessible : public QAccessibleWidget {
  public:
    explicit LabelAccessible(Label* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    // The lit tile holds the screen reader's focus once a turn has told it there.
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        const auto* label = static_cast<const Label*>(widget());
        if (const auto* window = dynamic_cast<const QtWindow*>(label->window())) {
            const Telling& telling = window->frmsormio().telling();
            if (telling.focus == Telling::Focus::Tile && telling.tile >= 0 &&
                window->tile(telling.tile) == label) {
                state.focusable = true;
                state.focused = true;
            }
        }
        return state;
    }

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const Label*>(widget());
        const auto* window = dynamic_cast<const QtWindow*>(label->window());
        if (window == nullptr || (t != QAccessible::Name && t != QAccessible::Description)) {
            return QAccessibleWidget::text(t);
        }
        const View& view = window->frmsormio().view();
        return qText(t == QAccessible::Name
                         ? reader::nameOf(label->control(), view, window->frmsormio().telling())
                         : std::string(reader::descriptionOf(label->control(), view)));
    }
};

class BarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    BarAccessible(Bar* bar, const QtWindow& window)
        : QAccessibleWidget(bar, QAccessible::ProgressBar), window_(window) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return qText(window_.frmsormio().telling().key);
        }
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return widget()->width(); }
    void setCurrentValue(const QVariant&) override {}  // the countdown alone sets it
    QVariant maximumValue() const override { return reader::BarValue::kMaximum; }
    QVariant minimumValue() const override { return reader::BarValue::kMinimum; }
    QVariant minimumStepSize() const override { return reader::BarValue::kStep; }

  private:
    const QtWindow& window_;
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
