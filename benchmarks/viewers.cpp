// Viewer figures, for scripts/bench-viewers.py. Three programs in one binary, run one
// after the other against the same local site copy:
//   bench_viewers app [PRESSES]  the program's own windows: buttons pressed, viewers opened
//   bench_viewers plain          the same, pages only, without looking for movies in them
//   bench_viewers anchor         a bare Qt program that, like the program, makes a new
//                                browser view in a new window for every press and
//                                deletes the old one (the fair anchor)
//   bench_viewers kept           one browser view kept, reloading (what no press can be)
// Prints "name value" lines.
#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "sitemirror.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cstdio>
#include <functional>

#include <unistd.h>

namespace {

void print(const char *name, double value)
{
    std::printf("%s %.3f\n", name, value);
    std::fflush(stdout);
}

// Runs an event loop, as the program's own, until done() holds or the time is up (a
// loop of its own: objects deleted later go as they do in the program).
double waitFor(const std::function<bool()> &done, int timeoutMs = 30000)
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

void idle(int ms)
{
    waitFor([] { return false; }, ms);
}

bool firstFrameShown(QWidget *player)
{
    if (!player || !player->isVisible())
        return false;
    const QPoint at = player->mapToGlobal(QPoint(player->width() / 2, player->height() * 2 / 3));
    const QColor c = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixelColor(0, 0);
    // The first album's colours (mirror/make-site.py).
    for (const QColor &want : {QColor(220, 40, 40), QColor(40, 160, 60), QColor(40, 80, 220), QColor(230, 200, 30)})
        if (qAbs(c.red() - want.red()) < 12 && qAbs(c.green() - want.green()) < 12 && qAbs(c.blue() - want.blue()) < 12)
            return true;
    return false;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int parentOf(int pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toInt();
}

// The engine's processes, by parentage: the program's children (its zygotes) and theirs.
QList<int> descendants(int root)
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

double kbField(const QString &file, const QByteArray &field)
{
    for (const QByteArray &line : readFile(file).split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble();
    return 0;
}

double pssAllMb()
{
    double kb = 0;
    for (int pid : descendants(int(QCoreApplication::applicationPid()))) {
        const double p = kbField(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss:");
        if (qEnvironmentVariableIsSet("BENCH_DETAIL"))
            std::printf("  pid %d pss %.1f %s\n", pid, p / 1024, readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).left(60).replace('\0', ' ').constData());
        kb += p;
    }
    return kb / 1024;
}

// Renderers: the children of the program's children (zygotes fork them).
int renderersLeft()
{
    const int self = int(QCoreApplication::applicationPid());
    int n = 0;
    for (int pid : descendants(self))
        if (pid != self && parentOf(pid) != self)
            ++n;
    return n;
}

double rssMb()
{
    return kbField(QStringLiteral("/proc/self/status"), "VmRSS:") / 1024;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Memory with a viewer open, as it stands after a while of viewing (the engine gives
// back what earlier pages left behind once things are quiet).
constexpr int SettleMs = 12000;

// Measures one kind of press: the first, then the median of later ones.
void measure(const char *first, const char *later, int count, const std::function<double()> &press)
{
    print(first, press());
    QList<double> times;
    for (int i = 0; i < count; ++i)
        times << press();
    print(later, median(times));
}

QString pageUrl(SiteMirror &mirror)
{
    return QStringLiteral("http://%1/kphtml/gift6.html").arg(mirror.host());
}

QString movieUrl(SiteMirror &mirror)
{
    return QStringLiteral("http://%1/kpfolder/kpphotos/xiaoxiao/kp_message.swf").arg(mirror.host());
}

// The page viewer without movies in pages, to tell what looking for them costs.
class PlainForm2 : public Form2
{
public:
    using Form2::Form2;

protected:
    QWidget *createCustomControl(const forms::ControlDesign &, QWidget *parent) override
    {
        return new WebBrowser(runtime().service<BrowserEngine>([] { return new BrowserEngine; }), nullptr, parent);
    }
};

int runApp(SiteMirror &mirror, int presses, bool plain)
{
    forms::Runtime rt;
    if (plain)
        rt.install<Form2>(std::make_unique<PlainForm2>(rt));
    frmtest &main = rt.form<frmtest>();
    main.setContentHost(mirror.host());
    main.Show();
    idle(1200); // the fade-in
    const double before = pssAllMb();

    // A gift page: plain HTML, as the fair anchor loads it.
    main.Text2().SetText(QStringLiteral("6"));
    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        main.Command4().click();
        const double sync = t.nsecsElapsed() / 1e6;
        bool loaded = false;
        double started = 0;
        QObject::connect(&rt.form<Form2>().WebBrowser1(), &QWebEngineView::loadStarted, [&] { started = t.nsecsElapsed() / 1e6; });
        QObject::connect(&rt.form<Form2>().WebBrowser1(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        waitFor([&] { return loaded; });
        if (qEnvironmentVariableIsSet("BENCH_DETAIL"))
            std::printf("  press: click %.1f, started %.1f, finished %.1f\n", sync, started, t.nsecsElapsed() / 1e6);
        return t.nsecsElapsed() / 1e6;
    };
    auto pressMovie = [&] {
        QElapsedTimer t;
        t.start();
        main.Command5().click();
        QPointer<QWidget> player = &rt.form<Form1>().ShockwaveFlash1();
        waitFor([&] { return firstFrameShown(player); });
        return t.nsecsElapsed() / 1e6;
    };
    const auto closeAll = [&] {
        rt.form<Form2>().Unload();
        rt.form<Form1>().Unload();
    };

    measure("page_first_ms", "page_later_ms", 20, pressPage);
    idle(SettleMs);
    print("pss_page_open_mb", pssAllMb());
    if (plain)
        return 0;
    measure("movie_first_ms", "movie_later_ms", 7, pressMovie);
    idle(SettleMs);
    print("pss_movie_open_mb", pssAllMb());

    pressPage();
    idle(1500); // the emulator compiled again in the background
    idle(1500);
    print("pss_page_open_after_albums_mb", pssAllMb());

    // After the viewer was closed: the next press (a page last, so that its process is
    // what is kept warm).
    QList<double> afterClose;
    for (int i = 0; i < 5; ++i) {
        closeAll();
        idle(1500);
        afterClose << pressMovie();
    }
    print("movie_after_close_ms", median(afterClose));
    afterClose.clear();
    for (int i = 0; i < 5; ++i) {
        closeAll();
        idle(1500);
        afterClose << pressPage();
    }
    print("page_after_close_ms", median(afterClose));
    closeAll();
    idle(3000);
    const double warm = pssAllMb();
    print("renderers_warm", renderersLeft());

    if (presses > 0) {
        for (int i = 0; i < 10; ++i)
            pressPage();
        idle(1000);
        const double rssBefore = rssMb();
        for (int i = 0; i < presses; ++i)
            pressPage();
        idle(2000);
        print("presses", presses);
        print("rss_growth_mb", rssMb() - rssBefore);
        closeAll();
    }
    // Left alone, it gives back what it kept warm.
    if (auto *engine = rt.hasService<BrowserEngine>() ? &rt.service<BrowserEngine>() : nullptr) {
        engine->pages().setWarmTime(std::chrono::seconds(5));
        engine->pages().noteUse();
    }
    idle(9000);
    const double cool = pssAllMb();
    // What keeping warm costs: what comes back when it is let go.
    print("pss_warm_mb", warm - cool);
    print("pss_engine_mb", cool - before);
    print("renderers_idle", renderersLeft());
    return 0;
}

// A new window with a new browser view for every press, the old one deleted.
int runAnchor(SiteMirror &mirror)
{
    PlayerHost host;
    host.start();
    // A bare program's profile (no storage name, no settings), made with the first view
    // as the program makes its own: the engine starts with the first press in both.
    std::unique_ptr<QWebEngineProfile> profile;
    QPointer<QWidget> window;
    QWebEngineView *view = nullptr;
    auto press = [&](const QUrl &url) {
        if (window)
            window->deleteLater();
        window = new QWidget;
        window->resize(487, 409);
        view = new QWebEngineView(window);
        if (!profile)
            profile = std::make_unique<QWebEngineProfile>();
        view->setPage(new QWebEnginePage(profile.get(), view));
        view->setGeometry(32, 48, 425, 313);
        view->load(url);
        window->show();
        return view;
    };
    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        bool loaded = false;
        QObject::connect(press(QUrl(pageUrl(mirror))), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        waitFor([&] { return loaded; });
        return t.nsecsElapsed() / 1e6;
    };
    auto pressMovie = [&] {
        QElapsedTimer t;
        t.start();
        QPointer<QWidget> player = press(host.open(movieUrl(mirror)).url);
        waitFor([&] { return firstFrameShown(player); });
        return t.nsecsElapsed() / 1e6;
    };
    measure("page_first_ms", "page_later_ms", 10, pressPage);
    idle(SettleMs);
    print("pss_page_open_mb", pssAllMb());
    measure("movie_first_ms", "movie_later_ms", 7, pressMovie);
    idle(SettleMs);
    print("pss_movie_open_mb", pssAllMb());

    pressPage();
    idle(1500); // the emulator compiled again in the background
    idle(1500);
    print("pss_page_open_after_albums_mb", pssAllMb());
    delete window.data();
    return 0;
}

// One view, kept: each press reloads inside it.
int runKept(SiteMirror &mirror)
{
    PlayerHost host;
    host.start();
    QWebEngineProfile profile;
    auto *view = new QWebEngineView;
    view->setPage(new QWebEnginePage(&profile, view));
    view->resize(425, 313);
    view->show();
    bool loaded = false;
    QObject::connect(view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        loaded = false;
        view->load(QUrl(pageUrl(mirror)));
        waitFor([&] { return loaded; });
        return t.nsecsElapsed() / 1e6;
    };
    auto pressMovie = [&] {
        loaded = false;
        view->load(QUrl(QStringLiteral("about:blank")));
        waitFor([&] { return loaded; });
        idle(100);
        QElapsedTimer t;
        t.start();
        view->load(host.open(movieUrl(mirror)).url);
        waitFor([&] { return firstFrameShown(view); });
        return t.nsecsElapsed() / 1e6;
    };
    measure("page_first_ms", "page_later_ms", 10, pressPage);
    measure("movie_first_ms", "movie_later_ms", 7, pressMovie);
    delete view;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = QString::fromLatin1(argc > 1 ? argv[1] : "app");
    if (mode == QLatin1String("anchor") || mode == QLatin1String("kept")) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // as a bare program sets it
        if (qgetenv("USER") == "root" || getuid() == 0)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1"); // the engine's rule, not ours
    }
    QApplication app(argc, argv);
    // The content site on an address of its own, as the real one is a site of its own
    // beside the player host on 127.0.0.1.
    SiteMirror mirror(SiteMirror::defaultRoot());
    mirror.listen(0, QHostAddress(QStringLiteral("127.0.0.2")));
    if (mode == QLatin1String("anchor"))
        return runAnchor(mirror);
    if (mode == QLatin1String("kept"))
        return runKept(mirror);
    return runApp(mirror, app.arguments().value(2, QStringLiteral("200")).toInt(), mode == QLatin1String("plain"));
}
