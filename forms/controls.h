#pragma once

#include "forms_export.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>

namespace forms {

// Single-line text box. Change fires after every change of the text, from the user or
// from code, before the writing call returns, and never for a write that leaves the
// text as it was.
class FORMS_EXPORT TextBox : public QLineEdit
{
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr);

    QString Text() const { return text(); }
    void SetText(const QString &text);
    int SelStart() const;
    int SelLength() const;
    void SetSelStart(int start);
    void SetSelLength(int length);
    void SetFocus();

signals:
    void Change();
    void GotFocus();

protected:
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void onTextChanged(const QString &text);
    QString m_lastText;
    bool m_focusedByPress = false;
};

// Drop-down list: only its entries can be chosen; no text of one's own. Its list drops
// below the field (above it where there is no room below), eight entries high with a
// scroll bar beyond, whatever the style would do.
class FORMS_EXPORT DropDownList : public QComboBox
{
    Q_OBJECT
public:
    static constexpr int VisibleEntries = 8;
    explicit DropDownList(QWidget *parent = nullptr);

    QString Text() const;
    // Selects the entry equal to text; any other text raises (the list is read-only).
    void SetText(const QString &text);

signals:
    void Click();
};

// Pressed by a click, by Space (on its release, as Qt's buttons are) and by Enter or the
// keypad's Enter while it has the focus. A window's other controls never pass Enter on
// to a button: no button is a window's default.
class FORMS_EXPORT CommandButton : public QPushButton
{
    Q_OBJECT
public:
    explicit CommandButton(QWidget *parent = nullptr);
signals:
    void Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
};

// A frame around a group of controls, its caption on the frame's top line, as the
// design's platform drew it (Qt's styles put it above a sunken panel).
class FORMS_EXPORT Frame : public QGroupBox
{
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
    // Where the top line runs, from the frame's top: through the caption's middle.
    int topLine() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

class FORMS_EXPORT Label : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void Click();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};

// A decorative straight line between two points of its container.
class FORMS_EXPORT Line : public QWidget
{
    Q_OBJECT
public:
    Line(QPoint from, QPoint to, QColor color, QWidget *parent = nullptr);
    QPoint from() const { return m_from; }
    QPoint to() const { return m_to; }
    QColor color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QPoint m_from, m_to;
    QColor m_color;
};

// A rectangle outline in the window-text colour, no fill.
class FORMS_EXPORT Shape : public QWidget
{
    Q_OBJECT
public:
    explicit Shape(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *) override;
};

// Window timer. Interval 0 never fires; shorter requests run at the minimum period.
// Ticks keep to the clock: ticks missed while the thread was busy (a browser view
// starting, say) come at the next one, a few at most, so N ticks last N periods.
class FORMS_EXPORT Timer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MinimumPeriodMs = 10;

    explicit Timer(QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void SetInterval(int ms);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    // The period ticks really come at.
    int effectivePeriod() const;

signals:
    void Tick();

private:
    static constexpr int MaxCatchUpTicks = 12;
    void restart();
    void timeout();
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_delivered = 0;
    quint64 m_generation = 0;
    int m_interval = 0;
    bool m_enabled = false;
};

} // namespace forms
