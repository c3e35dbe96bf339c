#pragma once

// Helpers for tests that run in real windows: they drive the window manager through
// xdotool and read what the X server knows through xprop, as a person's desktop would.

#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace x11 {

inline QString run(const QString &program, const QStringList &args, int timeoutMs = 10000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs))
        p.kill();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The window's X id now: Qt may replace a window's native window (a browser view that
// starts drawing through OpenGL does), while the widget keeps reporting the first id.
inline QString id(const QWidget &w)
{
    return QString::number(quintptr(w.windowHandle() ? w.windowHandle()->winId() : w.winId()));
}

inline QString xdotool(const QStringList &args, int timeoutMs = 10000)
{
    return run(QStringLiteral("xdotool"), args, timeoutMs);
}

inline QString property(const QString &windowId, const QString &name)
{
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), windowId, name});
}

// _NET_WM_WINDOW_OPACITY as the window manager reads it, 0..1; 1 when unset.
inline double opacity(const QString &windowId)
{
    const auto m = QRegularExpression(QStringLiteral("= (\\d+)"))
                       .match(property(windowId, QStringLiteral("_NET_WM_WINDOW_OPACITY")));
    return m.hasMatch() ? m.captured(1).toDouble() / 4294967295.0 : 1.0;
}

// The first visible window of process pid whose name matches, waiting up to 30 s for one
// to appear when wait is set; empty if there is none.
inline QString search(qint64 pid, const QString &name, bool wait = true)
{
    QStringList args{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), name};
    if (wait)
        args.insert(1, QStringLiteral("--sync"));
    return xdotool(args, 30000).trimmed().section(QLatin1Char('\n'), 0, 0);
}

// Where the window's client area stands on the screen, as the X server has it.
inline QPoint clientOrigin(const QString &windowId)
{
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windowId});
    const auto x = QRegularExpression(QStringLiteral("Absolute upper-left X:\\s+(-?\\d+)")).match(info);
    const auto y = QRegularExpression(QStringLiteral("Absolute upper-left Y:\\s+(-?\\d+)")).match(info);
    return x.hasMatch() && y.hasMatch() ? QPoint(x.captured(1).toInt(), y.captured(1).toInt()) : QPoint(-1, -1);
}

// No --sync: it waits for the pointer to move, forever when it is already there. The X
// server takes the move and the click in order anyway.
inline void clickAt(QPoint screen)
{
    xdotool({QStringLiteral("mousemove"), QString::number(screen.x()), QString::number(screen.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

inline QStringList netWmState(const QString &windowId)
{
    const QString out = property(windowId, QStringLiteral("_NET_WM_STATE"));
    const int eq = out.indexOf('=');
    if (eq < 0)
        return {};
    QStringList states = out.mid(eq + 1).split(',', Qt::SkipEmptyParts);
    for (QString &s : states)
        s = s.trimmed();
    return states;
}

} // namespace x11
