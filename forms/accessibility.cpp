#include "accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace forms {

namespace {

constexpr char DecorativeProperty[] = "forms_decorative";
constexpr char WindowProperty[] = "forms_window";

bool isDecorative(const QObject *o)
{
    return o->property(DecorativeProperty).toBool();
}

// A container as screen readers see it, without its decoration.
class Container : public QAccessibleWidget
{
public:
    using QAccessibleWidget::QAccessibleWidget;

    int childCount() const override { return int(children().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> list = children();
        return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(children().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

private:
    QList<QWidget *> children() const
    {
        QList<QWidget *> list;
        for (QObject *o : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && !w->isWindow() && !isDecorative(w))
                list << w;
        }
        return list;
    }
};

QAccessibleInterface *containerFactory(const QString &, QObject *object)
{
    // Known by a mark set when the window is made, before any reader can ask about it.
    if (!object || !object->isWidgetType() || !object->property(WindowProperty).toBool())
        return nullptr; // Qt's own interface
    return new Container(static_cast<QWidget *>(object), QAccessible::Window);
}

} // namespace

void markDecorative(QWidget *widget)
{
    widget->setProperty(DecorativeProperty, true);
}

void markFormWindow(QWidget *window)
{
    window->setProperty(WindowProperty, true);
}

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(containerFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace forms
