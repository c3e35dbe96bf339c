// Real durations of the fades and the hold, for scripts/bench-fades.sh. Prints
// "phase measured_ms nominal_ms" lines: once on its own, once with a viewer loading
// during the main window's fades.
#include "benchtools.h"
#include "Form1.h"
#include "frmAbout.h"
#include "frmtest.h"
#include "runtime.h"
#include "sitemirror.h"
#include "viewermodule.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

void print(const char *phase, double ms, double nominal)
{
    std::printf("%s %.1f %.0f\n", phase, ms, nominal);
    std::fflush(stdout);
}

void runOnce(SiteMirror &mirror, bool withViewer, const char *suffix)
{
    forms::Runtime rt;
    viewermodule::enablePreparingAhead(rt); // as the program: the engine made at idle after the fade-in
    QElapsedTimer clock;
    clock.start();
    frmAbout &splash = rt.form<frmAbout>();
    frmtest &main = rt.form<frmtest>();
    main.setContentHost(mirror.host());
    QEventLoop loop;
    QObject::connect(&rt, &forms::Runtime::lastWindowUnloaded, &loop, &QEventLoop::quit);

    double splashLoaded = 0, fadeInEnd = 0, holdEnd = 0, fadeOutEnd = 0, mainLoaded = 0, mainOpaque = 0;
    double closeAsked = 0, mainGone = 0;
    int fadeInTicks = 0, fadeOutTicks = 0;
    QObject::connect(&splash, &forms::Form::loaded, [&] {
        splashLoaded = clock.nsecsElapsed() / 1e6;
        QObject::connect(&splash.Timer3(), &forms::Timer::Tick, [&] {
            if (++fadeInTicks == 52)
                fadeInEnd = clock.nsecsElapsed() / 1e6;
        });
        QObject::connect(&splash.Timer1(), &forms::Timer::Tick, [&] { holdEnd = clock.nsecsElapsed() / 1e6; });
        QObject::connect(&splash.Trans(), &forms::Timer::Tick, [&] {
            if (++fadeOutTicks == 52)
                fadeOutEnd = clock.nsecsElapsed() / 1e6;
        });
    });
    QObject::connect(&main, &forms::Form::loaded, [&] {
        mainLoaded = clock.nsecsElapsed() / 1e6;
        if (withViewer)
            QTimer::singleShot(0, [&] { main.Command5().click(); });
        QObject::connect(&main.Timer1(), &forms::Timer::Tick, [&] {
            if (main.FadingIn && main.CurrentAlpha == 255 && mainOpaque == 0) {
                mainOpaque = clock.nsecsElapsed() / 1e6;
                QTimer::singleShot(300, [&] {
                    if (withViewer)
                        main.Command5().click();
                    closeAsked = clock.nsecsElapsed() / 1e6;
                    main.window().close();
                });
            }
        });
    });
    QObject::connect(&main, &forms::Form::unloaded, [&] { mainGone = clock.nsecsElapsed() / 1e6; });
    splash.Show();
    loop.exec();

    auto name = [&](const char *phase) { return QByteArray(phase) + suffix; };
    print(name("splash_fade_in"), fadeInEnd - splashLoaded, 520);
    print(name("splash_hold"), holdEnd - fadeInEnd, 2000);
    print(name("splash_fade_out"), fadeOutEnd - holdEnd, 520);
    print(name("main_fade_in"), mainOpaque - mainLoaded, 850);
    print(name("main_fade_out"), mainGone - closeAsked, 1280);
}

} // namespace

int main(int argc, char *argv[])
{
    bench::countSitesAsInternet();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SiteMirror mirror(SiteMirror::defaultRoot());
    mirror.listen();
    runOnce(mirror, false, "");
    runOnce(mirror, true, "_viewer_loading");
    return 0;
}
