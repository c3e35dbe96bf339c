#include "controls.h"

#include "errors.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>

#include <algorithm>
#include <limits>

namespace forms {

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    setMaxLength(std::numeric_limits<int>::max()); // no length limit of its own
    connect(this, &QLineEdit::textChanged, this, &TextBox::onTextChanged);
}

void TextBox::SetText(const QString &text)
{
    if (text == this->text())
        return; // an unchanged write must not notify
    setText(text);
}

void TextBox::onTextChanged(const QString &text)
{
    // QLineEdit only signals real changes today; the comparison keeps that promise
    // whatever path the text took.
    if (text == m_lastText)
        return;
    m_lastText = text;
    emit Change();
}

int TextBox::SelStart() const
{
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

int TextBox::SelLength() const
{
    return int(selectedText().size());
}

void TextBox::SetSelStart(int start)
{
    if (start < 0)
        forms::raise(err::InvalidPropertyValue, QStringLiteral("Invalid property value"));
    setCursorPosition(std::min<int>(start, int(text().size())));
}

void TextBox::SetSelLength(int length)
{
    if (length < 0)
        forms::raise(err::InvalidPropertyValue, QStringLiteral("Invalid property value"));
    const int start = SelStart();
    const int len = std::min<int>(length, int(text().size()) - start);
    if (len <= 0)
        setCursorPosition(start);
    else
        setSelection(start, len);
}

void TextBox::SetFocus()
{
    if (!isVisible() || !isEnabled())
        forms::raise(forms::err::InvalidProcedureCall, QStringLiteral("Invalid procedure call or argument"));
    setFocus(Qt::OtherFocusReason);
}

void TextBox::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    m_focusedByPress = event->reason() == Qt::MouseFocusReason;
    emit GotFocus();
}

void TextBox::mousePressEvent(QMouseEvent *event)
{
    // The press that brought the focus would put the caret under the mouse and undo a
    // selection the GotFocus handler just made; the selection wins.
    if (m_focusedByPress && hasSelectedText() && event->button() == Qt::LeftButton) {
        m_focusedByPress = false;
        const int start = selectionStart();
        const int length = int(selectedText().size());
        QLineEdit::mousePressEvent(event);
        setSelection(start, length);
        return;
    }
    m_focusedByPress = false;
    QLineEdit::mousePressEvent(event);
}

namespace {

// The application's style, but for where a drop-down list's entries open.
class DropBelowStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ComboBox_Popup)
            return 0; // a list below the field, not one laid over it
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle *dropBelowStyle()
{
    static QPointer<DropBelowStyle> style;
    if (!style) {
        style = new DropBelowStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

DropDownList::DropDownList(QWidget *parent) : QComboBox(parent)
{
    setStyle(dropBelowStyle());
    setMaxVisibleItems(VisibleEntries);
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::activated, this, &DropDownList::Click);
}

QString DropDownList::Text() const
{
    return currentIndex() < 0 ? QString() : itemText(currentIndex());
}

void DropDownList::SetText(const QString &text)
{
    for (int i = 0; i < count(); ++i) {
        if (itemText(i) == text) {
            setCurrentIndex(i);
            return;
        }
    }
    forms::raise(err::PropertyReadOnly, QStringLiteral("'Text' property is read-only"));
}

CommandButton::CommandButton(QWidget *parent) : QPushButton(parent)
{
    setAutoDefault(false);
    setDefault(false);
    connect(this, &QPushButton::clicked, this, &CommandButton::Click);
}

namespace {
bool isEnter(const QKeyEvent *event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
           && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// The window system's time of the last Enter release a button took; 0 for none.
quint64 lastEnterRelease = 0;

// A held key repeats as a release and a press that carry one time. Qt calls the pair a
// repeat only when the press is already queued as it reads the release; on a busy
// machine it may not be yet, and the press then passes for a new one. The time tells
// for sure (keys made up inside the program carry none).
bool isRepeat(const QKeyEvent *event)
{
    return event->isAutoRepeat() || (event->timestamp() != 0 && event->timestamp() == lastEnterRelease);
}
} // namespace

void CommandButton::keyPressEvent(QKeyEvent *event)
{
    if (!isEnter(event))
        return QPushButton::keyPressEvent(event);
    // On the press, as the platform's buttons did; a key held down since before this
    // window had the keyboard arrives here only as repeats, and presses nothing.
    event->accept();
    if (!isRepeat(event))
        click();
}

void CommandButton::keyReleaseEvent(QKeyEvent *event)
{
    if (!isEnter(event))
        return QPushButton::keyReleaseEvent(event);
    lastEnterRelease = event->timestamp();
    event->accept();
}

int Frame::topLine() const
{
    return fontMetrics().height() / 2;
}

void Frame::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int line = topLine();
    // An etched line: a shadow, and a highlight beside it.
    const QRect box = rect().adjusted(0, line, -2, -2);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(box);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(box.translated(1, 1));
    if (title().isEmpty())
        return;
    // The caption breaks the line, on the window's own background.
    const QFontMetrics fm = fontMetrics();
    const int indent = fm.averageCharWidth();
    const QRect caption(indent, 0, fm.horizontalAdvance(title()) + 4, fm.height());
    p.fillRect(caption, palette().color(backgroundRole()));
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, title());
}

void Label::mousePressEvent(QMouseEvent *event)
{
    // Taking the press makes the release come here too: a click is both over the label.
    m_pressed = event->button() == Qt::LeftButton;
    if (m_pressed)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        emit Click();
    else
        QLabel::mouseReleaseEvent(event);
}

Line::Line(QPoint from, QPoint to, QColor color, QWidget *parent)
    : QWidget(parent), m_from(from), m_to(to), m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QRect box = QRect(from, to).normalized();
    setGeometry(box.adjusted(0, 0, 1, 1));
}

void Line::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(QPen(m_color, 1));
    p.drawLine(m_from - pos(), m_to - pos());
}

Shape::Shape(QWidget *parent) : QWidget(parent)
{
    // Drawn only: the controls under it still get their clicks.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

Timer::Timer(QObject *parent) : QObject(parent)
{
    // Fades are counted in ticks; a coarse timer would stretch them by up to 5 %.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Timer::timeout);
}

int Timer::effectivePeriod() const
{
    return m_interval <= 0 ? 0 : std::max(m_interval, MinimumPeriodMs);
}

void Timer::SetInterval(int ms)
{
    if (ms < 0 || ms > 65535)
        forms::raise(err::InvalidPropertyValue, QStringLiteral("Invalid property value"));
    m_interval = ms;
    restart();
}

void Timer::SetEnabled(bool enabled)
{
    m_enabled = enabled;
    restart();
}

void Timer::restart()
{
    ++m_generation;
    m_delivered = 0;
    if (m_enabled && m_interval > 0) {
        m_clock.start();
        m_timer.start(effectivePeriod());
    } else {
        m_timer.stop();
    }
}

void Timer::timeout()
{
    const qint64 due = m_clock.elapsed() / effectivePeriod();
    const qint64 ticks = std::clamp<qint64>(due - m_delivered, 1, MaxCatchUpTicks);
    const quint64 generation = m_generation;
    for (qint64 i = 0; i < ticks; ++i) {
        ++m_delivered;
        emit Tick();
        if (generation != m_generation || !m_enabled)
            break; // a handler stopped or reset the timer
    }
    // Far behind (more than the catch-up allows): start counting afresh from now.
    if (generation == m_generation && due - m_delivered > MaxCatchUpTicks) {
        m_delivered = 0;
        m_clock.start();
    }
}

} // namespace forms
