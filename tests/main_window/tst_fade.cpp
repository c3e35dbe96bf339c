#include "frmAbout.h"
#include "frmtest.h"
#include "plainform.h"
#include "runtime.h"
#include "runtimefixture.h"

#include <QSignalSpy>
#include <QTest>

using namespace forms;

namespace {
using Other = PlainForm<1>;

QList<int> steps(int from, int to, int by)
{
    QList<int> v;
    for (int a = from; by > 0 ? a <= to : a >= to; a += by)
        v << a;
    return v;
}
} // namespace

// The fades tick by tick, by calling the timer handlers directly.
class TestFade : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void mainFadesIn();
    void mainFadesOutAfterFullFadeIn();
    void closeDuringFadeIn();
    void closeBeforeFirstTick();
    void secondCloseDuringFadeOut();
    void closeUnloadsEveryOtherWindowAtOnce();

    void splashSequence();
    void splashCloseDuringFadeIn();
    void splashCloseDuringFadeOut();
    void mainCloseWhileSplashFadesOut();

private:
    int alphaOf(Form &f) { return qRound(f.window().windowOpacity() * 255); }
    // Ticks the main window's timer until it unloads; the opacities it applied.
    QList<int> tickMainUntilGone(int limit = 1000);

    frmtest *main = nullptr;
};

void TestFade::init()
{
    startRuntime();
    main = &rt->form<frmtest>();
}

void TestFade::cleanup()
{
    QVERIFY(reported.isEmpty());
    stopRuntime();
}

QList<int> TestFade::tickMainUntilGone(int limit)
{
    QList<int> applied;
    for (int i = 0; i < limit && main->isLoaded(); ++i) {
        main->Timer1_Timer();
        if (main->isLoaded())
            applied << alphaOf(*main);
    }
    return applied;
}

void TestFade::mainFadesIn()
{
    main->Show();
    QCOMPARE(alphaOf(*main), 0);
    QVERIFY(main->FadingIn);
    QVERIFY(main->Timer1().Enabled());
    QCOMPARE(main->Timer1().effectivePeriod(), 10);
    QList<int> applied;
    for (int tick = 1; tick <= 85; ++tick) {
        QVERIFY(main->Timer1().Enabled());
        main->Timer1_Timer();
        applied << alphaOf(*main);
    }
    QList<int> expected = steps(3, 252, 3);
    expected << 255;
    QCOMPARE(applied, expected);
    QVERIFY(!main->Timer1().Enabled());
    QCOMPARE(main->CurrentAlpha, 255);
}

void TestFade::mainFadesOutAfterFullFadeIn()
{
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    main->Show();
    for (int i = 0; i < 85; ++i)
        main->Timer1_Timer();
    main->Unload();
    QVERIFY(main->isLoaded()); // refused
    QVERIFY(!main->FadingIn);
    QVERIFY(main->Timer1().Enabled());
    QCOMPARE(ended.count(), 0);

    const QList<int> applied = tickMainUntilGone();
    QCOMPARE(applied, steps(253, 1, -2)); // 127 values, then tick 128 unloads at 1
    QVERIFY(!main->isLoaded());
    QVERIFY(main->CloseAllowed);
    QCOMPARE(main->CurrentAlpha, 0);
    QCOMPARE(ended.count(), 1);
}

void TestFade::closeDuringFadeIn()
{
    main->Show();
    for (int i = 0; i < 10; ++i)
        main->Timer1_Timer();
    QCOMPARE(alphaOf(*main), 30);
    main->Unload();
    const QList<int> applied = tickMainUntilGone();
    QCOMPARE(applied, steps(28, 2, -2)); // ceil(30 / 2) = 15 ticks, never 255
    QVERIFY(!main->isLoaded());
}

void TestFade::closeBeforeFirstTick()
{
    main->Show();
    main->Unload();
    QVERIFY(main->isLoaded());
    main->Timer1_Timer(); // -2: unloads at once, applying nothing
    QVERIFY(!main->isLoaded());
}

void TestFade::secondCloseDuringFadeOut()
{
    main->Show();
    for (int i = 0; i < 85; ++i)
        main->Timer1_Timer();
    main->Unload();
    for (int i = 0; i < 5; ++i)
        main->Timer1_Timer();
    QCOMPARE(main->CurrentAlpha, 245);
    Other &opened = rt->form<Other>();
    opened.Show(); // opened meanwhile
    main->Unload();
    QVERIFY(main->isLoaded());
    QVERIFY(!opened.isLoaded()); // the second request still closes the others
    QCOMPARE(main->CurrentAlpha, 245); // and the fade goes on from where it was
    main->Timer1_Timer();
    QCOMPARE(alphaOf(*main), 243);
}

void TestFade::closeUnloadsEveryOtherWindowAtOnce()
{
    main->Show();
    Other &other = rt->form<Other>();
    other.Show();
    QCOMPARE(rt->Forms().size(), size_t(2));
    main->window().close(); // the close box
    QVERIFY(!other.isLoaded());
    QVERIFY(main->isLoaded());
    QCOMPARE(rt->Forms().size(), size_t(1));
}

void TestFade::splashSequence()
{
    frmAbout &splash = rt->form<frmAbout>();
    QSignalSpy mainLoads(main, &Form::loaded);
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    splash.Show();
    QCOMPARE(alphaOf(splash), 0);
    QVERIFY(splash.Timer3().Enabled());
    QCOMPARE(splash.Timer3().effectivePeriod(), 10); // 1 ms requested
    QVERIFY(!splash.Timer1().Enabled());
    QCOMPARE(splash.Timer1().Interval(), 2000);
    QVERIFY(!splash.Trans().Enabled());
    QCOMPARE(splash.Trans().Interval(), 1);

    QList<int> fadeIn;
    for (int tick = 1; tick <= 52; ++tick) {
        QVERIFY(splash.Timer3().Enabled());
        splash.Timer3_Timer();
        fadeIn << alphaOf(splash);
    }
    QList<int> expected = steps(5, 255, 5);
    expected << 255;
    QCOMPARE(fadeIn, expected);
    QVERIFY(!splash.Timer3().Enabled());
    QVERIFY(splash.Timer1().Enabled());

    splash.Timer1_Timer(); // the hold's single tick
    QVERIFY(!splash.Timer1().Enabled());
    QVERIFY(splash.Trans().Enabled());
    QCOMPARE(alphaOf(splash), 255);
    QVERIFY(!main->isLoaded());

    QList<int> fadeOut;
    for (int tick = 1; tick <= 51; ++tick) {
        splash.Trans_Timer();
        fadeOut << alphaOf(splash);
        QVERIFY(main->isLoaded() && main->window().isVisible()); // shown on every step
    }
    QCOMPARE(fadeOut, steps(250, 0, -5));
    QCOMPARE(mainLoads.count(), 1); // only the first show loads it
    splash.Trans_Timer(); // tick 52: off, 0 again, gone
    QVERIFY(!splash.isLoaded());
    QVERIFY(main->isLoaded());
    QCOMPARE(ended.count(), 0);
}

void TestFade::splashCloseDuringFadeIn()
{
    frmAbout &splash = rt->form<frmAbout>();
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    splash.Show();
    for (int i = 0; i < 10; ++i)
        splash.Timer3_Timer();
    QTest::mouseClick(&splash.Label7(), Qt::LeftButton);
    QVERIFY(!splash.isLoaded());
    QVERIFY(!main->isLoaded()); // the main window never came
    QCOMPARE(ended.count(), 1); // so the program ends
}

void TestFade::splashCloseDuringFadeOut()
{
    frmAbout &splash = rt->form<frmAbout>();
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    splash.Show();
    for (int i = 0; i < 52; ++i)
        splash.Timer3_Timer();
    splash.Timer1_Timer();
    splash.Trans_Timer();
    QVERIFY(main->isLoaded());
    QTest::mouseClick(&splash.Label7(), Qt::LeftButton);
    QVERIFY(!splash.isLoaded());
    QVERIFY(main->isLoaded() && main->window().isVisible());
    QCOMPARE(ended.count(), 0);
    QVERIFY(main->FadingIn); // its own fade-in goes on
}

void TestFade::mainCloseWhileSplashFadesOut()
{
    frmAbout &splash = rt->form<frmAbout>();
    splash.Show();
    for (int i = 0; i < 52; ++i)
        splash.Timer3_Timer();
    splash.Timer1_Timer();
    for (int i = 0; i < 3; ++i)
        splash.Trans_Timer();
    main->window().close();
    QVERIFY(!splash.isLoaded()); // unloaded at once: the main window is not shown again
    QVERIFY(main->isLoaded());
    QVERIFY(!main->FadingIn);
    tickMainUntilGone();
    QVERIFY(!main->isLoaded());
}

QTEST_MAIN(TestFade)
#include "tst_fade.moc"
