#pragma once

// Helpers for tests that run in real windows: they drive the window manager through
// xdotool and read what the X server knows through xprop, as a person's desktop would.

#include <QCoreApplication>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <csignal>
#include <sys/prctl.h>

namespace x11 {

// Runs a tool and returns what it printed. The test's own event loop keeps running
// meanwhile (the windows under test answer the window manager while the tool waits on
// it); a tool that takes longer than timeoutMs is killed.
inline QString run(const QString &program, const QStringList &args, int timeoutMs = 10000,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
    }
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
// to appear when wait is set; empty if there is none. xdotool gives up with an X error
// when a window goes away while it walks the tree (the engine makes and drops windows
// of its own), so an answer cut short that way is asked again.
inline QString search(qint64 pid, const QString &name, bool wait = true)
{
    QStringList args{QStringLiteral("search"),
                     QStringLiteral("--all"),
                     QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"),
                     QString::number(pid),
                     QStringLiteral("--name"),
                     name};
    if (wait)
        args.insert(1, QStringLiteral("--sync"));
    for (int attempt = 0; attempt < 20; ++attempt) {
        QProcess p;
        p.start(QStringLiteral("xdotool"), args);
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000)) {
            p.kill();
            p.waitForFinished(1000);
            return {};
        }
        if (!p.readAllStandardError().contains("X Error"))
            return QString::fromUtf8(p.readAllStandardOutput()).trimmed().section(QLatin1Char('\n'), 0, 0);
    }
    return {};
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

// A child process that dies with the test, also when the test is killed.
inline void startTied(QProcess &p, const QString &program, const QStringList &args)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p.start(program, args);
}

// An X display of its own (Xvfb) with a window manager (openbox), gone with the object.
class Display
{
public:
    // withWindowManager false: none until startWindowManager().
    explicit Display(QSize screen, bool withWindowManager = true)
    {
        // A number no display of this run had before, so that a display just gone (its
        // server may take a moment to let go of its sockets) is never confused with it.
        static int next = 150 + int(QCoreApplication::applicationPid() % 50) * 10;
        int number = next;
        while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        next = number + 1;
        m_name = QStringLiteral(":%1").arg(number);
        startTied(m_server, QStringLiteral("Xvfb"),
                  {m_name, QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                   QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height())});
        const auto rootSays = [this](const char *property) {
            return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QString::fromLatin1(property)});
        };
        // (No reset when the last client goes: the checks here come and go before the
        // window manager connects.)
        m_ready = QTest::qWaitFor([&] { return rootSays("_NET_SUPPORTED").contains("_NET_SUPPORTED"); }, 10000);
        if (m_ready && withWindowManager)
            startWindowManager();
    }
    bool startWindowManager()
    {
        m_wm.setProcessEnvironment(environment());
        startTied(m_wm, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        // The window manager is ready once it owns its check window.
        m_ready = QTest::qWaitFor(
            [&] {
                return run(QStringLiteral("xprop"),
                           {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains("window id");
            },
            10000);
        return m_ready;
    }
    ~Display()
    {
        // Asked to end, so that Xvfb takes its lock and socket with it.
        for (QProcess *p : {&m_wm, &m_server}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
    }
    bool isReady() const { return m_ready; }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_name);
        return env;
    }
    // A command's standard output, run on this display.
    QString run(const QString &program, const QStringList &args) const
    {
        return x11::run(program, args, 10000, environment());
    }

private:
    QProcess m_server, m_wm;
    QString m_name;
    bool m_ready = false;
};

} // namespace x11
