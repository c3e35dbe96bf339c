#include "opacity.h"
#include "plainform.h"
#include "runtime.h"

#include <QTest>

using namespace forms;

namespace {
using Plain = PlainForm<1>;
} // namespace

class TestOpacity : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void setWindowAlphaApplies_data();
    void setWindowAlphaApplies();
    void setWindowAlphaOverflowsAfterLayering_data();
    void setWindowAlphaOverflowsAfterLayering();
    void setWindowAlphaFailedBindingRaises();
    void applyAlphaCodes_data();
    void applyAlphaCodes();
    void applyAlphaWithoutLayeredAttributes();
    void repeatingChangesNothing();

private:
    int alpha() { return qRound(window->window().windowOpacity() * 255); }
    bool layered()
    {
        user32::Binding<user32::GetWindowLongA_t> get(rt->user32(), "user32", "GetWindowLongA");
        return get(user32::toHandle(window->hWnd()), user32::GWL_EXSTYLE) & user32::WS_EX_LAYERED;
    }
    std::unique_ptr<Runtime> rt;
    Plain *window = nullptr;
};

void TestOpacity::init()
{
    rt = std::make_unique<Runtime>();
    window = &rt->form<Plain>();
    window->Load();
}

void TestOpacity::cleanup()
{
    rt.reset();
}

void TestOpacity::setWindowAlphaApplies_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("transparent") << 0;
    QTest::newRow("half") << 128;
    QTest::newRow("opaque") << 255;
}

void TestOpacity::setWindowAlphaApplies()
{
    QFETCH(int, value);
    QVERIFY(!window->window().isVisible()); // before the first show
    mdlmain::of(*rt).SetWindowAlpha(*window, value);
    QVERIFY(layered());
    QCOMPARE(alpha(), value);
}

void TestOpacity::setWindowAlphaOverflowsAfterLayering_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("256") << 256;
    QTest::newRow("-1") << -1;
    QTest::newRow("large") << 70000;
}

void TestOpacity::setWindowAlphaOverflowsAfterLayering()
{
    QFETCH(int, value);
    QVERIFY(!layered());
    try {
        mdlmain::of(*rt).SetWindowAlpha(*window, value);
        QFAIL("an alpha outside 0..255 must raise");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), err::Overflow);
    }
    QVERIFY(layered()); // the style was already written
    QCOMPARE(alpha(), 255); // and no alpha applied
}

void TestOpacity::setWindowAlphaFailedBindingRaises()
{
    rt->user32().removeEntryPoint("SetLayeredWindowAttributes");
    QVERIFY_THROWS_EXCEPTION(RuntimeError, mdlmain::of(*rt).SetWindowAlpha(*window, 10));
    QVERIFY(layered());
    QCOMPARE(alpha(), 255);
}

void TestOpacity::applyAlphaCodes_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("code");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("255") << 255 << 0;
    QTest::newRow("100") << 100 << 0;
    QTest::newRow("256") << 256 << 1;
    QTest::newRow("-1") << -1 << 1;
    QTest::newRow("-32768") << -32768 << 1;
}

void TestOpacity::applyAlphaCodes()
{
    QFETCH(int, value);
    QFETCH(int, code);
    opacity::LayeredWindowFunctions f(rt->user32(), "user32");
    QCOMPARE(opacity::applyAlpha(f, window->hWnd(), std::int16_t(value)), code);
    if (code == 1) {
        QVERIFY(!layered()); // nothing touched at all
        QCOMPARE(alpha(), 255);
    } else {
        QVERIFY(layered());
        QCOMPARE(alpha(), value);
    }
}

void TestOpacity::applyAlphaWithoutLayeredAttributes()
{
    rt->user32().removeEntryPoint("SetLayeredWindowAttributes");
    opacity::LayeredWindowFunctions f(rt->user32(), "user32");
    QCOMPARE(opacity::applyAlpha(f, window->hWnd(), 100), 2); // and no exception
    QVERIFY(layered());
    QCOMPARE(alpha(), 255);
    // Out of range still answers 1: no call was attempted.
    QCOMPARE(opacity::applyAlpha(f, window->hWnd(), 300), 1);
}

void TestOpacity::repeatingChangesNothing()
{
    opacity::LayeredWindowFunctions f(rt->user32(), "user32");
    mdlmain::of(*rt).SetWindowAlpha(*window, 77);
    user32::Binding<user32::GetWindowLongA_t> get(rt->user32(), "user32", "GetWindowLongA");
    const auto style = get(user32::toHandle(window->hWnd()), user32::GWL_EXSTYLE);
    QCOMPARE(opacity::applyAlpha(f, window->hWnd(), 77), 0);
    mdlmain::of(*rt).SetWindowAlpha(*window, 77);
    QCOMPARE(get(user32::toHandle(window->hWnd()), user32::GWL_EXSTYLE), style);
    QCOMPARE(alpha(), 77);
}

QTEST_MAIN(TestOpacity)
#include "tst_opacity.moc"
