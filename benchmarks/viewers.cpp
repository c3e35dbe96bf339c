// Viewer figures, for scripts/bench-viewers.py. Two modes, run one after the other:
//   bench_viewers app   the program's own windows: buttons pressed, viewers opened
//   bench_viewers bare  one QWebEngineView loading the same page and movie
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
#include <QScreen>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cstdio>
#include <functional>

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

bool firstFrameShown(QWidget *player)
{
    const QPoint at = player->mapToGlobal(QPoint(player->width() / 2, player->height() * 2 / 3));
    const QColor c = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixelColor(0, 0);
    // The first album's colours (mirror/make-site.py).
    for (const QColor &want : {QColor(220, 40, 40), QColor(40, 160, 60), QColor(40, 80, 220), QColor(230, 200, 30)})
        if (qAbs(c.red() - want.red()) < 12 && qAbs(c.green() - want.green()) < 12 && qAbs(c.blue() - want.blue()) < 12)
            return true;
    return false;
}

QList<int> descendants(int pid)
{
    QList<int> all{pid};
    for (int i = 0; i < all.size(); ++i) {
        QDir task(QStringLiteral("/proc/%1/task").arg(all[i]));
        for (const QString &tid : task.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(task.filePath(tid) + "/children");
            if (children.open(QIODevice::ReadOnly))
                for (const QByteArray &c : children.readAll().split(' '))
                    if (c.trimmed().toInt() > 0)
                        all << c.trimmed().toInt();
        }
    }
    return all;
}

double kbField(const QString &file, const QByteArray &field)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble();
    return 0;
}

double pssAllMb()
{
    double kb = 0;
    for (int pid : descendants(int(QCoreApplication::applicationPid())))
        kb += kbField(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss:");
    return kb / 1024;
}

int rendererProcesses()
{
    int n = 0;
    for (int pid : descendants(int(QCoreApplication::applicationPid()))) {
        QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().contains("--type=renderer"))
            ++n;
    }
    return n;
}

double rssMb()
{
    return kbField(QStringLiteral("/proc/self/status"), "VmRSS:") / 1024;
}

int runApp(SiteMirror &mirror, int presses)
{
    forms::Runtime rt;
    frmtest &main = rt.form<frmtest>();
    main.setContentHost(mirror.host());
    main.Show();
    waitFor([] { return false; }, 1200); // the fade-in

    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        main.Command2().click();
        if (qEnvironmentVariableIsSet("BENCH_DETAIL"))
            std::printf("  click_sync_ms %.1f\n", t.nsecsElapsed() / 1e6);
        bool loaded = false;
        QObject::connect(&rt.form<Form2>().WebBrowser1(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        waitFor([&] { return loaded; });
        return t.nsecsElapsed() / 1e6;
    };
    auto pressMovie = [&] {
        QElapsedTimer t;
        t.start();
        main.Command5().click();
        QWidget *player = &rt.form<Form1>().ShockwaveFlash1();
        waitFor([&] { return firstFrameShown(player); });
        return t.nsecsElapsed() / 1e6;
    };

    print("page_first_ms", pressPage());
    QList<double> later;
    for (int i = 0; i < 10; ++i)
        later << pressPage();
    std::sort(later.begin(), later.end());
    print("page_later_ms", later[later.size() / 2]);
    waitFor([] { return false; }, 1500);
    print("pss_one_viewer_mb", pssAllMb());

    print("movie_first_ms", pressMovie());
    later.clear();
    for (int i = 0; i < 7; ++i)
        later << pressMovie();
    std::sort(later.begin(), later.end());
    print("movie_later_ms", later[later.size() / 2]);

    if (presses > 0) {
        for (int i = 0; i < 10; ++i)
            pressPage();
        waitFor([] { return false; }, 1000);
        const double before = rssMb();
        for (int i = 0; i < presses; ++i)
            pressPage();
        waitFor([] { return false; }, 2000);
        print("presses", presses);
        print("rss_growth_mb", rssMb() - before);
    }
    rt.form<Form2>().Unload();
    rt.form<Form1>().Unload();
    waitFor([] { return false; }, 2500);
    print("renderers_left", rendererProcesses());
    return 0;
}

int runBare(SiteMirror &mirror)
{
    BrowserEngine engine;
    PlayerHost host;
    host.start();
    const QUrl page(QStringLiteral("http://%1/kptemp/card1.html").arg(mirror.host()));
    const QString movie = QStringLiteral("http://%1/kpfolder/kpphotos/xiaoxiao/kp_message.swf").arg(mirror.host());
    auto *view = new QWebEngineView;
    view->setPage(new QWebEnginePage(engine.profile(), view));
    view->resize(425, 313);
    view->show();
    bool loaded = false;
    QObject::connect(view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    auto loadPage = [&] {
        QElapsedTimer t;
        t.start();
        loaded = false;
        view->load(page);
        waitFor([&] { return loaded; });
        return t.nsecsElapsed() / 1e6;
    };
    auto loadMovie = [&] {
        QElapsedTimer t;
        t.start();
        loaded = false;
        view->load(QUrl(QStringLiteral("about:blank")));
        waitFor([&] { return loaded; });
        waitFor([] { return false; }, 100);
        t.start();
        view->load(host.open(movie).url);
        waitFor([&] { return firstFrameShown(view); });
        return t.nsecsElapsed() / 1e6;
    };
    print("page_first_ms", loadPage());
    QList<double> later;
    for (int i = 0; i < 10; ++i)
        later << loadPage();
    std::sort(later.begin(), later.end());
    print("page_later_ms", later[later.size() / 2]);
    waitFor([] { return false; }, 1500);
    print("pss_one_viewer_mb", pssAllMb());
    print("movie_first_ms", loadMovie());
    later.clear();
    for (int i = 0; i < 7; ++i)
        later << loadMovie();
    std::sort(later.begin(), later.end());
    print("movie_later_ms", later[later.size() / 2]);
    delete view;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    SiteMirror mirror(SiteMirror::defaultRoot());
    mirror.listen();
    const QString mode = app.arguments().value(1);
    if (mode == QLatin1String("bare"))
        return runBare(mirror);
    return runApp(mirror, app.arguments().value(2, QStringLiteral("200")).toInt());
}
