// What a hostile page costs the viewers after it, for scripts/bench-viewers.py: a page
// of the internet (a movie in it) floods for six seconds, then the album button. For
// each flood, the main thread's longest stall from the page's press to the album's first
// frame, and the time from the album press to its first frame; beside a quiet page.
//   bench_floods
// Prints "name value" lines.
#include "benchtools.h"
#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "server.h"
#include "sitemirror.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace bench;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Flood
{
    const char *name;
    QByteArray script; // runs once the page's movie offers fromPage; sets the title after
};

} // namespace

int main(int argc, char *argv[])
{
    // The page's site is not the player host's (127.0.0.1): a page of another site has a
    // process of its own, as a page of the internet has.
    qputenv("PHOTOFORKP_PUBLIC_ADDRESSES", "127.0.0.3");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QByteArray album
        = fileBytes(SiteMirror::defaultRoot() + QStringLiteral("/kpfolder/kpphotos/xiaoxiao/kp_message.swf"));
    const QByteArray external
        = fileBytes(QStringLiteral(PHOTOFORKP_SOURCE_DIR "/tests/player/probe/movies/external.swf"));
    if (album.isEmpty() || external.isEmpty())
        return 1;
    const QByteArray loop = "var end = Date.now() + 6000; while (Date.now() < end) ";
    const Flood floods[] = {
        {"warmup",
         "setTimeout(function () { document.title = 'said'; }, 6000);"}, // the first album compiles the emulator
        {"quiet", "setTimeout(function () { document.title = 'said'; }, 6000);"},
        {"busy", loop + "Math.random(); document.title = 'said';"},
        {"console", loop + "console.debug('x'); document.title = 'said';"},
        {"console_long", "var line = 'y'.repeat(200000); " + loop + "console.log(line); document.title = 'said';"},
        {"console_worker", "var w = new Worker(URL.createObjectURL(new Blob([\"" + loop
                               + "console.debug('x'); postMessage(1);\"], {type: 'text/javascript'})));"
                                 " w.onmessage = function () { document.title = 'said'; };"},
        {"calls", loop + "movie.fromPage('x'); document.title = 'said';"},
        {"messages", "var s = 'z'.repeat(32 << 20), f = document.querySelector('iframe').contentWindow, n = 0;"
                     " var t = setInterval(function () { for (var i = 0; i < 4; ++i) f.postMessage(s, '*');"
                     " if (++n == 600) { clearInterval(t); document.title = 'said'; } }, 10);"},
    };
    QByteArray flood;
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path() == "/external.swf")
            return s->send(200, "application/x-shockwave-flash", external);
        if (r.path().endsWith(".swf"))
            return s->send(200, "application/x-shockwave-flash", album);
        if (!r.path().endsWith(".html"))
            return s->send(404, "text/plain", "no");
        s->send(200, "text/html",
                "<!DOCTYPE html><title>card</title><body>"
                "<embed id=movie src='/external.swf' width=200 height=150 type='application/x-shockwave-flash'"
                " allowscriptaccess=always><script>function go() {"
                " if (typeof movie.fromPage !== 'function') return setTimeout(go, 50); "
                    + flood + " } onload = go;</script>");
    });
    site.listen(QHostAddress(QStringLiteral("127.0.0.3")));

    forms::Runtime rt;
    auto &main = rt.form<frmtest>();
    main.setContentHost(QStringLiteral("127.0.0.3:%1").arg(site.port()));
    main.Show();
    if (!QTest::qWaitForWindowExposed(&main.window()))
        return 1;
    idle(3000); // the viewers' module, loaded at idle

    QElapsedTimer since;
    qint64 longest = 0;
    QTimer pulse;
    pulse.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pulse, &QTimer::timeout, [&] { longest = std::max(longest, since.restart()); });
    double quietAlbum = 0, worstStall = 0, worstRatio = 0;
    for (const Flood &f : floods) {
        flood = f.script;
        QTest::mouseClick(&main.Command2(), Qt::LeftButton);
        waitFor([&] { return rt.form<Form2>().WebBrowser1().title() == QLatin1String("card"); }, 30000);
        longest = 0;
        since.start();
        pulse.start(1);
        // Done, or stopped for it.
        waitFor(
            [&] {
                WebBrowser &view = rt.form<Form2>().WebBrowser1();
                return view.title() == QLatin1String("said") || !view.notice().isEmpty();
            },
            60000);
        bool painted = false;
        PlayerHost &host = ViewerServices::of(rt).host();
        const auto c
            = QObject::connect(&host, &PlayerHost::movieState, [&](const QByteArray &, PlayerHost::MovieState s) {
                  painted = painted || s == PlayerHost::MovieState::Painted;
              });
        QElapsedTimer toAlbum;
        toAlbum.start();
        QTest::mouseClick(&main.Command5(), Qt::LeftButton);
        waitFor([&] { return painted; }, 90000);
        const double albumMs = toAlbum.nsecsElapsed() / 1e6;
        pulse.stop();
        QObject::disconnect(c);
        rt.form<Form1>().Unload();
        idle(2000);
        if (QByteArray(f.name) == "warmup")
            continue;
        print(QByteArray("flood_" + QByteArray(f.name) + "_stall_ms").constData(), double(longest));
        print(QByteArray("flood_" + QByteArray(f.name) + "_album_ms").constData(), albumMs);
        if (QByteArray(f.name) == "quiet") {
            quietAlbum = albumMs;
        } else {
            worstStall = std::max(worstStall, double(longest));
            worstRatio = std::max(worstRatio, albumMs / quietAlbum);
        }
    }
    print("flood_main_thread_stall_ms", worstStall);
    print("flood_album_vs_quiet", worstRatio);
    return 0;
}
