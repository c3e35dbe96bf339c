#include "accessibility.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QWindow>
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

// The application as screen readers see it: its windows, without the offscreen windows
// that embedded Qt Quick content keeps (the browser engine's views have one each, never
// shown, called "Offscreen"), which Qt would list beside the real ones.
class Application : public QAccessibleInterface
{
public:
    bool isValid() const override { return true; }
    QObject *object() const override { return qApp; }
    QWindow *window() const override { return nullptr; }
    QAccessibleInterface *parent() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override
    {
        QWindow *focused = QGuiApplication::focusWindow();
        return focused ? focused->accessibleRoot() : nullptr;
    }
    int childCount() const override { return int(windows().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QAccessibleInterface *> list = windows();
        return index >= 0 && index < list.size() ? list[index] : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return int(windows().indexOf(const_cast<QAccessibleInterface *>(child)));
    }
    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return QGuiApplication::applicationName();
        case QAccessible::Description:
            return QCoreApplication::applicationFilePath();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override { }
    QRect rect() const override { return {}; }
    QAccessible::Role role() const override { return QAccessible::Application; }
    QAccessible::State state() const override { return {}; }

private:
    static QList<QAccessibleInterface *> windows()
    {
        QList<QAccessibleInterface *> list;
        for (QWindow *w : QGuiApplication::topLevelWindows()) {
            if (w->type() == Qt::Popup || w->type() == Qt::Desktop || w->inherits("QQuickWidgetOffscreenWindow"))
                continue;
            if (QAccessibleInterface *root = w->accessibleRoot(); root && root->object())
                list << root;
        }
        return list;
    }
};

QAccessibleInterface *containerFactory(const QString &, QObject *object)
{
    if (object && object == qApp)
        return new Application;
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
