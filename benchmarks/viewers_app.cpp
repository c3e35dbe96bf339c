// The program's viewer figures, for scripts/bench-viewers.py: the main window's buttons
// pressed and its viewers opened, as in the program. This binary does not link the
// viewers module: the main window loads it as the program does (at idle once it has
// faded in), and its viewer is found as the web view in the window it opened.
//   bench_viewers_app [PRESSES] [cool]
// PRESSES page presses more show what a long session does to memory; with "cool", it
// ends by waiting as long as the program keeps things warm and counts what is left.
// Prints "name value" lines.
#include "benchtools.h"
#include "frmtest.h"
#include "runtime.h"
#include "sitemirror.h"
#include "viewermodule.h"

#include <QApplication>
#include <QEvent>

using namespace bench;

namespace {

// The web view of the viewer a press just opened: the one window shown besides the main one.
QWidget *viewerView(const QWidget &mainWindow)
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top != &mainWindow && top->isVisible())
            for (QWidget *child : top->findChildren<QWidget *>())
                if (child->inherits("QWebEngineView"))
                    return child;
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    bench::countSitesAsInternet();
    QApplication app(argc, argv);
    const int presses = app.arguments().value(1, QStringLiteral("200")).toInt();
    const bool cool = app.arguments().contains(QStringLiteral("cool"));
    // The content site on an address of its own, as the real one is a site of its own
    // beside the player host on 127.0.0.1.
    SiteMirror mirror(SiteMirror::defaultRoot());
    mirror.listen(0, QHostAddress(QStringLiteral("127.0.0.2")));

    forms::Runtime rt;
    viewermodule::enablePreparingAhead(rt);
    frmtest &main = rt.form<frmtest>();
    main.setContentHost(mirror.host());
    main.Show();
    waitFor([&] { return !main.Timer1().Enabled(); }, 10000); // the fade-in
    idle(1000); // what the window makes ready at idle
    print("pss_idle_mb", pssAllMb()); // the engine made at idle

    // A gift page: plain HTML, as the fair anchor loads it.
    main.Text2().SetText(QStringLiteral("6"));
    auto pressPage = [&] {
        QElapsedTimer t;
        t.start();
        main.Command4().click();
        QSignalSpy loaded(viewerView(main.window()), SIGNAL(loadFinished(bool)));
        waitFor([&] { return !loaded.isEmpty(); });
        return t.nsecsElapsed() / 1e6;
    };
    auto pressMovie = [&] {
        QElapsedTimer t;
        t.start();
        main.Command5().click();
        FirstFrame frame(viewerView(main.window()), SIGNAL(loadFinished(bool)));
        waitFor([&] { return frame.shown(); });
        return t.nsecsElapsed() / 1e6;
    };
    const auto closeAll = [&] {
        viewermodule::unload(rt, catalogue::Viewer::Page);
        viewermodule::unload(rt, catalogue::Viewer::Album);
    };

    measure("page_first_ms", "page_later_ms", 20, pressPage);
    idle(SettleMs);
    print("pss_page_open_mb", pssAllMb());
    measure("movie_first_ms", "movie_later_ms", 7, pressMovie);
    idle(SettleMs);
    print("pss_movie_open_mb", pssAllMb());

    pressPage();
    idle(3000);
    print("pss_page_open_after_albums_mb", pssAllMb());

    // After the album viewer was closed: the next album, within the grace.
    const auto afterClose = [&](const std::function<double()> &press) {
        QList<double> times;
        for (int i = 0; i < 5; ++i) {
            closeAll();
            idle(1500);
            times << press();
        }
        return median(times);
    };
    print("movie_after_close_ms", afterClose(pressMovie));
    // What the grace keeps: just after the close, and once the old movie's memory has
    // gone back.
    closeAll();
    idle(3000);
    print("pss_album_grace_first_mb", rendererPssMb());
    idle(7000);
    print("pss_album_grace_mb", rendererPssMb());

    // The user is about to choose an album (the pointer comes over its button): the
    // next album finds the emulator compiled. A page first, which lets the kept album go.
    pressPage();
    closeAll();
    idle(3000);
    const double beforeIntent = rendererPssMb();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&main.Command5(), &enter);
    idle(3000);
    print("pss_intent_warm_mb", rendererPssMb() - beforeIntent);
    print("movie_after_intent_ms", pressMovie());

    // After the page viewer was closed: a page last, so that its process is what is
    // kept warm.
    print("page_after_close_ms", afterClose(pressPage));
    closeAll();
    idle(3000);
    print("pss_warm_mb", rendererPssMb());
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
    if (cool) {
        // Left alone as long as the program keeps anything warm (three minutes), it
        // gives it all back.
        closeAll();
        idle(190000);
        print("pss_after_warm_time_mb", rendererPssMb());
        print("renderers_idle", renderersLeft());
    }
    return 0;
}
