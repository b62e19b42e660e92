#include "ui/controls/control_accessibility.h"

#include "ui/controls/color_static.h"
#include "ui/controls/progress_ex.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

namespace {

class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(CProgressEx* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) {
            return QStringLiteral("%1%").arg(Bar()->Percent());
        }
        return QAccessibleWidget::text(type);
    }

    QVariant currentValue() const override { return Bar()->Pos(); }
    void setCurrentValue(const QVariant&) override {} // the player reads the bar, never sets it
    QVariant maximumValue() const override { return Bar()->Upper(); }
    QVariant minimumValue() const override { return Bar()->Lower(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    const CProgressEx* Bar() const { return static_cast<const CProgressEx*>(widget()); }
};

class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(CColorStatic* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text type) const override {
        const bool named = !widget()->accessibleName().isEmpty();
        if (type == QAccessible::Value || (type == QAccessible::Name && !named)) {
            return QString::fromStdString(static_cast<const CColorStatic*>(widget())->GetWindowText());
        }
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface* ControlInterface(const QString&, QObject* object) {
    if (auto* bar = qobject_cast<CProgressEx*>(object)) {
        return new ProgressAccessible(bar);
    }
    if (auto* label = qobject_cast<CColorStatic*>(object)) {
        return new LabelAccessible(label);
    }
    return nullptr;
}

} // namespace

void InstallControlAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&ControlInterface);
        return true;
    }();
    static_cast<void>(installed);
}
