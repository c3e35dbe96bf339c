#include "runtime.h"
#include "runtimefixture.h"
#include "user32.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <functional>

using namespace forms;
using namespace Qt::StringLiterals;

namespace {

FormDesign probeDesign()
{
    return {
        .caption = u"probe"_s,
        .clientWidth = 3000,
        .clientHeight = 2000,
        .controls = {
            {.name = u"Text1"_s, .kind = ControlKind::TextBox, .caption = u"design"_s,
             .left = 120, .top = 120, .width = 1500, .height = 300, .tabIndex = 0},
            {.name = u"Combo1"_s, .kind = ControlKind::DropDownList,
             .left = 120, .top = 600, .width = 1500, .height = 300, .tabIndex = 1, .items = {u"a"_s, u"b"_s, u"c"_s}},
            {.name = u"Command1"_s, .kind = ControlKind::CommandButton, .caption = u"go"_s,
             .left = 120, .top = 1000, .width = 1000, .height = 375, .tabIndex = 2},
            {.name = u"Slow"_s, .kind = ControlKind::Timer, .interval = 0},
            {.name = u"Fast"_s, .kind = ControlKind::Timer, .interval = 1, .enabled = false},
        },
    };
}

// A window whose handlers record what the runtime asks of them.
class Probe : public Form
{
public:
    explicit Probe(Runtime &rt) : Form(rt, design()) { }
    static const FormDesign &design()
    {
        static const FormDesign d = probeDesign();
        return d;
    }

    int loads = 0;
    int unloadRequests = 0;
    std::int16_t cancelWith = 0;
    std::function<void()> duringUnload;
    std::function<void()> onClick;

    TextBox &Text1() { return control<TextBox>(QStringLiteral("Text1")); }
    DropDownList &Combo1() { return control<DropDownList>(QStringLiteral("Combo1")); }
    CommandButton &Command1() { return control<CommandButton>(QStringLiteral("Command1")); }
    Timer &Slow() { return control<Timer>(QStringLiteral("Slow")); }
    Timer &Fast() { return control<Timer>(QStringLiteral("Fast")); }

protected:
    void Form_Load() override { ++loads; }
    void Form_Unload(std::int16_t &Cancel) override
    {
        ++unloadRequests;
        if (duringUnload)
            duringUnload();
        Cancel = cancelWith;
    }
    void connectEvents() override
    {
        on(&Command1(), &CommandButton::Click, [this] {
            if (onClick)
                onClick();
        });
    }
};
class ProbeA : public Probe
{
    using Probe::Probe;
};
class ProbeB : public Probe
{
    using Probe::Probe;
};
class ProbeC : public Probe
{
    using Probe::Probe;
};

} // namespace

class TestForms : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void instanceIsCreatedOnFirstReferenceWithoutLoading();
    void readingAControlLoadsWithoutShowing();
    void cancelledUnloadKeepsTheWindow();
    void nestedUnloadHasNoEffect();
    void unloadedFormLoadsAfresh();
    void formsWalkReachesEveryLoadedWindow();
    void lastUnloadEndsTheProgram();
    void closeBoxGoesThroughFormUnload();
    void timerIntervals_data();
    void timerIntervals();
    void timersStopWithTheirWindow();
    void missedTicksComeAtTheNextOne();
    void changeFiresOnlyForRealChanges();
    void dropDownListTakesOnlyItsEntries();
    void unhandledErrorIsReportedAndProgramGoesOn();
    void resumeNext();
    void failedBindingRaisesAtItsCall();
    void raisingFactoryLeavesNoSlot();
    void builtinUser32();
};

void TestForms::init()
{
    startRuntime();
}

void TestForms::cleanup()
{
    stopRuntime();
}

void TestForms::instanceIsCreatedOnFirstReferenceWithoutLoading()
{
    Probe &p = rt->form<ProbeA>();
    QCOMPARE(&p, &rt->form<ProbeA>());
    QVERIFY(!p.isLoaded());
    QCOMPARE(p.loads, 0);
    QVERIFY(rt->Forms().empty());
}

void TestForms::readingAControlLoadsWithoutShowing()
{
    Probe &p = rt->form<ProbeA>();
    QCOMPARE(p.Text1().Text(), QStringLiteral("design"));
    QVERIFY(p.isLoaded());
    QCOMPARE(p.loads, 1);
    QVERIFY(!p.window().isVisible());
    p.Show();
    QVERIFY(p.window().isVisible());
    p.Show(); // showing a visible window changes nothing
    QCOMPARE(p.loads, 1);
}

void TestForms::cancelledUnloadKeepsTheWindow()
{
    Probe &p = rt->form<ProbeA>();
    p.Show();
    p.cancelWith = 1;
    p.Unload();
    QVERIFY(p.isLoaded());
    QCOMPARE(rt->Forms().size(), size_t(1));
    p.cancelWith = 0;
    p.Unload();
    QVERIFY(!p.isLoaded());
    QCOMPARE(p.unloadRequests, 2);
    p.Unload(); // not loaded: nothing happens
    QCOMPARE(p.unloadRequests, 2);
}

void TestForms::nestedUnloadHasNoEffect()
{
    Probe &p = rt->form<ProbeA>();
    p.Show();
    p.cancelWith = 1;
    p.duringUnload = [&] { p.Unload(); };
    p.Unload();
    QCOMPARE(p.unloadRequests, 1);
    QVERIFY(p.isLoaded());

    p.cancelWith = 0;
    p.Unload();
    QCOMPARE(p.unloadRequests, 2);
    QVERIFY(!p.isLoaded());
}

void TestForms::unloadedFormLoadsAfresh()
{
    Probe &p = rt->form<ProbeA>();
    p.Text1().SetText(QStringLiteral("typed"));
    p.Unload();
    QCOMPARE(p.Text1().Text(), QStringLiteral("design"));
    QCOMPARE(p.loads, 2);
}

void TestForms::formsWalkReachesEveryLoadedWindow()
{
    Probe &a = rt->form<ProbeA>();
    Probe &b = rt->form<ProbeB>();
    Probe &c = rt->form<ProbeC>();
    a.Show();
    b.Show();
    c.Show();
    // A's unload handler takes C with it while the walk is under way.
    a.duringUnload = [&] { c.Unload(); };
    int visited = 0;
    for (Form *f : rt->Forms()) {
        ++visited;
        f->Unload();
    }
    QCOMPARE(visited, 3);
    QVERIFY(!a.isLoaded() && !b.isLoaded() && !c.isLoaded());
    QCOMPARE(c.unloadRequests, 1); // already gone when the walk reached it
}

void TestForms::lastUnloadEndsTheProgram()
{
    QSignalSpy ended(rt.get(), &Runtime::lastWindowUnloaded);
    Probe &a = rt->form<ProbeA>();
    Probe &b = rt->form<ProbeB>();
    a.Show();
    b.Show();
    a.Unload();
    QCOMPARE(ended.count(), 0);
    b.cancelWith = 1;
    b.Unload();
    QCOMPARE(ended.count(), 0);
    b.cancelWith = 0;
    b.Unload();
    QCOMPARE(ended.count(), 1);
}

void TestForms::closeBoxGoesThroughFormUnload()
{
    Probe &p = rt->form<ProbeA>();
    p.Show();
    p.cancelWith = 1;
    p.window().close();
    QCOMPARE(p.unloadRequests, 1);
    QVERIFY(p.isLoaded() && p.window().isVisible());
    p.cancelWith = 0;
    QPointer<QWidget> w = &p.window();
    w->close();
    QVERIFY(!p.isLoaded());
    QVERIFY(!w || !w->isVisible()); // hidden at once, deleted at the next turn of the loop
    QTRY_VERIFY(w.isNull());
}

void TestForms::timerIntervals_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("period");
    QTest::newRow("zero never fires") << 0 << 0;
    QTest::newRow("1 ms runs at the minimum") << 1 << 10;
    QTest::newRow("9 ms runs at the minimum") << 9 << 10;
    QTest::newRow("10 ms") << 10 << 10;
    QTest::newRow("25 ms") << 25 << 25;
}

void TestForms::timerIntervals()
{
    QFETCH(int, interval);
    QFETCH(int, period);
    Probe &p = rt->form<ProbeA>();
    Timer &t = p.Fast();
    t.SetInterval(interval);
    QCOMPARE(t.Interval(), interval);
    QCOMPARE(t.effectivePeriod(), period);
    QSignalSpy ticks(&t, &Timer::Tick);
    QVERIFY(!ticks.wait(60)); // not enabled
    t.SetEnabled(true);
    if (period == 0)
        QVERIFY(!ticks.wait(100));
    else
        QVERIFY(ticks.wait(1000));
}

void TestForms::timersStopWithTheirWindow()
{
    Probe &p = rt->form<ProbeA>();
    QPointer<Timer> t = &p.Fast();
    t->SetEnabled(true);
    QSignalSpy ticks(t.data(), &Timer::Tick);
    QVERIFY(ticks.wait(1000));
    p.Unload();
    const int before = ticks.count();
    // A timer of the same period, started now, ticks a few times meanwhile.
    Timer marker;
    marker.SetInterval(t.isNull() ? Timer::MinimumPeriodMs : t->Interval());
    marker.SetEnabled(true);
    QSignalSpy markerTicks(&marker, &Timer::Tick);
    QTRY_VERIFY(markerTicks.count() >= 3);
    QCOMPARE(ticks.count(), before);
    QVERIFY(t.isNull() || !t->Enabled());
}

void TestForms::missedTicksComeAtTheNextOne()
{
    Probe &p = rt->form<ProbeA>();
    Timer &t = p.Fast(); // 1 ms requested: 10 ms ticks
    int ticks = 0;
    int stopAfter = 0; // 0: stop once the first delivery is over
    connect(&t, &Timer::Tick, this, [&] {
        ++ticks;
        if (stopAfter == 0 && ticks == 1)
            QTimer::singleShot(0, &t, [&] { t.SetEnabled(false); });
        if (stopAfter != 0 && ticks == stopAfter)
            t.SetEnabled(false);
    });
    t.SetEnabled(true);
    QThread::msleep(120); // the thread is busy for 12 periods
    QTRY_VERIFY(!t.Enabled());
    QVERIFY2(ticks >= 10 && ticks <= 12, qPrintable(QString::number(ticks))); // together, not lost

    // A handler that stops the timer stops the catching up too.
    ticks = 0;
    stopAfter = 2;
    t.SetEnabled(true);
    QThread::msleep(80);
    QTRY_VERIFY(!t.Enabled());
    Timer marker; // its ticks come after any the stopped one still had owing
    marker.SetInterval(1);
    marker.SetEnabled(true);
    QSignalSpy markerTicks(&marker, &Timer::Tick);
    QTRY_VERIFY(markerTicks.count() >= 3);
    QCOMPARE(ticks, 2);
}

void TestForms::changeFiresOnlyForRealChanges()
{
    Probe &p = rt->form<ProbeA>();
    p.Show();
    TextBox &t = p.Text1();
    QSignalSpy changes(&t, &TextBox::Change);
    int changesSeenDuringWrite = -1;
    connect(&t, &TextBox::Change, this, [&] { changesSeenDuringWrite = int(changes.count()); });

    t.SetText(QStringLiteral("design")); // unchanged
    QCOMPARE(changes.count(), 0);
    t.SetText(QStringLiteral("x"));
    QCOMPARE(changes.count(), 1); // before the write returned
    QCOMPARE(changesSeenDuringWrite, 1);
    t.setText(QStringLiteral("x")); // even through QLineEdit's own setter
    QCOMPARE(changes.count(), 1);

    t.setFocus();
    QApplication::setActiveWindow(&p.window());
    t.selectAll();
    QTest::keyClicks(&t, QStringLiteral("ab"));
    QCOMPARE(t.Text(), QStringLiteral("ab"));
    QCOMPARE(changes.count(), 3); // one per key
}

void TestForms::dropDownListTakesOnlyItsEntries()
{
    Probe &p = rt->form<ProbeA>();
    DropDownList &c = p.Combo1();
    QCOMPARE(c.currentIndex(), -1); // nothing chosen at creation
    QCOMPARE(c.Text(), QString());
    QVERIFY(!c.isEditable());
    c.SetText(QStringLiteral("b"));
    QCOMPARE(c.currentIndex(), 1);
    try {
        c.SetText(QStringLiteral("B"));
        QFAIL("a text that is no entry must raise");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), err::PropertyReadOnly);
    }
    QCOMPARE(c.Text(), QStringLiteral("b"));
}

void TestForms::unhandledErrorIsReportedAndProgramGoesOn()
{
    Probe &p = rt->form<ProbeA>();
    p.Show();
    int clicks = 0;
    p.onClick = [&] {
        ++clicks;
        raise(err::Overflow, QStringLiteral("Overflow"));
    };
    p.Command1().click();
    QCOMPARE(reported.size(), 1);
    QCOMPARE(reported[0].number(), err::Overflow);
    p.Command1().click();
    QCOMPARE(clicks, 2);
    QCOMPARE(reported.size(), 2);
}

void TestForms::resumeNext()
{
    ResumeNext onError;
    QStringList ran;
    onError([&] { ran << "1"; });
    onError([&] {
        raise(err::ObjectRequired, "x");
        ran << "never";
    });
    onError([&] { ran << "3"; });
    QCOMPARE(ran, QStringList({"1", "3"}));
    QCOMPARE(onError.error(), err::ObjectRequired);
    // A test that raises goes on with the body, as if it were true.
    QVERIFY(onError.test([]() -> bool { raise(err::InvalidProcedureCall, "x"); }));
    QVERIFY(!onError.test([] { return false; }));
}

void TestForms::failedBindingRaisesAtItsCall()
{
    Probe &p = rt->form<ProbeA>();
    const auto hwnd = user32::toHandle(p.hWnd());
    user32::Binding<user32::GetWindowLongA_t> early(rt->user32(), "user32", "GetWindowLongA");
    early(hwnd, user32::GWL_EXSTYLE); // bound now: the address is reused from here on

    rt->user32().removeEntryPoint("GetWindowLongA");
    user32::Binding<user32::GetWindowLongA_t> late(rt->user32(), "user32.dll", "GetWindowLongA");
    try {
        late(hwnd, user32::GWL_EXSTYLE);
        QFAIL("binding a missing entry point must raise");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), err::EntryPointNotFound);
    }
    early(hwnd, user32::GWL_EXSTYLE);

    user32::Binding<user32::GetWindowLongA_t> wrongLibrary(rt->user32(), "gdi32", "GetWindowLongA");
    QVERIFY_THROWS_EXCEPTION(RuntimeError, wrongLibrary(hwnd, user32::GWL_EXSTYLE));
}

void TestForms::raisingFactoryLeavesNoSlot()
{
    int attempts = 0;
    rt->registerForm(QStringLiteral("Flaky"), [&](Runtime &r) -> std::unique_ptr<Form> {
        if (++attempts == 1)
            raise(err::CantLoadLibrary, QStringLiteral("not yet"));
        return std::make_unique<ProbeA>(r);
    });
    QVERIFY_THROWS_EXCEPTION(RuntimeError, rt->formNamed(QStringLiteral("Flaky")));
    QVERIFY(!rt->findForm(QStringLiteral("Flaky")));
    Form &f = rt->formNamed(QStringLiteral("Flaky")); // a second reference tries again
    QCOMPARE(rt->findForm(QStringLiteral("Flaky")), &f);

    rt->registerForm(QStringLiteral("Broken"),
                     [](Runtime &) -> std::unique_ptr<Form> { raise(err::CantLoadLibrary, QStringLiteral("never")); });
    QVERIFY_THROWS_EXCEPTION(RuntimeError, rt->formNamed(QStringLiteral("Broken")));
    rt.reset(); // tears down without touching an empty slot
}

void TestForms::builtinUser32()
{
    Probe &a = rt->form<ProbeA>();
    Probe &b = rt->form<ProbeB>();
    const auto ha = user32::toHandle(a.hWnd());
    const auto hb = user32::toHandle(b.hWnd());
    user32::Binding<user32::GetWindowLongA_t> get(rt->user32(), "user32", "GetWindowLongA");
    user32::Binding<user32::SetWindowLongA_t> set(rt->user32(), "user32", "SetWindowLongA");
    user32::Binding<user32::SetLayeredWindowAttributes_t> layered(rt->user32(), "user32", "SetLayeredWindowAttributes");
    user32::Binding<user32::SetWindowPos_t> pos(rt->user32(), "user32", "SetWindowPos");

    // Declared types only: an int where the alpha byte goes does not compile.
    static_assert(!std::is_invocable_v<decltype(layered), user32::HWND, std::uint32_t, int, std::uint32_t>);
    static_assert(std::is_invocable_v<decltype(layered), user32::HWND, std::uint32_t, std::uint8_t, std::uint32_t>);

    // Alpha needs the layered style first.
    QCOMPARE(layered(ha, 0u, std::uint8_t(128), user32::LWA_ALPHA), 0);
    QCOMPARE(a.window().windowOpacity(), 1.0);

    const std::int32_t style = get(ha, user32::GWL_EXSTYLE);
    set(ha, user32::GWL_EXSTYLE, style | user32::WS_EX_LAYERED);
    QCOMPARE(get(ha, user32::GWL_EXSTYLE), style | user32::WS_EX_LAYERED);
    QCOMPARE(get(hb, user32::GWL_EXSTYLE) & user32::WS_EX_LAYERED, 0); // kept per window
    QCOMPARE(layered(ha, 0u, std::uint8_t(51), user32::LWA_ALPHA), 1);
    QCOMPARE(qRound(a.window().windowOpacity() * 255), 51);

    pos(ha, user32::HWND_TOPMOST, 0, 0, 0, 0, user32::SWP_NOMOVE | user32::SWP_NOSIZE);
    QVERIFY(a.window().windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(b.window().windowFlags() & Qt::WindowStaysOnTopHint));
    QCOMPARE(a.window().size(), QSize(200, 133));

    // A handle that names no window fails quietly, as the real functions do.
    QCOMPARE(get(user32::toHandle(0x7fffffff), user32::GWL_EXSTYLE), 0);
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
