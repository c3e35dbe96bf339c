#pragma once

// Shared by the viewer benchmarks: an event loop run until a state holds, memory over
// the program's process tree, medians, and when a view shows a movie's first frame.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace bench {

// The site copies the benchmarks serve on loopback stand for the content site of the
// internet, so that the program's guard lets its viewers reach them.
inline void countSitesAsInternet()
{
    if (!qEnvironmentVariableIsSet("PHOTOFORKP_PUBLIC_ADDRESSES"))
        qputenv("PHOTOFORKP_PUBLIC_ADDRESSES", "127.0.0.1,127.0.0.2");
}

inline void print(const char *name, double value)
{
    std::printf("%s %.3f\n", name, value);
    std::fflush(stdout);
}

// Runs an event loop, as the program's own, until done() holds or the time is up (a
// loop of its own: objects deleted later go as they do in the program). Returns the
// time it took, in ms.
inline double waitFor(const std::function<bool()> &done, int timeoutMs = 30000)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || t.elapsed() >= timeoutMs)
            loop.quit();
    });
    poll.start(2);
    if (!done())
        loop.exec();
    return t.nsecsElapsed() / 1e6;
}

inline void idle(int ms)
{
    waitFor([] { return false; }, ms);
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline int parentOf(int pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toInt();
}

// The engine's processes, by parentage: the program's children (its zygotes) and theirs.
inline QList<int> descendants(int root)
{
    QList<int> all{root};
    bool grown = true;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    while (grown) {
        grown = false;
        for (const QString &e : entries) {
            const int pid = e.toInt();
            if (pid > 0 && !all.contains(pid) && all.contains(parentOf(pid))) {
                all << pid;
                grown = true;
            }
        }
    }
    return all;
}

inline double kbField(const QString &file, const QByteArray &field)
{
    for (const QByteArray &line : readFile(file).split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble();
    return 0;
}

inline double pssAllMb()
{
    double kb = 0;
    for (int pid : descendants(int(QCoreApplication::applicationPid())))
        kb += kbField(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss:");
    return kb / 1024;
}

// Renderers: the children of the program's children (zygotes fork them).
inline int renderersLeft()
{
    const int self = int(QCoreApplication::applicationPid());
    int n = 0;
    for (int pid : descendants(self))
        if (pid != self && parentOf(pid) != self)
            ++n;
    return n;
}

// What the page processes hold: with no viewer open, what is kept warm.
inline double rendererPssMb()
{
    const int self = int(QCoreApplication::applicationPid());
    double kb = 0;
    for (int pid : descendants(self))
        if (pid != self && parentOf(pid) != self)
            kb += kbField(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss:");
    return kb / 1024;
}

inline double rssMb()
{
    return kbField(QStringLiteral("/proc/self/status"), "VmRSS:") / 1024;
}

inline double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Memory with a viewer open, as it stands after a while of viewing (the engine gives
// back what earlier pages left behind once things are quiet).
constexpr int SettleMs = 12000;

// Measures one kind of press: the first, then the median of later ones.
inline void measure(const char *first, const char *later, int count, const std::function<double()> &press)
{
    print(first, press());
    QList<double> times;
    for (int i = 0; i < count; ++i)
        times << press();
    print(later, median(times));
}

// The first album's colours (mirror/make-site.py).
inline bool albumColour(QColor c)
{
    for (const QColor &want : {QColor(220, 40, 40), QColor(40, 160, 60), QColor(40, 80, 220), QColor(230, 200, 30)})
        if (qAbs(c.red() - want.red()) < 12 && qAbs(c.green() - want.green()) < 12 && qAbs(c.blue() - want.blue()) < 12)
            return true;
    return false;
}

// Whether a movie's first frame shows in a view. Only the view's own picture counts,
// never the screen's (a new window that has not drawn yet shows what was there before);
// only after its load, for a new view; and only once the view has shown something else
// since the press (a view that stays shows its last movie until it draws again).
class FirstFrame
{
public:
    // A view that has loaded its page already (one that stays) passes no signal.
    explicit FirstFrame(QWidget *view, const char *loadFinished = nullptr)
        : m_view(view), m_loaded(loadFinished ? new QSignalSpy(view, loadFinished) : nullptr)
    { }
    ~FirstFrame() { delete m_loaded; }
    bool shown()
    {
        if (!m_view || !m_view->isVisible() || (m_loaded && m_loaded->isEmpty()))
            return false;
        const QPoint at(m_view->width() / 2, m_view->height() * 2 / 3);
        const bool album = albumColour(m_view->grab(QRect(at, QSize(1, 1))).toImage().pixelColor(0, 0));
        m_sawOther = m_sawOther || !album;
        return m_sawOther && album;
    }

private:
    QPointer<QWidget> m_view;
    QSignalSpy *m_loaded;
    bool m_sawOther = false;
};

} // namespace bench
