#include "form.h"

#include "accessibility.h"
#include "placement.h"
#include "runtime.h"
#include "windowsystem.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>

namespace forms {

// The top-level widget of a loaded form. It turns window-system requests into form
// events and never destroys itself: only Unload does.
class FormWindow : public QWidget
{
public:
    FormWindow(Form &form, Qt::WindowFlags flags) : QWidget(nullptr, flags), m_form(form) { markFormWindow(this); }

    void detach() { m_detached = true; }
    bool settling() const { return m_refusing.isValid() && m_refusing.elapsed() < 1100; }

    bool eventFilter(QObject *watched, QEvent *e) override
    {
        // The first Resize waits for the first expose: by then the window manager has
        // framed and placed the window, and a resize cannot undo its placement.
        if (watched == static_cast<QObject *>(windowHandle()) && e->type() == QEvent::Expose && !m_exposed
            && !m_detached && windowHandle()->isExposed()) {
            m_exposed = true;
            checkOuterSize(true);
            // Framed now: where it must stand is known, unless the window manager has
            // not said how wide its frame is yet (then again when it has).
            if (!m_detached)
                m_placed = m_form.keepOnScreen();
            m_normal = geometry();
        }
        return false;
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        if (!m_detached)
            m_form.closeRequested();
    }
    bool event(QEvent *e) override
    {
        const bool result = QWidget::event(e);
        switch (e->type()) {
        case QEvent::Show:
            if (!m_filtering && windowHandle()) {
                m_filtering = true;
                windowHandle()->installEventFilter(this);
            }
            break;
        case QEvent::WindowStateChange: {
            // Without a maximize or minimize button the window cannot be maximized or
            // minimized, whatever the window manager offers: it stays where and as it was.
            const Qt::WindowStates refused
                = (m_form.design().maxButton ? Qt::WindowStates() : (Qt::WindowMaximized | Qt::WindowFullScreen))
                  | (m_form.design().minButton ? Qt::WindowStates() : Qt::WindowMinimized);
            if (windowState() & refused) {
                const bool resized = windowState() & refused & (Qt::WindowMaximized | Qt::WindowFullScreen);
                setWindowState(windowState() & ~refused);
                // A refused minimize leaves the window where it is: nothing to put back,
                // and a move the user makes right after it stands.
                if (!resized)
                    return result;
                // The window manager answers a maximize with geometry of the refused
                // state, and gives the frame back later still (a maximized window has no
                // borders) without Qt reporting it, so the window goes back where it
                // stood more than once while that settles.
                m_refusing.start();
                const QRect normal = m_normal;
                QPointer<FormWindow> self(this);
                for (int ms : {0, 50, 150, 400, 1000})
                    QTimer::singleShot(ms, this, [self, normal] {
                        if (self)
                            self->standAt(normal);
                    });
                return result;
            }
        }
            Q_FALLTHROUGH();
        case QEvent::Resize:
        case QEvent::Move:
            // The outer size also changes when the window manager adds its frame, which
            // Qt reports only as a move; compare outer sizes so no change goes unseen.
            if (!m_detached && m_exposed && isVisible())
                checkOuterSize(e->type() == QEvent::WindowStateChange);
            if (!m_detached && m_exposed && !m_placed && isVisible())
                m_placed = m_form.keepOnScreen();
            if (m_exposed && windowState() == Qt::WindowNoState && !settling())
                m_normal = geometry();
            break;
        default:
            break;
        }
        return result;
    }

private:
    void standAt(const QRect &normal)
    {
        if (m_detached || !normal.isValid() || windowState() != Qt::WindowNoState)
            return;
        if (geometry() != normal)
            setGeometry(normal);
        if (m_exposed && isVisible())
            checkOuterSize(false);
    }
    void checkOuterSize(bool force)
    {
        const QSize outer = frameGeometry().size();
        const Qt::WindowStates state = windowState();
        if (!force && outer == m_lastOuter && state == m_lastState)
            return;
        m_lastOuter = outer;
        m_lastState = state;
        m_form.resized();
    }

    Form &m_form;
    QSize m_lastOuter;
    Qt::WindowStates m_lastState;
    bool m_detached = false;
    bool m_exposed = false;
    bool m_filtering = false;
    bool m_placed = false; // stands where it must, by the frame it really has
    QRect m_normal; // where and how it stood, not maximized or minimized
    QElapsedTimer m_refusing;
};

namespace {

Qt::WindowFlags flagsFor(const FormDesign &d)
{
    Qt::WindowFlags f;
    switch (d.border) {
    case BorderStyle::None:
        f = Qt::Window | Qt::FramelessWindowHint;
        break;
    case BorderStyle::FixedToolWindow:
        f = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
        break;
    case BorderStyle::Sizable:
        f = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint;
        if (d.minButton)
            f |= Qt::WindowMinimizeButtonHint;
        if (d.maxButton)
            f |= Qt::WindowMaximizeButtonHint;
        break;
    }
    return f;
}

QRect twipsRect(const ControlDesign &c)
{
    return QRect(twipsToPixels(c.left), twipsToPixels(c.top), twipsToPixels(c.width), twipsToPixels(c.height));
}

} // namespace

QColor systemColor(int index)
{
    const QPalette pal = QGuiApplication::palette();
    switch (index) {
    case 5:
        return pal.color(QPalette::Base); // window
    case 8:
        return pal.color(QPalette::Text); // window text
    case 9:
        return pal.color(QPalette::HighlightedText); // caption text
    case 15:
        return pal.color(QPalette::Button); // 3-D face
    default:
        return pal.color(QPalette::Window);
    }
}

Form::Form(Runtime &runtime, const FormDesign &design) : m_runtime(runtime), m_design(design) { }

Form::~Form()
{
    destroyWindow();
}

void Form::dispatch(const std::function<void()> &handler)
{
    runGuarded(m_runtime.errorReporter(), handler);
}

void Form::Load()
{
    if (m_window)
        return;
    build();
    m_runtime.formLoaded(this);
    connectEvents();
    emit loaded();
    Form_Load();
}

void Form::Show()
{
    Load();
    if (!m_window || m_window->isVisible())
        return;
    // What the design's border lacks, the window manager must not offer either (a
    // refused maximize would only bounce back). A window of fixed size has no sizing,
    // and a tool window no window menu and no taskbar entry.
    if (m_design.border != BorderStyle::None) {
        const bool tool = m_design.border == BorderStyle::FixedToolWindow;
        m_window->winId();
        windowsystem::setAllowedActions(m_window->windowHandle(),
                                        {.resize = m_design.border == BorderStyle::Sizable && m_design.maxButton,
                                         .minimize = m_design.minButton,
                                         .maximize = m_design.maxButton,
                                         .menu = !tool,
                                         .taskbar = !tool});
    }
    m_window->show();
    // Shown is activated, as the design's platform did it: the keyboard comes to the
    // new window (the window manager judges the request by the user's last input), at
    // the first control of its tab order.
    m_window->activateWindow();
    if (m_firstInTabOrder)
        m_firstInTabOrder->setFocus(Qt::ActiveWindowFocusReason);
}

namespace {

// The frame windows of a kind of border get: as the window manager said for the last
// one it framed; until it has said, the frame the design's own platform drew, so that a
// window keeps its designed client size where no window manager frames it at all.
struct KnownFrame
{
    QMargins margins;
    bool told = false;
};

KnownFrame &frameOf(BorderStyle border)
{
    static std::map<BorderStyle, KnownFrame> frames;
    auto it = frames.find(border);
    if (it == frames.end()) {
        const QMargins designed = border == BorderStyle::None              ? QMargins()
                                  : border == BorderStyle::FixedToolWindow ? QMargins(3, 21, 3, 3)
                                                                           : QMargins(4, 30, 4, 4);
        it = frames.emplace(border, KnownFrame{designed, false}).first;
    }
    return it->second;
}

// What the window manager says of window's frame; nothing while it has not said (a
// zero frame on a bordered window is not an answer).
std::optional<QMargins> toldFrame(QWidget *window)
{
    const auto told = window->windowHandle() ? windowsystem::frameExtents(window->windowHandle()) : std::nullopt;
    return told && !told->isNull() ? told : std::nullopt;
}

QRect availableAround(QPoint origin)
{
    QScreen *screen = QGuiApplication::screenAt(origin);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(origin, QSize(1, 1) * 100000);
}

} // namespace

QPoint Form::storedOrigin() const
{
    return {twipsToPixels(m_design.clientLeft), twipsToPixels(m_design.clientTop)};
}

QMargins Form::frame() const
{
    if (m_design.border == BorderStyle::None)
        return {};
    KnownFrame &known = frameOf(m_design.border);
    if (m_window) {
        if (const auto told = toldFrame(m_window)) {
            known = {*told, true};
            return *told;
        }
        // A window manager that does not say: what Qt found out, if anything.
        if (!windowsystem::managesFrames() && m_window->windowHandle()) {
            const QMargins seen = m_window->windowHandle()->frameMargins();
            if (!seen.isNull())
                return seen;
        }
    }
    return known.margins;
}

void Form::place(QWidget *w)
{
    // The client area at the stored origin, kept on the screen it would land on. Set
    // before the window is shown, with the frame the window manager says it will draw,
    // so that the window is mapped where it must stand, frame and all.
    KnownFrame &known = frameOf(m_design.border);
    if (m_design.border != BorderStyle::None && !known.told && windowsystem::managesFrames()) {
        w->winId(); // the native window, not yet mapped
        if (const auto told = windowsystem::askFrameExtents(w->windowHandle(), std::chrono::milliseconds(500));
            told && !told->isNull())
            known = {*told, true};
    }
    const QPoint origin = storedOrigin();
    w->setGeometry(QRect(clientPosition(origin, w->size(), known.margins, availableAround(origin)), w->size()));
}

bool Form::keepOnScreen()
{
    QWidget *w = m_window;
    if (!w || !w->windowHandle())
        return false;
    const QPoint origin = storedOrigin();
    const QPoint at = clientPosition(origin, w->size(), frame(), availableAround(origin));
    if (w->geometry().topLeft() != at)
        w->setGeometry(QRect(at, w->size()));
    // Sure once the window manager has told its frame, or runs and never will; with no
    // window manager yet, one may still come and frame it.
    return m_design.border == BorderStyle::None || toldFrame(w)
           || (windowsystem::hasWindowManager() && !windowsystem::managesFrames());
}

void Form::Unload()
{
    if (!m_window || m_unloading)
        return; // a nested request while Form_Unload runs has no effect
    m_unloading = true;
    std::int16_t cancel = 0;
    try {
        Form_Unload(cancel);
    } catch (...) {
        m_unloading = false;
        throw;
    }
    m_unloading = false;
    if (cancel != 0 || !m_window)
        return;
    destroyWindow();
    m_runtime.formUnloaded(this);
    emit unloaded();
}

bool Form::isSettling() const
{
    return m_window && m_window->settling();
}

QWidget &Form::window()
{
    Load();
    if (!m_window)
        raise(err::ObjectRequired, QStringLiteral("Object required"));
    return *m_window;
}

quintptr Form::hWnd()
{
    return quintptr(window().winId());
}

int Form::Height()
{
    const int client = window().height();
    const QMargins f = frame();
    return pixelsToTwips(client + f.top() + f.bottom());
}

int Form::Width()
{
    const int client = window().width();
    const QMargins f = frame();
    return pixelsToTwips(client + f.left() + f.right());
}

void Form::SetHeight(int twips)
{
    setOuterSize(Qt::Vertical, twips);
}

void Form::SetWidth(int twips)
{
    setOuterSize(Qt::Horizontal, twips);
}

void Form::setOuterSize(Qt::Orientation which, int twips)
{
    QWidget &w = window();
    if (w.isMinimized() || w.isMaximized())
        raise(err::CantSizeMinimized, QStringLiteral("A form can't be moved or sized while minimized or maximized"));
    const bool vertical = which == Qt::Vertical;
    const int current = vertical ? w.height() : w.width();
    const QMargins f = frame();
    const int client = std::max(1, twipsToPixels(twips) - (vertical ? f.top() + f.bottom() : f.left() + f.right()));
    if (client != current)
        w.resize(vertical ? w.width() : client, vertical ? client : w.height());
}

QWidget *Form::createCustomControl(const ControlDesign &d, QWidget *parent)
{
    Q_UNUSED(d);
    Q_UNUSED(parent);
    return nullptr;
}

namespace {

// One maker per control kind: each turns its design entry into a widget under parent.
QWidget *makeFrame(const ControlDesign &c, QWidget *parent)
{
    return new Frame(c.caption, parent);
}

QWidget *makeLabel(const ControlDesign &c, QWidget *parent)
{
    auto *l = new Label(c.caption, parent);
    if (c.color.isValid()) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, c.color);
        l->setPalette(pal);
    }
    if (!c.picture.isEmpty())
        l->setPixmap(QPixmap(c.picture));
    return l;
}

QWidget *makeImage(const ControlDesign &c, QWidget *parent)
{
    auto *l = new Label(parent);
    l->setPixmap(QPixmap(c.picture));
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QWidget *makeTextBox(const ControlDesign &c, QWidget *parent)
{
    auto *t = new TextBox(parent);
    t->setText(c.caption); // the design text raises no Change
    return t;
}

QWidget *makeDropDownList(const ControlDesign &c, QWidget *parent)
{
    auto *d = new DropDownList(parent);
    d->addItems(c.items);
    d->setCurrentIndex(-1); // nothing selected until code picks an entry
    return d;
}

QWidget *makeCommandButton(const ControlDesign &c, QWidget *parent)
{
    auto *b = new CommandButton(parent);
    b->setText(c.caption);
    return b;
}

QWidget *makeLine(const ControlDesign &c, QWidget *parent)
{
    return new Line(QPoint(twipsToPixels(c.line.x1()), twipsToPixels(c.line.y1())),
                    QPoint(twipsToPixels(c.line.x2()), twipsToPixels(c.line.y2())), c.color, parent);
}

QWidget *makeShape(const ControlDesign &, QWidget *parent)
{
    return new Shape(parent);
}

Timer *makeTimer(const ControlDesign &c, QWidget *window)
{
    auto *t = new Timer(window);
    t->SetInterval(c.interval);
    t->SetEnabled(c.enabled);
    return t;
}

// What every visible control takes from its design besides its kind's own parts.
void dress(QWidget *widget, const ControlDesign &c)
{
    if (c.kind != ControlKind::Line) // a line places itself by its end points
        widget->setGeometry(twipsRect(c));
    if (!c.toolTip.isEmpty())
        widget->setToolTip(c.toolTip);
    if (!c.accessibleName.isEmpty())
        widget->setAccessibleName(c.accessibleName);
    if (!c.description.isEmpty())
        widget->setAccessibleDescription(c.description);
    const bool decorative = c.kind == ControlKind::Line || c.kind == ControlKind::Shape
                            || (c.kind == ControlKind::Image && c.accessibleName.isEmpty());
    if (decorative)
        markDecorative(widget);
}

} // namespace

QWidget *Form::makeWidget(const ControlDesign &c, QWidget *parent)
{
    switch (c.kind) {
    case ControlKind::Frame:
        return makeFrame(c, parent);
    case ControlKind::Label:
        return makeLabel(c, parent);
    case ControlKind::Image:
        return makeImage(c, parent);
    case ControlKind::TextBox:
        return makeTextBox(c, parent);
    case ControlKind::DropDownList:
        return makeDropDownList(c, parent);
    case ControlKind::CommandButton:
        return makeCommandButton(c, parent);
    case ControlKind::Line:
        return makeLine(c, parent);
    case ControlKind::Shape:
        return makeShape(c, parent);
    case ControlKind::Custom:
        return createCustomControl(c, parent);
    case ControlKind::Timer:
        break;
    }
    return nullptr;
}

void Form::build()
{
    installAccessibility();
    auto *w = new FormWindow(*this, flagsFor(m_design));
    w->setObjectName(objectName());
    w->setWindowTitle(m_design.caption);
    if (!m_design.icon.isEmpty())
        w->setWindowIcon(QIcon(m_design.icon));
    if (m_design.background.isValid()) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, m_design.background);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    }
    w->resize(twipsToPixels(m_design.clientWidth), twipsToPixels(m_design.clientHeight));
    if (m_design.border != BorderStyle::Sizable)
        w->setFixedSize(w->size());
    place(w);

    m_window = w;
    std::map<int, QWidget *> tabOrder;
    for (const ControlDesign &c : m_design.controls) {
        QWidget *parent = c.container.isEmpty() ? w : qobject_cast<QWidget *>(m_controls.value(c.container));
        Q_ASSERT(parent);
        QObject *object = nullptr;
        if (c.kind == ControlKind::Timer) {
            object = makeTimer(c, w);
        } else if (QWidget *widget = makeWidget(c, parent)) {
            dress(widget, c);
            if (c.tabIndex >= 0 && widget->focusPolicy() != Qt::NoFocus)
                tabOrder[c.tabIndex] = widget;
            object = widget;
        }
        if (object) {
            object->setObjectName(c.name);
            m_controls.insert(c.name, object);
        }
    }
    QWidget *previous = nullptr;
    for (auto &[index, widget] : tabOrder) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
    m_firstInTabOrder = tabOrder.empty() ? nullptr : tabOrder.begin()->second;
}

void Form::destroyWindow()
{
    if (!m_window)
        return;
    FormWindow *w = m_window;
    m_window = nullptr;
    for (QObject *o : std::as_const(m_controls)) {
        if (auto *t = qobject_cast<Timer *>(o))
            t->SetEnabled(false);
        o->disconnect(this);
    }
    m_controls.clear();
    w->detach();
    w->hide();
    m_runtime.retire(w);
}

void Form::closeRequested()
{
    dispatch([this] { Unload(); });
}

void Form::resized()
{
    dispatch([this] { Form_Resize(); });
}

} // namespace forms
