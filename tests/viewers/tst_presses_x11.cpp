#include "Form1.h"
#include "Form2.h"
#include "enginefixture.h"
#include "runtime.h"
#include "server.h"
#include "sitemirror.h"
#include "viewers.h"
#include "x11tools.h"

#include <QApplication>
#include <QGuiApplication>
#include <qguiapplication_platform.h>
#include <QKeyEvent>
#include <QPointer>
#include <QTest>

#include <xcb/xcb.h>

using namespace forms;

// What presses do to the viewer windows, in real windows, against the local site
// mirror: a fresh viewer per press, one viewer at a time, closing, standing above the
// main window where the design puts it, title bars, the keyboard, and what the commands
// do when a step fails.
class TestPressesX11 : public QObject, protected EngineFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void pressingTwiceOpensAFreshViewer();
    void switchingViewersKeepsOneOpen();
    void closingWithButtonAndCloseBox();
    void viewerStaysAboveMainWindow();
    void titleBars_data();
    void titleBars();
    void viewerStandsWhereDesigned();
    void keyboard_data();
    void keyboard();
    void heldKeyPressesNothingInNewViewer();
    void focusGoesRoundThePage();
    void ctrlTabLeavesThePlayer();
    void repeatReadLate_data();
    void repeatReadLate();
    void stepwiseRecoveryInStampCommand();
    void otherCommandsStopAtFirstFailure();

private:
    void press(CommandButton &button) { QTest::mouseClick(&button, Qt::LeftButton); }
    void newRuntime() { startEngineRuntime(mirror->host()); }

    std::unique_ptr<SiteMirror> mirror;
};

namespace {

// Failing on purpose, to see what the commands do when a step fails.
class FailingUnloadForm1 : public Form1
{
public:
    using Form1::Form1;

protected:
    void Form_Unload(std::int16_t &) override { raise(err::ObjectRequired, QStringLiteral("unload fails")); }
};

class FailingShowForm2 : public Form2
{
public:
    using Form2::Form2;

protected:
    void Form_Load() override { raise(err::ObjectRequired, QStringLiteral("load fails")); }
};

} // namespace

namespace {

// Keys as a person types them: into whatever window has the keyboard.
void type(const QString &key)
{
    x11::xdotool({"key", "--clearmodifiers", key});
}

QString activeWindow()
{
    return x11::xdotool({"getactivewindow"}).trimmed();
}

// Brings w to the front with the keyboard: keys the window system sends go to it. (The
// window manager names it active a moment before the server's input focus follows.)
bool activate(QWidget &w)
{
    const QString id = x11::id(w);
    x11::xdotool({"windowactivate", "--sync", id});
    return QTest::qWaitFor([&] { return w.isActiveWindow() && x11::xdotool({"getwindowfocus"}).trimmed() == id; },
                           10000);
}

// A key event as the X server makes it, at a time of the test's choosing, sent to a
// window of this program.
void sendKey(QWidget &w, bool press, quint32 keycode, quint32 time)
{
    auto *x = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x->connection();
    xcb_key_press_event_t e{};
    e.response_type = press ? XCB_KEY_PRESS : XCB_KEY_RELEASE;
    e.detail = xcb_keycode_t(keycode);
    e.time = time;
    e.root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    e.event = xcb_window_t(x11::id(w).toULong());
    e.same_screen = 1;
    xcb_send_event(c, false, e.event, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&e));
    xcb_flush(c);
}

// The last Enter event the program read: its key code, kind and window-system time.
struct LastEnter : QObject
{
    quint32 code = 0, time = 0;
    QEvent::Type type = QEvent::None;
    LastEnter() { qApp->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
            const auto *k = static_cast<QKeyEvent *>(e);
            if (k->key() == Qt::Key_Return) {
                code = k->nativeScanCode();
                time = quint32(k->timestamp());
                type = e->type();
            }
        }
        return false;
    }
};

} // namespace

void TestPressesX11::init()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    mirror = std::make_unique<SiteMirror>(SiteMirror::defaultRoot());
    QVERIFY(mirror->listen());
    QVERIFY(showMainFor(mirror->host()));
}

void TestPressesX11::cleanup()
{
    stopRuntime();
    mirror.reset();
}

void TestPressesX11::cleanupTestCase()
{
    engine::release();
}

void TestPressesX11::pressingTwiceOpensAFreshViewer()
{
    press(main->Command2());
    Form2 &viewer = rt->form<Form2>();
    QPointer<QWidget> first = &viewer.window();
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("明信片鉴赏 · 冰港"), 20000);
    press(main->Command2());
    QVERIFY(viewer.isLoaded());
    QVERIFY(&viewer.window() != first.data());
    QVERIFY(first.isNull() || !first->isVisible());
    QTRY_VERIFY(first.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("明信片鉴赏 · 冰港"), 20000);
    QCOMPARE(rt->Forms().size(), size_t(2));
    // Any caller of the viewers' door gets a fresh viewer for its own link.
    const QPointer<QWidget> second = &viewer.window();
    viewers::show(*rt, catalogue::Viewer::Page, QString(main->Text1().Text()).replace("card1", "card2"), {});
    QVERIFY(&viewer.window() != second.data());
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("明信片鉴赏 · 丛林"), 20000);
}

void TestPressesX11::switchingViewersKeepsOneOpen()
{
    press(main->Command2());
    QVERIFY(rt->form<Form2>().isLoaded());
    press(main->Command5());
    QVERIFY(rt->form<Form1>().isLoaded());
    QVERIFY(!rt->form<Form2>().isLoaded());
    press(main->Command1());
    QVERIFY(!rt->form<Form1>().isLoaded());
    QVERIFY(rt->form<Form2>().isLoaded());
    QCOMPARE(rt->Forms().size(), size_t(2));
    QVERIFY(reported.isEmpty());
}

void TestPressesX11::closingWithButtonAndCloseBox()
{
    press(main->Command3());
    QVERIFY(rt->form<Form2>().isLoaded());
    press(rt->form<Form2>().Command1());
    QVERIFY(!rt->form<Form2>().isLoaded());
    QVERIFY(main->isLoaded());

    press(main->Command5());
    Form1 &album = rt->form<Form1>();
    QVERIFY(QTest::qWaitForWindowExposed(&album.window()));
    // The caption's close box, clicked where the window manager draws it.
    const QRect frame = album.window().frameGeometry();
    const int caption = album.window().geometry().top() - frame.top();
    x11::clickAt(QPoint(frame.right() - caption / 2, frame.top() + caption / 2));
    QTRY_VERIFY_WITH_TIMEOUT(!album.isLoaded(), 10000);
    QVERIFY(main->isLoaded());

    // A fresh press after the user closed the viewer works as usual.
    press(main->Command5());
    QVERIFY(rt->form<Form1>().isLoaded());
}

void TestPressesX11::viewerStaysAboveMainWindow()
{
    press(main->Command2());
    Form2 &viewer = rt->form<Form2>();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer.window()));
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("明信片鉴赏 · 冰港"), 20000);
    const QString viewerId = x11::id(viewer.window());
    QTRY_VERIFY2(x11::netWmState(viewerId).contains("_NET_WM_STATE_ABOVE"),
                 qPrintable(x11::netWmState(viewerId).join(' ') + " id " + viewerId));
    // A utility window: no taskbar entry.
    QVERIFY(x11::property(viewerId, "_NET_WM_WINDOW_TYPE").contains("_NET_WM_WINDOW_TYPE_UTILITY"));
    x11::xdotool({"windowactivate", x11::id(main->window())});
    QTRY_VERIFY(main->window().isActiveWindow()); // the window manager raised what it activates by then
    const QString stacking = x11::run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    const QString mainHex = QStringLiteral("0x%1").arg(x11::id(main->window()).toULongLong(), 0, 16);
    const QString viewerHex = QStringLiteral("0x%1").arg(viewerId.toULongLong(), 0, 16);
    QVERIFY2(stacking.indexOf(viewerHex) > stacking.indexOf(mainHex), qPrintable(stacking));
}

void TestPressesX11::titleBars_data()
{
    QTest::addColumn<int>("button"); // the one that opens the window; 0: the main window
    QTest::addColumn<bool>("tool"); // a caption and a close box alone, no taskbar entry
    QTest::newRow("main window") << 0 << false;
    QTest::newRow("page viewer") << 2 << true;
    QTest::newRow("album viewer") << 5 << true;
}

// What the window manager offers and is told to draw on the window really shown, once
// it has framed it.
void TestPressesX11::titleBars()
{
    QFETCH(int, button);
    QFETCH(bool, tool);
    QWidget *window = &main->window();
    if (button) {
        press(button == 2 ? main->Command2() : main->Command5());
        window = button == 2 ? &rt->form<Form2>().window() : &rt->form<Form1>().window();
    }
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QString id = x11::id(*window);
    QString actions;
    QTRY_VERIFY((actions = x11::property(id, "_NET_WM_ALLOWED_ACTIONS")).contains("_NET_WM_ACTION_CLOSE"));
    QVERIFY2(!actions.contains("MAXIMIZE"), qPrintable(actions));
    QVERIFY2(actions.contains("_NET_WM_ACTION_MINIMIZE") == !tool, qPrintable(actions));
    QVERIFY2(!tool || !actions.contains("_NET_WM_ACTION_RESIZE"), qPrintable(actions));
    // The Motif decorations (flags, functions, decorations, ...), which other window
    // managers draw by: no resize handle on either, the window menu and minimize box on
    // the main window only.
    const QString motif = x11::property(id, "_MOTIF_WM_HINTS");
    const auto hints = QRegularExpression("= 0x(\\w+), 0x\\w+, 0x(\\w+)").match(motif);
    QVERIFY2(hints.hasMatch() && (hints.captured(1).toUInt(nullptr, 16) & 2), qPrintable(motif));
    enum : uint { ResizeHandle = 4, Title = 8, Menu = 16, Minimize = 32, Maximize = 64 };
    QCOMPARE(hints.captured(2).toUInt(nullptr, 16) & (ResizeHandle | Title | Menu | Minimize | Maximize),
             tool ? uint(Title) : uint(Title | Menu | Minimize));
    QCOMPARE(x11::netWmState(id).contains("_NET_WM_STATE_SKIP_TASKBAR"), tool);
}

void TestPressesX11::viewerStandsWhereDesigned()
{
    press(main->Command2());
    QWidget &page = rt->form<Form2>().window();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTRY_COMPARE(page.mapToGlobal(QPoint(0, 0)), QPoint(141, 161)); // client origin (2115, 2415) twips
    // No minimize button: a minimize asked of the window manager changes nothing. The
    // move asked after it comes through after it, and the window is still there then.
    x11::xdotool({"windowminimize", x11::id(page), "windowmove", x11::id(page), "60", "70"});
    QTRY_VERIFY(page.geometry().topLeft() == QPoint(60, 70) || page.frameGeometry().topLeft() == QPoint(60, 70));
    QVERIFY(!page.isMinimized() && page.isVisible());

    press(main->Command5());
    QWidget &album = rt->form<Form1>().window();
    QVERIFY(QTest::qWaitForWindowExposed(&album));
    QTRY_COMPARE(album.mapToGlobal(QPoint(0, 0)), QPoint(166, 186)); // (2490, 2790) twips
}

void TestPressesX11::keyboard_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("button");
    QTest::newRow("Enter on the postcard button") << "Return" << 2;
    QTest::newRow("keypad Enter on the gift button") << "KP_Enter" << 4;
    QTest::newRow("Space on the album button") << "space" << 5;
    QTest::newRow("Enter on the album button") << "Return" << 5;
}

// Enter, keypad Enter and Space press the focused button; the viewer it opens takes
// the keyboard, at the first control of its tab order, and keys then go to it.
void TestPressesX11::keyboard()
{
    QFETCH(QString, key);
    QFETCH(int, button);
    CommandButton *buttons[]
        = {nullptr, &main->Command1(), &main->Command2(), &main->Command3(), &main->Command4(), &main->Command5()};
    QVERIFY(activate(main->window()));
    buttons[button]->setFocus();
    // Enter in the level field presses nothing: no button is the window's default.
    main->Text2().setFocus();
    type("Return");
    buttons[button]->setFocus();
    type(key);
    ViewerForm &viewer = button == 5 ? static_cast<ViewerForm &>(rt->form<Form1>()) : rt->form<Form2>();
    QTRY_VERIFY(viewer.isLoaded());
    QCOMPARE(rt->Forms().size(), size_t(2)); // the field's Enter opened nothing before it
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), x11::id(viewer.window()), 10000);
    QTRY_VERIFY(viewer.window().isActiveWindow());
    QWidget *first = button == 5 ? static_cast<QWidget *>(&rt->form<Form1>().ShockwaveFlash1()) : &viewer.Command1();
    QTRY_VERIFY2(QApplication::focusWidget() == first || first->isAncestorOf(QApplication::focusWidget()),
                 QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none");
    // The same key again goes to the viewer: the page viewer's close button takes it.
    if (button != 5) {
        type(key);
        QTRY_VERIFY(!viewer.isLoaded());
        QVERIFY(main->isLoaded());
    }
    QVERIFY(reported.isEmpty());
}

// Enter held down on a button opens its viewer once; the repeats that follow reach the
// new viewer's close button, which takes none of them.
void TestPressesX11::heldKeyPressesNothingInNewViewer()
{
    QVERIFY(activate(main->window()));
    main->Command2().setFocus();
    int repeats = 0;
    struct Counter : QObject
    {
        int *n;
        explicit Counter(int *count) : n(count) { }
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(e)->isAutoRepeat())
                ++*n;
            return false;
        }
    } counter(&repeats);
    qApp->installEventFilter(&counter);
    x11::xdotool({"keydown", "Return"});
    Form2 &viewer = rt->form<Form2>();
    QTRY_VERIFY(viewer.isLoaded());
    QTRY_VERIFY(viewer.Command1().hasFocus());
    const int before = repeats;
    QTRY_VERIFY_WITH_TIMEOUT(repeats >= before + 5, 10000); // the key repeats into the viewer
    x11::xdotool({"keyup", "Return"});
    qApp->removeEventFilter(&counter);
    QVERIFY(viewer.isLoaded());
    QCOMPARE(rt->Forms().size(), size_t(2));
}

// In the page viewer Tab and Shift+Tab go round 关闭 and the page's links, both ways,
// and Ctrl+Tab leaves the page from anywhere in it; a 关闭 that has the keyboard shows
// its focus mark, from the viewer's opening on.
void TestPressesX11::focusGoesRoundThePage()
{
    http::Server site([](const http::Request &, http::Response *s) {
        s->send(200, "text/html; charset=utf-8",
                "<!DOCTYPE html><title>links</title><a href='#1' id='one'>one</a> <a href='#2' id='two'>two</a>");
    });
    QVERIFY(site.listen());
    viewers::show(*rt, catalogue::Viewer::Page, QStringLiteral("http://127.0.0.1:%1/").arg(site.port()), {});
    Form2 &viewer = rt->form<Form2>();
    WebBrowser &view = viewer.WebBrowser1();
    CommandButton &close = viewer.Command1();
    QTRY_COMPARE_WITH_TIMEOUT(view.title(), QStringLiteral("links"), 20000);
    QVERIFY(activate(viewer.window()));
    QTRY_VERIFY(close.hasFocus());
    const QImage marked = close.grab().toImage();
    viewer.window().setAttribute(Qt::WA_KeyboardFocusChange, false);
    QVERIFY(close.grab().toImage() != marked);
    const auto inPage = [&] {
        return view.isAncestorOf(QApplication::focusWidget())
                   ? js(view.page(), "document.hasFocus() ? document.activeElement.id : ''").toString()
                   : QString();
    };
    const struct
    {
        const char *key;
        QString then; // the link that has the focus; empty: 关闭
    } ring[] = {{"Tab", "one"},    {"Tab", "two"}, {"Tab", {}},      {"shift+Tab", "two"}, {"shift+Tab", "one"},
                {"shift+Tab", {}}, {"Tab", "one"}, {"ctrl+Tab", {}}, {"shift+Tab", "two"}, {"ctrl+shift+Tab", {}}};
    for (const auto &step : ring) {
        type(QString::fromLatin1(step.key));
        if (step.then.isEmpty())
            QTRY_VERIFY2(close.hasFocus(), step.key);
        else
            QTRY_COMPARE(inPage(), step.then);
    }
    QVERIFY(viewer.window().testAttribute(Qt::WA_KeyboardFocusChange));
    QCOMPARE(close.grab().toImage(), marked);
}

// The album's player may keep Tab for the movie; Ctrl+Tab always leaves it for 关闭.
void TestPressesX11::ctrlTabLeavesThePlayer()
{
    press(main->Command5());
    Form1 &viewer = rt->form<Form1>();
    QVERIFY(activate(viewer.window()));
    ShockwaveFlash &player = viewer.ShockwaveFlash1();
    QTRY_VERIFY(player.isAncestorOf(QApplication::focusWidget()));
    type("ctrl+Tab");
    QTRY_VERIFY(viewer.Command1().hasFocus());
    type("shift+Tab");
    QTRY_VERIFY(player.isAncestorOf(QApplication::focusWidget()));
    type("ctrl+shift+Tab");
    QTRY_VERIFY(viewer.Command1().hasFocus());
}

void TestPressesX11::repeatReadLate_data()
{
    QTest::addColumn<quint32>("gap"); // from the release's time to the press's
    QTest::addColumn<bool>("pressed");
    QTest::newRow("a repeat") << 0u << false;
    QTest::newRow("a new press") << 50u << true;
}

// On a busy machine the press of a repeat's release-and-press pair may reach the program
// only after it has read the release, and Qt then takes it for a new press. Here each
// event is sent only once the one before it was read: a repeat must still press nothing.
void TestPressesX11::repeatReadLate()
{
    QFETCH(quint32, gap);
    QFETCH(bool, pressed);
    QVERIFY(activate(main->window()));
    main->Command2().setFocus();
    LastEnter last;
    type("Return");
    Form2 &viewer = rt->form<Form2>();
    QTRY_VERIFY(viewer.isLoaded());
    QTRY_VERIFY(viewer.Command1().hasFocus());
    QTRY_COMPARE(last.type, QEvent::KeyRelease);
    const quint32 time = last.time + 1000;
    sendKey(viewer.window(), false, last.code, time);
    QTRY_VERIFY(last.type == QEvent::KeyRelease && last.time == time);
    sendKey(viewer.window(), true, last.code, time + gap);
    QTRY_VERIFY(last.type == QEvent::KeyPress && last.time == time + gap);
    QCOMPARE(!viewer.isLoaded(), pressed);
    QCOMPARE(rt->Forms().size(), size_t(pressed ? 1 : 2));
}

void TestPressesX11::stepwiseRecoveryInStampCommand()
{
    stopRuntime();
    newRuntime();
    rt->install<Form1>(std::make_unique<FailingUnloadForm1>(*rt));
    main->Show();
    rt->form<Form1>().Load(); // loaded, and it will refuse to unload
    press(main->Command1());
    // The failed unload is skipped without a report; Form2 is still shown.
    QVERIFY(reported.isEmpty());
    QVERIFY(rt->form<Form2>().isLoaded());
    QVERIFY(rt->form<Form2>().window().isVisible());

    stopRuntime();
    newRuntime();
    rt->install<Form2>(std::make_unique<FailingShowForm2>(*rt));
    main->Show();
    press(main->Command1()); // a failing show ends the handler quietly
    QVERIFY(reported.isEmpty());
    QVERIFY(main->Text1().Text().endsWith(QStringLiteral("/kppostcard/card1.html")));
}

void TestPressesX11::otherCommandsStopAtFirstFailure()
{
    stopRuntime();
    newRuntime();
    rt->install<Form1>(std::make_unique<FailingUnloadForm1>(*rt));
    main->Show();
    rt->form<Form1>().Load();
    press(main->Command2());
    QCOMPARE(reported.size(), 1); // handed to the default error handling
    QCOMPARE(reported[0].number(), err::ObjectRequired);
    QVERIFY(main->Text1().Text().endsWith(QStringLiteral("/kptemp/card1.html"))); // resolution ran
    QVERIFY(!rt->form<Form2>().isLoaded()); // the show did not
    QVERIFY(main->isLoaded());
}

QTEST_MAIN(TestPressesX11)
#include "tst_presses_x11.moc"
