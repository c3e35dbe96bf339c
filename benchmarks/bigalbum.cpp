// A 100 MB album, for scripts/bench-viewers.py: time to its first frame and the main
// process's peak memory growth, through the player's relay and, as the anchor, loaded
// straight by the emulator from a server that allows it (CORS), in one run.
//   bench_big_album [RUNS]
// Prints "name value" lines.
#include "benchtools.h"
#include "browserengine.h"
#include "playerhost.h"
#include "server.h"
#include "sitemirror.h"
#include "webcontrols.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr qint64 AlbumBytes = 100LL * 1024 * 1024;

double procMb(const QByteArray &field)
{
    return bench::kbField(QStringLiteral("/proc/self/status"), field) / 1024;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// The site's first album with 100 MB of binary data appended: it plays the same frames.
bool writeBigAlbum(const QString &path)
{
    QFile source(SiteMirror::defaultRoot() + QStringLiteral("/kpfolder/kpphotos/xiaoxiao/kp_message.swf"));
    QFile out(path);
    if (!source.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    QByteArray swf = source.readAll();
    swf.chop(2); // the End tag
    const QByteArray payload(AlbumBytes, 'p');
    const quint32 body = quint32(6 + payload.size());
    QByteArray tag;
    tag.append(char((87 << 6 | 0x3f) & 0xff)).append(char((87 << 6 | 0x3f) >> 8));
    for (int i = 0; i < 4; ++i)
        tag.append(char((body >> (8 * i)) & 0xff));
    tag.append("\x01\x00\x00\x00\x00\x00", 6); // DefineBinaryData: id 1, reserved
    const quint32 length = quint32(swf.size() + tag.size() + payload.size() + 2);
    for (int i = 0; i < 4; ++i)
        swf[4 + i] = char((length >> (8 * i)) & 0xff);
    return out.write(swf) == swf.size() && out.write(tag) == tag.size() && out.write(payload) == payload.size()
           && out.write(QByteArray(2, '\0')) == 2;
}

} // namespace

using bench::median;
using bench::print;
using bench::waitFor;

int main(int argc, char *argv[])
{
    bench::countSitesAsInternet();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const int runs = app.arguments().value(1, QStringLiteral("3")).toInt();
    QTemporaryDir dir;
    if (!writeBigAlbum(dir.filePath(QStringLiteral("big.swf"))))
        return 1;

    // The content site, as the program sees it: no CORS.
    SiteMirror site(dir.path());
    site.listen();
    // The anchor: one server with the emulator and the movie, read straight by the page.
    const QString emulator = PlayerHost::defaultEmulatorDir();
    const QByteArray page
        = "<!DOCTYPE html><html><body style='margin:0'><div id='p' style='width:100vw;height:100vh'></div>"
          "<script src='/ruffle/ruffle.js'></script><script>"
          "window.RufflePlayer.config={publicPath:'/ruffle/',autoplay:'on',unmuteOverlay:'hidden',"
          "splashScreen:false,scale:'showAll'};"
          "const p=window.RufflePlayer.newest().createPlayer();p.style.width='100%';p.style.height='100%';"
          "document.getElementById('p').appendChild(p);p.ruffle().load({url:'/big.swf'});</script></body></html>";
    http::Server straight([&](const http::Request &r, http::Response *s) {
        const QByteArray path = r.path();
        if (path == "/")
            return s->send(200, "text/html", page);
        const http::Headers cors = {{"Access-Control-Allow-Origin", "*"}};
        if (path == "/big.swf")
            return http::sendFile(s, cors + http::Headers{{"Content-Type", "application/x-shockwave-flash"}},
                                  dir.filePath(QStringLiteral("big.swf")));
        if (path.startsWith("/ruffle/") && !path.contains(".."))
            return http::sendFile(
                s, cors + http::Headers{{"Content-Type", http::contentTypeFor(QString::fromLatin1(path))}},
                emulator + QString::fromLatin1(path.mid(7)));
        s->send(404, "text/plain", "no");
    });
    straight.listen();

    ViewerServices services; // the host first, so that it goes after the engine's pages
    BrowserEngine &engine = services.engine();
    PlayerHost &host = services.host();
    host.start();
    const QString movie = QStringLiteral("http://%1/big.swf").arg(site.host());

    QList<double> relayMs, straightMs, relayMb, straightMb;
    for (int run = 0; run < runs; ++run) {
        for (const bool relayed : {true, false}) {
            QWebEngineView *view = relayed ? static_cast<QWebEngineView *>(new ShockwaveFlash(engine, host, nullptr))
                                           : new QWebEngineView;
            if (!relayed)
                view->setPage(new QWebEnginePage(engine.profile(), view));
            view->resize(433, 321);
            view->show();
            waitFor([] { return false; }, 300);
            const double base = procMb("VmRSS:");
            resetPeak();
            QElapsedTimer t;
            t.start();
            if (relayed)
                static_cast<ShockwaveFlash *>(view)->SetMovie(movie);
            else
                view->load(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(straight.port())));
            bench::FirstFrame frame(view, SIGNAL(loadFinished(bool)));
            waitFor([&] { return frame.shown(); }, 120000);
            (relayed ? relayMs : straightMs) << t.nsecsElapsed() / 1e6;
            (relayed ? relayMb : straightMb) << procMb("VmHWM:") - base;
            delete view;
            waitFor([] { return false; }, 1000);
        }
    }
    print("big_relay_first_frame_ms", median(relayMs));
    print("big_straight_first_frame_ms", median(straightMs));
    print("big_relay_peak_growth_mb", median(relayMb));
    print("big_straight_peak_growth_mb", median(straightMb));
    return 0;
}
