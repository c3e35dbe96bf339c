#include "frmAbout.h"
#include "frmtest.h"
#include "runtime.h"
#include "runtimefixture.h"
#include "x11tools.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace forms;

// The fades in real time, as the window system sees them.
class TestFadeX11 : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void windowSystemSeesOpacityRiseAndFall();
    void closeBoxDuringSplashFadeInEndsProgram();
    void closeBoxDuringSplashFadeOutKeepsMain();
    void closingMainWhileSplashFadesOut();

private:
    void clickCloseLabel(frmAbout &splash);
};

void TestFadeX11::init()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    startRuntime();
}

void TestFadeX11::cleanup()
{
    QVERIFY(reported.isEmpty());
    stopRuntime();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // its windows go now
}

void TestFadeX11::clickCloseLabel(frmAbout &splash)
{
    Label &x = splash.Label7();
    const QPoint at = x.mapToGlobal(QPoint(x.width() / 2, x.height() / 2));
    x11::clickAt(at);
}

void TestFadeX11::windowSystemSeesOpacityRiseAndFall()
{
    frmtest &main = rt->form<frmtest>();
    main.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&main.window()));
    const QString id = x11::id(main.window());
    QList<double> rising;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000 && (rising.isEmpty() || rising.last() < 1.0)) {
        rising << x11::opacity(id);
        QTest::qWait(15);
    }
    QCOMPARE(rising.last(), 1.0);
    QVERIFY(std::is_sorted(rising.begin(), rising.end()));
    const auto between = std::count_if(rising.begin(), rising.end(), [](double v) { return v > 0.02 && v < 0.98; });
    QVERIFY2(between >= 3, "the fade-in was not seen step by step");

    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    main.window().close();
    QList<double> falling;
    while (t.elapsed() < 8000 && main.isLoaded()) {
        const double seen = x11::opacity(id);
        if (main.isLoaded()) // else the window may have gone while it was asked
            falling << seen;
        QTest::qWait(15);
    }
    QVERIFY(!main.isLoaded());
    QCOMPARE(ended.count(), 1);
    QVERIFY2(std::is_sorted(falling.rbegin(), falling.rend()), qPrintable(QDebug::toString(falling)));
    QVERIFY(std::count_if(falling.begin(), falling.end(), [](double v) { return v > 0.02 && v < 0.98; }) >= 3);
    QVERIFY(falling.last() > 0.0); // it went at a last positive opacity
}

void TestFadeX11::closeBoxDuringSplashFadeInEndsProgram()
{
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    frmAbout &splash = rt->form<frmAbout>();
    splash.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash.window()));
    QVERIFY(!splash.Trans().Enabled()); // fading in or holding: the fade-out has not begun
    QVERIFY(!rt->form<frmtest>().isLoaded());
    clickCloseLabel(splash);
    QTRY_COMPARE(ended.count(), 1);
    QVERIFY(!splash.isLoaded());
    QVERIFY(!rt->form<frmtest>().isLoaded()); // the main window never appeared
    // Nor can it later: the timers that would have brought it went with the splash.
    QCOMPARE(splash.findControl(QStringLiteral("Trans")), nullptr);
    QCOMPARE(splash.findControl(QStringLiteral("Timer1")), nullptr);
}

void TestFadeX11::closeBoxDuringSplashFadeOutKeepsMain()
{
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    frmAbout &splash = rt->form<frmAbout>();
    frmtest &main = rt->form<frmtest>();
    splash.Show();
    QTRY_VERIFY_WITH_TIMEOUT(main.isLoaded(), 6000); // the fade-out has begun
    QVERIFY(splash.isLoaded());
    clickCloseLabel(splash);
    QTRY_VERIFY(!splash.isLoaded());
    QVERIFY(main.isLoaded() && main.window().isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(main.CurrentAlpha, std::int16_t(255), 3000);
    QCOMPARE(ended.count(), 0);
}

void TestFadeX11::closingMainWhileSplashFadesOut()
{
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    frmAbout &splash = rt->form<frmAbout>();
    frmtest &main = rt->form<frmtest>();
    splash.Show();
    QTRY_VERIFY_WITH_TIMEOUT(main.isLoaded(), 6000);
    // The fade-out has begun; slowed down, it goes on for as long as the test needs,
    // however slow the machine.
    splash.Trans().SetInterval(1000);
    QVERIFY(QTest::qWaitForWindowExposed(&main.window()));
    QVERIFY(splash.isLoaded());
    // The close box, through the window manager.
    x11::xdotool({"windowactivate", "--sync", x11::id(main.window()), "key", "--clearmodifiers", "alt+F4"});
    QTRY_VERIFY(!splash.isLoaded());
    QVERIFY(main.isLoaded());
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
    QVERIFY(!main.isLoaded());
}

QTEST_MAIN(TestFadeX11)
#include "tst_fade_x11.moc"
