#pragma once

// The form runtime, the floor everything else stands on (Qt alone below it): windows
// built from design tables in twips, load/show/unload, controls and timers, the error
// model with resume-next recovery, the user32 window functions, placement on screen.

#include "forms_export.h"

#include "controls.h"
#include "design.h"
#include "errors.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace forms {

class Runtime;
class FormWindow;

// One window class of the program. The instance lives as long as its runtime; its
// window and controls exist only while it is loaded.
class FORMS_EXPORT Form : public QObject
{
    Q_OBJECT
public:
    Form(Runtime &runtime, const FormDesign &design);
    ~Form() override;

    Runtime &runtime() const { return m_runtime; }
    const FormDesign &design() const { return m_design; }

    bool isLoaded() const { return m_window != nullptr; }
    void Load();
    void Show();
    void Unload();

    // The top-level widget; loads the window if needed.
    QWidget &window();
    // The window handle, as the window system knows it.
    quintptr hWnd();
    // Still putting itself back where it stood after a maximize or minimize it refused
    // (the window manager answers in several steps).
    bool isSettling() const;

    // Outer size (frame and caption bar included), in twips.
    int Height();
    int Width();
    void SetHeight(int twips);
    void SetWidth(int twips);

    // A control by design name; reading a control of a window that is not loaded loads it.
    template<class T>
    T &control(const QString &name)
    {
        Load();
        return checked<T>(m_controls.value(name), name);
    }
    QObject *findControl(const QString &name) const { return m_controls.value(name); }

signals:
    void loaded();
    void unloaded();

protected:
    virtual void Form_Load() { }
    virtual void Form_Unload(std::int16_t &Cancel) { Q_UNUSED(Cancel); }
    virtual void Form_Resize() { }
    // Creates what the design table cannot: embedded components of kind Custom.
    virtual QWidget *createCustomControl(const ControlDesign &d, QWidget *parent);
    // Connects control events to handlers, right after the controls are built.
    virtual void connectEvents() { }

    // Delivers an event to a handler behind the runtime's error boundary.
    template<class Sender, class Signal>
    void on(Sender *sender, Signal signal, std::function<void()> handler)
    {
        connect(sender, signal, this, [this, handler = std::move(handler)] { dispatch(handler); });
    }
    void dispatch(const std::function<void()> &handler);

private:
    friend class FormWindow;
    friend class Runtime;
    template<class T>
    static T &checked(QObject *o, const QString &name)
    {
        if (auto *t = qobject_cast<T *>(o))
            return *t;
        raise(err::ObjectRequired, QStringLiteral("Object required: %1").arg(name));
    }
    void build();
    QWidget *makeWidget(const ControlDesign &c, QWidget *parent);
    void destroyWindow();
    void place(QWidget *w);
    // Moves the window where it must stand; whether that is sure (its frame is known).
    bool keepOnScreen();
    // The frame around the window (or the one it will get), never none for a window
    // with a border.
    QMargins frame() const;
    QPoint storedOrigin() const;
    void setOuterSize(Qt::Orientation which, int twips);
    void closeRequested();
    void resized();

    Runtime &m_runtime;
    const FormDesign &m_design;
    FormWindow *m_window = nullptr;
    QHash<QString, QObject *> m_controls;
    QPointer<QWidget> m_firstInTabOrder;
    bool m_unloading = false;
};

} // namespace forms
