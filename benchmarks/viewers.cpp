// Viewer figures beside the program's (benchmarks/viewers_app.cpp), for
// scripts/bench-viewers.py. Four programs in one binary, against the local site copy:
//   bench_viewers anchor  a bare Qt program that, like the program, makes a new browser
//                         view in a new window for every press and deletes the old one
//                         (the fair anchor)
//   bench_viewers kept    one browser view kept, reloading (what no press can be)
//   bench_viewers floor   one page that keeps the emulator compiled and makes a new
//                         player in it for every album, straight from the site: what an
//                         album press cannot beat
//   bench_viewers plain   the program's page viewer without looking for movies in pages,
//   bench_viewers search  and with it, as the program has it: what looking costs; and
//                         a card page until its movie's first frame, and albums
//   bench_viewers direct  as search, but the engine's connections go straight, not
//                         through the guard: what the guard costs
//   bench_viewers archive as search, but every link from the local web archive of the
//                         same copy: what the archive costs
//   bench_viewers file    as archive, but from a WACZ copy of those presses that a run
//                         of its own kept ("record FILE")
//   bench_viewers far-live, far-archive
//                         a stamp page of 12 pictures from a far site, or from a far
//                         archive of it (150 ms per connection and per answer, in the
//                         servers): what the archive costs at a distance
// plain, search, direct and archive take "kept" after the mode: the site copy and its
// archive then keep connections open.
// Prints "name value" lines.
#include "benchtools.h"
#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "sitearchive.h"
#include "guard.h"
#include "recorder.h"
#include "sitemirror.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cstdio>
#include <functional>

#include <unistd.h>

using namespace bench;

namespace {

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
        ViewerServices &services = ViewerServices::of(runtime());
        return new WebBrowser(services.engine(), services.host(), parent, false);
    }
};

int runPages(SiteMirror &mirror, bool search, bool guarded, SiteArchive *archive = nullptr,
             std::shared_ptr<wayback::Recorder> recorder = {}, std::shared_ptr<warc::Collection> files = {},
             const QString &contentHost = {})
{
    forms::Runtime rt;
    if (!search)
        rt.install<Form2>(std::make_unique<PlainForm2>(rt));
    if (!guarded) // only this benchmark turns the guard off, before the engine starts
        ViewerServices::of(rt).engine().setGuardedForBenchmark(false);
    if (archive)
        ViewerServices::of(rt).engine().setArchive(QUrl(archive->prefix()), QStringLiteral("2010"), true);
    if (recorder)
        ViewerServices::of(rt).engine().connectionGuard().routing().setRecorder(recorder);
    if (files)
        ViewerServices::of(rt).engine().connectionGuard().setArchive(
            {QUrl(QString::fromLatin1(wayback::FilePrefix)), QStringLiteral("2010"), files}, true);
    frmtest &main = rt.form<frmtest>();
    main.setContentHost(contentHost.isEmpty() ? mirror.host() : contentHost);
    main.Show();
    waitFor([&] { return !main.Timer1().Enabled(); }, 10000); // the fade-in
    main.Text2().SetText(QStringLiteral("6"));
    // Where a press's time goes: the command itself (the old window goes, the new one
    // with its view and page is made and told to load), until the engine starts the
    // load, until it has loaded.
    QList<double> commands, starts;
    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        main.Command4().click();
        commands << t.nsecsElapsed() / 1e6;
        bool loaded = false;
        QWebEngineView &view = rt.form<Form2>().WebBrowser1();
        QObject::connect(&view, &QWebEngineView::loadStarted, [&] { starts << t.nsecsElapsed() / 1e6; });
        QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        waitFor([&] { return loaded; });
        return t.nsecsElapsed() / 1e6;
    };
    measure("page_first_ms", "page_later_ms", 20, pressPage);
    print("page_command_ms", median(commands.mid(1)));
    print("page_load_started_ms", median(starts.mid(1)));
    if (!search)
        return 0;
    // A card page, until its movie has drawn its first frame: what the search is for.
    PlayerHost &host = ViewerServices::of(rt).host();
    // A press, until the movie it opens has drawn its first frame.
    auto pressUntilPainted = [&](forms::CommandButton &button) {
        bool painted = false;
        QMetaObject::Connection c
            = QObject::connect(&host, &PlayerHost::movieState, [&](const QByteArray &, PlayerHost::MovieState s) {
                  painted = s == PlayerHost::MovieState::Painted;
              });
        QElapsedTimer t;
        t.start();
        button.click();
        waitFor([&] { return painted; });
        QObject::disconnect(c);
        return t.nsecsElapsed() / 1e6;
    };
    measure("card_movie_first_ms", "card_movie_later_ms", 8, [&] { return pressUntilPainted(main.Command1()); });
    // Albums, until their first frame.
    measure("album_first_ms", "album_later_ms", 8, [&] { return pressUntilPainted(main.Command5()); });
    return 0;
}

// The stamp page with its 12 pictures, live or archived, both far: the first press in a
// fresh process, later ones, and what a later press costs the server in connections and
// requests.
int runFar(bool fromArchive)
{
    constexpr int FarMs = 150, Pictures = 12;
    QTemporaryDir site;
    QDir().mkpath(site.filePath(QStringLiteral("kphtml")));
    QDir().mkpath(site.filePath(QStringLiteral("kpfolder/stamps")));
    QByteArray page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>节日邮票</title></head><body>";
    for (int i = 1; i <= Pictures; ++i) {
        QImage stamp(120, 90, QImage::Format_RGB32);
        stamp.fill(QColor::fromHsv(i * 29, 180, 220));
        stamp.save(site.filePath(QStringLiteral("kpfolder/stamps/s%1.png").arg(i)));
        page += "<img src=\"/kpfolder/stamps/s" + QByteArray::number(i) + ".png\" width=\"120\" height=\"90\">";
    }
    QFile file(site.filePath(QStringLiteral("kphtml/gift6.html")));
    if (!file.open(QIODevice::WriteOnly) || file.write(page + "</body></html>") < 0)
        return 1;
    file.close();
    SiteMirror mirror(site.path());
    mirror.setFar(FarMs);
    mirror.listen(0, QHostAddress(QStringLiteral("127.0.0.2")));
    std::unique_ptr<SiteArchive> archive;
    if (fromArchive) {
        archive = std::make_unique<SiteArchive>(site.path(), SiteArchive::defaultArchiveDir(), QStringList{mirror.host()});
        archive->setFar(FarMs);
        archive->listen(0, QHostAddress(QStringLiteral("127.0.0.3")));
    }
    forms::Runtime rt;
    if (archive)
        ViewerServices::of(rt).engine().setArchive(QUrl(archive->prefix()), QStringLiteral("2010"), true);
    frmtest &main = rt.form<frmtest>();
    main.setContentHost(mirror.host());
    main.Show();
    waitFor([&] { return !main.Timer1().Enabled(); }, 10000); // the fade-in
    main.Text2().SetText(QStringLiteral("6"));
    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        main.Command4().click();
        bool loaded = false;
        QObject::connect(&rt.form<Form2>().WebBrowser1(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        waitFor([&] { return loaded; });
        return t.nsecsElapsed() / 1e6;
    };
    const auto connections = [&] { return archive ? archive->connections() : mirror.connections(); };
    const auto requests = [&] { return archive ? int(archive->targets().size()) : mirror.requests(); };
    print("far_first_ms", pressPage());
    QList<double> later;
    int newConnections = 0, asked = 0;
    for (int i = 0; i < 5; ++i) {
        const int c = connections(), r = requests();
        later << pressPage();
        newConnections = connections() - c;
        asked = requests() - r;
    }
    print("far_later_ms", median(later));
    print("far_later_new_connections", newConnections);
    print("far_later_requests_per_file", asked / double(Pictures + 1));
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
        FirstFrame frame(press(host.open(movieUrl(mirror)).url), SIGNAL(loadFinished(bool)));
        waitFor([&] { return frame.shown(); });
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

// A view that stays, the size of the viewers' own; loaded says when a load has finished.
QWebEngineView *keptView(QWebEngineProfile &profile, bool *loaded)
{
    auto *view = new QWebEngineView;
    view->setPage(new QWebEnginePage(&profile, view));
    view->resize(425, 313);
    view->show();
    QObject::connect(view, &QWebEngineView::loadFinished, [loaded](bool) { *loaded = true; });
    return view;
}

// One view, kept: each press reloads inside it.
int runKept(SiteMirror &mirror)
{
    PlayerHost host;
    host.start();
    QWebEngineProfile profile;
    bool loaded = false;
    QWebEngineView *view = keptView(profile, &loaded);
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
        FirstFrame frame(view);
        view->load(host.open(movieUrl(mirror)).url);
        waitFor([&] { return frame.shown(); });
        return t.nsecsElapsed() / 1e6;
    };
    measure("page_first_ms", "page_later_ms", 10, pressPage);
    measure("movie_first_ms", "movie_later_ms", 7, pressMovie);
    delete view;
    return 0;
}

// One page that keeps the emulator compiled, served with it and the movie from one
// site: every album press makes a new player element in it, which fetches the movie
// straight from the site (no relay), removing the one before.
int runFloor()
{
    QTemporaryDir site;
    const QString emulator = qEnvironmentVariable("PHOTOFORKP_EMULATOR_DIR");
    QDir().mkpath(site.filePath(QStringLiteral("ruffle")));
    for (const QString &name : QDir(emulator).entryList(QDir::Files))
        QFile::copy(QDir(emulator).filePath(name), site.filePath(QStringLiteral("ruffle/") + name));
    const QDir album(SiteMirror::defaultRoot() + QStringLiteral("/kpfolder/kpphotos/xiaoxiao"));
    for (const QString &name : album.entryList(QDir::Files))
        QFile::copy(album.filePath(name), site.filePath(name));
    QFile page(site.filePath(QStringLiteral("floor.html")));
    if (!page.open(QIODevice::WriteOnly))
        return 1;
    page.write(R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<style>html, body { margin: 0; height: 100%; overflow: hidden; background: #ffffff; } #p { width: 100%; height: 100%; }</style>
<script>
window.RufflePlayer = { config: { publicPath: "ruffle/", polyfills: false, autoplay: "on", unmuteOverlay: "hidden",
  splashScreen: false, quality: "high", scale: "showAll", wmode: "window", logLevel: "error" } };
// The emulator's clock moved on by one frame interval once a movie's header is in, as
// the player page does (player/player.js), so that frame 1 is drawn on the next tick.
let ahead = 0;
const nativeFrame = window.requestAnimationFrame.bind(window), nativeNow = performance.now.bind(performance);
window.requestAnimationFrame = function (callback) { return nativeFrame(function (t) { callback(t + ahead); }); };
performance.now = function () { return nativeNow() + ahead; };
function press(url) {
  const box = document.getElementById("p");
  if (box.firstChild) box.firstChild.remove();
  const player = window.RufflePlayer.newest().createPlayer();
  player.style.width = "100%"; player.style.height = "100%";
  box.appendChild(player);
  player.addEventListener("loadedmetadata", function () { ahead += 1000 / player.ruffle().metadata.frameRate; });
  player.ruffle().load({ url: url });
}
</script><script src="ruffle/ruffle.js"></script></head><body><div id="p"></div></body></html>)");
    page.close();
    SiteMirror mirror(site.path());
    mirror.listen(0, QHostAddress(QStringLiteral("127.0.0.2")));

    QWebEngineProfile profile;
    bool loaded = false;
    QWebEngineView *view = keptView(profile, &loaded);
    view->load(QUrl(QStringLiteral("http://%1/floor.html").arg(mirror.host())));
    waitFor([&] { return loaded; });
    int n = 0;
    auto pressMovie = [&] {
        QElapsedTimer t;
        t.start();
        FirstFrame frame(view);
        // A new address each time, as each press asks the site anew.
        view->page()->runJavaScript(QStringLiteral("press('kp_message.swf?%1')").arg(++n));
        waitFor([&] { return frame.shown(); });
        return t.nsecsElapsed() / 1e6;
    };
    measure("movie_first_ms", "movie_later_ms", 7, pressMovie);
    delete view;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = QString::fromLatin1(argc > 1 ? argv[1] : "plain");
    countSitesAsInternet();
    if (mode != QLatin1String("plain") && mode != QLatin1String("search") && mode != QLatin1String("direct")
        && mode != QLatin1String("archive") && mode != QLatin1String("file") && mode != QLatin1String("record")
        && !mode.startsWith(QLatin1String("far-"))) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // as a bare program sets it
        if (qgetenv("USER") == "root" || getuid() == 0)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1"); // the engine's rule, not ours
    }
    QApplication app(argc, argv);
    if (mode.startsWith(QLatin1String("far-")))
        return runFar(mode == QLatin1String("far-archive"));
    // The content site on an address of its own, as the real one is a site of its own
    // beside the player host on 127.0.0.1.
    SiteMirror mirror(SiteMirror::defaultRoot());
    // "MODE kept": the site copy and its archive keep connections open, as most sites do.
    const bool keptOpen = argc > 2 && QByteArray(argv[2]) == "kept";
    if (keptOpen)
        mirror.setFar(0);
    mirror.listen(0, QHostAddress(QStringLiteral("127.0.0.2")));
    if (mode == QLatin1String("anchor"))
        return runAnchor(mirror);
    if (mode == QLatin1String("kept"))
        return runKept(mirror);
    if (mode == QLatin1String("floor"))
        return runFloor();
    if (mode == QLatin1String("archive")) {
        SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(), {mirror.host()});
        if (keptOpen)
            archive.setFar(0);
        archive.listen(0, QHostAddress(QStringLiteral("127.0.0.3")));
        return runPages(mirror, true, true, &archive);
    }
    if (mode == QLatin1String("record") && argc > 3) {
        // The presses of "archive", kept in the copy argv[2] names, of the site argv[3]
        // names (the measuring run's).
        const QString host = QString::fromLocal8Bit(argv[3]);
        SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(), {host});
        archive.listen(0, QHostAddress(QStringLiteral("127.0.0.3")));
        QString why;
        std::shared_ptr<wayback::Recorder> recorder = wayback::Recorder::open(QString::fromLocal8Bit(argv[2]), &why);
        if (!recorder)
            return 1;
        runPages(mirror, true, true, &archive, recorder, {}, host);
        return recorder->finish(&why) ? 0 : 1;
    }
    if (mode == QLatin1String("file")) {
        // The same presses kept in a copy by a run of its own (one engine per process, as
        // the program has), then measured from the copy alone.
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("bench.wacz"));
        QProcess record;
        record.setStandardOutputFile(QProcess::nullDevice());
        record.start(QCoreApplication::applicationFilePath(), {QStringLiteral("record"), path, mirror.host()});
        auto files = std::make_shared<warc::Collection>();
        QString why;
        if (!record.waitForFinished(600000) || record.exitCode() != 0 || !files->add(path, &why))
            return 1;
        return runPages(mirror, true, true, nullptr, nullptr, files);
    }
    return runPages(mirror, mode != QLatin1String("plain"), mode != QLatin1String("direct"));
}
