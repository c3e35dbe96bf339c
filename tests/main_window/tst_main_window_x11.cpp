#include "frmtest.h"
#include "runtime.h"
#include "runtimefixture.h"
#include "x11tools.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <functional>

using namespace forms;

// The main window in a real window under a window manager.
class TestMainWindowX11 : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void outerSizeIsFixed();
    void resizingSnapsBack_data();
    void resizingSnapsBack();
    void minimizeAndRestore();
    void maximizeIsRefused();
    void listsDropBelowTheirField_data();
    void listsDropBelowTheirField();

private:
    QSize outerPixels() { return form->window().frameGeometry().size(); }
    frmtest *form = nullptr;
};

namespace {
// Counts the sizes a window takes other than the one it had when watching began.
struct SizeWatch : QObject
{
    explicit SizeWatch(QWidget &w) : kept(w.size()) { w.installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && static_cast<QResizeEvent *>(event)->size() != kept)
            ++others;
        return false;
    }
    QSize kept;
    int others = 0;
};

// Moves the window as a person drags it, and again should a request of the program's own
// still on its way to the window manager (a snap-back's, say) carry the old position.
bool moveWindow(QWidget &w, const QPoint &to, const std::function<bool()> &moved)
{
    return QTest::qWaitFor([&] {
        x11::xdotool({"windowmove", x11::id(w), QString::number(to.x()), QString::number(to.y())});
        return QTest::qWaitFor(moved, 1000);
    });
}
} // namespace

static const QSize Outer(frmtest::KeptWidth / 15, frmtest::KeptHeight / 15);

void TestMainWindowX11::init()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    startRuntime();
    form = &rt->form<frmtest>();
    form->Show();
    QVERIFY(QTest::qWaitForWindowExposed(&form->window()));
    QTRY_COMPARE(outerPixels(), Outer);
}

void TestMainWindowX11::cleanup()
{
    stopRuntime();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // its windows go now
}

void TestMainWindowX11::outerSizeIsFixed()
{
    QWidget &w = form->window();
    QVERIFY(w.frameGeometry().height() > w.height()); // really framed by the window manager
    // The client area, not the frame, stands at the stored origin (10980, 3300) twips.
    QCOMPARE(w.mapToGlobal(QPoint(0, 0)), QPoint(732, 220));
    QCOMPARE(form->Height(), frmtest::KeptHeight);
    QCOMPARE(form->Width(), frmtest::KeptWidth);
    // The title bar is on the screen, not pushed off it.
    QVERIFY(w.frameGeometry().top() >= 0 && w.frameGeometry().left() >= 0);
    // Qt and the window system agree where the window is (drop-down lists open there).
    const QString info = x11::run("xwininfo", {"-id", x11::id(w)});
    QVERIFY2(info.contains(QStringLiteral("Absolute upper-left X:  %1").arg(w.mapToGlobal(QPoint(0, 0)).x())),
             qPrintable(info));
    QVERIFY(reported.isEmpty());
}

void TestMainWindowX11::resizingSnapsBack_data()
{
    QTest::addColumn<QSize>("request");
    QTest::newRow("larger") << QSize(500, 600);
    QTest::newRow("smaller") << QSize(120, 90);
    QTest::newRow("wider only") << QSize(400, 382);
}

void TestMainWindowX11::resizingSnapsBack()
{
    QFETCH(QSize, request);
    // A resize from outside, as a border drag makes the window manager send: the window
    // takes the other size, then snaps back.
    SizeWatch watch(form->window());
    x11::xdotool(
        {"windowsize", x11::id(form->window()), QString::number(request.width()), QString::number(request.height())});
    QTRY_VERIFY(watch.others > 0);
    QTRY_COMPARE(outerPixels(), Outer);
    QVERIFY(reported.isEmpty());

    // Moving is allowed and keeps the size (no resize loop either).
    const QPoint before = form->window().frameGeometry().topLeft();
    QVERIFY(moveWindow(form->window(), {40, 50}, [&] { return form->window().frameGeometry().topLeft() != before; }));
    QTRY_COMPARE(outerPixels(), Outer);
}

void TestMainWindowX11::minimizeAndRestore()
{
    const QString id = x11::id(form->window());
    x11::xdotool({"windowminimize", "--sync", id});
    QTRY_VERIFY(form->window().isMinimized());
    QTRY_VERIFY(x11::netWmState(id).contains("_NET_WM_STATE_HIDDEN"));
    QVERIFY(form->window().isMinimized()); // the resize handler, run with the change, left it so
    QVERIFY(reported.isEmpty()); // and reports nothing

    x11::xdotool({"windowactivate", "--sync", id});
    QTRY_VERIFY(!form->window().isMinimized());
    QTRY_COMPARE(outerPixels(), Outer);
}

void TestMainWindowX11::maximizeIsRefused()
{
    const QRect before = form->window().frameGeometry();
    form->window().setWindowState(Qt::WindowMaximized);
    QTRY_VERIFY(!form->window().isMaximized());
    QTRY_COMPARE(form->window().frameGeometry(), before); // where and as it was
    // And still there once the window has stopped putting itself back, and the window
    // manager has done what was asked of it before a move asked after.
    QTRY_VERIFY_WITH_TIMEOUT(!form->isSettling(), 5000);
    QCOMPARE(form->window().frameGeometry(), before);
    x11::xdotool({"windowmove", x11::id(form->window()), "40", "50"});
    QTRY_VERIFY(form->window().frameGeometry().topLeft() != before.topLeft());
    QCOMPARE(form->window().frameGeometry().size(), before.size());
    QVERIFY(!form->window().isMaximized());
}

void TestMainWindowX11::listsDropBelowTheirField_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("roomBelow");
    QTest::newRow("20 stamps: 8 rows and a scroll bar") << "Combo1" << 8 << true;
    QTest::newRow("4 albums: all of them") << "Combo4" << 4 << true;
    QTest::newRow("near the screen's bottom: above the field") << "Combo2" << 8 << false;
}

// Clicked, a list opens below its field with up to 8 entries, or above it where the
// screen has no room below, never over the field itself.
void TestMainWindowX11::listsDropBelowTheirField()
{
    QFETCH(QString, list);
    QFETCH(int, rows);
    QFETCH(bool, roomBelow);
    DropDownList &combo = form->control<DropDownList>(list);
    if (!roomBelow) {
        const int bottom = form->window().screen()->availableGeometry().bottom();
        const QPoint to(form->window().x(), bottom - combo.mapTo(&form->window(), QPoint(0, combo.height())).y() - 20);
        QVERIFY(moveWindow(form->window(), to,
                           [&] { return combo.mapToGlobal(QPoint(0, combo.height())).y() > bottom - 100; }));
    }
    x11::clickAt(combo.mapToGlobal(combo.rect().center()));
    QWidget *popup = combo.view()->window();
    QTRY_VERIFY(popup->isVisible());
    const QRect field(combo.mapToGlobal(QPoint(0, 0)), combo.size());
    const QRect drop(popup->mapToGlobal(QPoint(0, 0)), popup->size());
    if (roomBelow)
        QVERIFY2(drop.top() >= field.bottom(),
                 qPrintable(QStringLiteral("list at %1, field ends at %2").arg(drop.top()).arg(field.bottom())));
    else
        QVERIFY2(drop.bottom() <= field.top(),
                 qPrintable(QStringLiteral("list ends at %1, field at %2").arg(drop.bottom()).arg(field.top())));
    QCOMPARE(qRound(double(combo.view()->viewport()->height()) / combo.view()->sizeHintForRow(0)), rows);
    QCOMPARE(combo.view()->verticalScrollBar()->isVisible(), combo.count() > rows);
    combo.hidePopup();
}

QTEST_MAIN(TestMainWindowX11)
#include "tst_main_window_x11.moc"
