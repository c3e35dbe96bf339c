#include "Form2.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewers.h"
#include "pageflashfixture.h"
#include "enginetools.h"
#include "Form1.h"
#include "server.h"
#include "sitemirror.h"
#include "viewertools.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <QWebEnginePage>

using namespace forms;

// Flash movies inside the site's pages play where they stand, each in its own frame, and
// their menus are the program's own. (With the page's scripts: tst_page_scripts_flash_x11.)
class TestPageFlashX11 : public QObject, protected PageFlashFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { engine::release(); }
    void moviePlaysWhereItStands();
    void twoMoviesOneFromAnotherHost();
    void pageWithoutMovieLoadsNoEmulator();
    void moviesInFrames_data();
    void moviesInFrames();
    void pressesInARow_data();
    void pressesInARow();
    void moviesTakeTurnsAtThePlayerHost();
    void pageMenuOffers_data();
    void pageMenuOffers();
    void pageMenuOnRightClick_data();
    void pageMenuOnRightClick();
    void movieMenuIsTheProgramsOwn_data();
    void movieMenuIsTheProgramsOwn();
    void pageViewerPlaysMovies_data();
    void pageViewerPlaysMovies();
};

namespace {

// What the copy's movies play (mirror/make-site.py, flash_colours): the first stamp,
// and the first atlas page's two.
const QColor Stamp1[] = {QColor(242, 176, 48), QColor(15, 62, 153)};
const QColor Atlas1Beside[] = {QColor(48, 67, 242), QColor(153, 140, 15)};
const QColor Atlas1Elsewhere[] = {QColor(123, 242, 48), QColor(100, 15, 153)};

} // namespace

void TestPageFlashX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    QVERIFY(startMirror());
}

void TestPageFlashX11::init()
{
    QVERIFY(showMainFor(mirror->host()));
}

void TestPageFlashX11::cleanup()
{
    const QString errors = stopMain();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void TestPageFlashX11::moviePlaysWhereItStands()
{
    // The first stamp: a GB2312 page, its card an <object>/<embed> pair beside it.
    open(main->Command1(), QStringLiteral("邮票鉴赏 · 爱迪鹅日"));
    QTRY_COMPARE_WITH_TIMEOUT(frames().size(), 1, 10000);
    QCOMPARE(frames()[0].size(), QSize(320, 240)); // as the markup has it
    QVERIFY2(plays(frames()[0], Stamp1[0], Stamp1[1]), "the stamp's movie does not play");
    // The pair, once; both stay, for the page's scripts.
    QCOMPARE(js("document.querySelectorAll('object,embed').length").toInt(), 2);

    // The page is on the internet (127.0.0.1 counts as that here): its own requests into
    // this machine (127.0.0.9) stay blocked while its movie plays.
    int reached = 0;
    http::Server local([&](const http::Request &r, http::Response *s) {
        reached += r.method == "GET";
        s->send(200, "text/plain", "here");
    });
    QVERIFY(local.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    // (The guard's refusal is an answer too: the fetch settles on it.)
    QVERIFY(!settled(QStringLiteral("fetch('http://127.0.0.9:%1/', {mode: 'no-cors'})").arg(local.port())).isEmpty());
    QCOMPARE(reached, 0);
    // And the page gains nothing from the player: no channel, no reading through it.
    QCOMPARE(js("typeof qt + ' ' + typeof QWebChannel").toString(), QStringLiteral("undefined undefined"));
    const int before = mirror->requests();
    const QString frame = js("document.querySelector('iframe').src").toString();
    const QString relay
        = QUrl(frame)
              .resolved(QUrl(QStringLiteral("relay/") + QUrlQuery(QUrl(frame)).queryItemValue("session")
                             + "?kind=load&url=http%3A%2F%2F" + mirror->host() + "%2Fkphtml%2Fgift6.html"))
              .toString();
    QCOMPARE(settled("fetch('" + relay + "').then(function (r) { return r.text(); })"), QStringLiteral("rejected"));
    QCOMPARE(mirror->requests(), before);
}

void TestPageFlashX11::twoMoviesOneFromAnotherHost()
{
    open(main->Command3(), QStringLiteral("图谱鉴赏 · 观赏鱼"));
    QTRY_COMPARE_WITH_TIMEOUT(frames().size(), 2, 10000);
    const QList<QRect> at = frames();
    QVERIFY2(plays(at[0], Atlas1Beside[0], Atlas1Beside[1]), "the movie beside the page does not play");
    QVERIFY2(plays(at[1], Atlas1Elsewhere[0], Atlas1Elsewhere[1]), "the movie on the other host does not play");
    QVERIFY(mirror->paths().contains(QStringLiteral("/kpfolder/flash/atlas1.swf")));
}

void TestPageFlashX11::pageWithoutMovieLoadsNoEmulator()
{
    PlayerHost &host = ViewerServices::of(*rt).host();
    const int served = host.filesServed();
    const int sessions = host.relay().sessionCount();
    open(main->Command4(), QStringLiteral("各级礼包 · 6"));
    QTRY_COMPARE(js("document.readyState").toString(), QStringLiteral("complete")); // the page was searched
    QCOMPARE(host.filesServed(), served);
    // A movie added now is the first the program is asked for: none before it.
    js("document.body.appendChild(Object.assign(document.createElement('embed'),"
       " {src: '/kppostcard/card1.swf', type: 'application/x-shockwave-flash'}))");
    QTRY_COMPARE_WITH_TIMEOUT(frames().size(), 1, 10000);
    QCOMPARE(host.relay().sessionCount(), sessions + 1);
}

void TestPageFlashX11::moviesInFrames_data()
{
    QTest::addColumn<QString>("frameHost");
    QTest::newRow("of the page's own origin") << QString();
    QTest::newRow("of the page's own site") << QStringLiteral("127.0.0.1");
    QTest::newRow("of another site") << QStringLiteral("127.0.0.2");
}

// Movies in the frames of a page play too, also in a frame added later, whatever site
// the frame is of; the page learns nothing of another site's movie.
void TestPageFlashX11::moviesInFrames()
{
    QFETCH(QString, frameHost);
    const QByteArray movie = cardMovie();
    QVERIFY(!movie.isEmpty());
    QString frameBase;
    const auto serve = [&](const http::Request &r, http::Response *s) {
        if (r.path() == "/m.swf")
            return s->send(200, "application/x-shockwave-flash", movie);
        if (r.path() == "/inner.html")
            return s->send(200, "text/html",
                           "<embed src='/m.swf?secret=1' flashvars='secret=2' width='200' height='150'>");
        s->send(200, "text/html",
                "<script>window.heard = [];"
                "addEventListener('message', function (e) { heard.push(JSON.stringify(e.data)); }, true);"
                "</script><iframe src='"
                    + frameBase.toLatin1() + "/inner.html' width='240' height='180'></iframe>");
    };
    http::Server site(serve), other(serve);
    QVERIFY(site.listen());
    QVERIFY(other.listen(QHostAddress(frameHost.isEmpty() ? QStringLiteral("127.0.0.1") : frameHost)));
    if (!frameHost.isEmpty())
        frameBase = QStringLiteral("http://%1:%2").arg(frameHost).arg(other.port());
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    viewers::show(*rt, catalogue::Viewer::Page, QStringLiteral("http://127.0.0.1:%1/page.html").arg(site.port()), {});
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() == 1, 30000);
    js("document.body.appendChild(Object.assign(document.createElement('iframe'), {src: '" + frameBase
       + "/inner.html'}))");
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() == 2, 30000);
    for (const QList<QVariant> &report : std::as_const(reports))
        QCOMPARE(report[1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
    // What the top page heard: nothing of a frame's movie, of any origin.
    QVERIFY2(!js("heard.join(' ')").toString().contains(QLatin1String("secret")),
             qPrintable(js("heard.join(' ')").toString()));
}

void TestPageFlashX11::pressesInARow_data()
{
    // Buttons pressed one after another: 1 stamps, 2 postcards, 3 atlas (two movies,
    // one from the second host), 4 gift levels (no movie), 5 albums.
    QTest::addColumn<QString>("buttons");
    QTest::newRow("the same stamp three times") << "111";
    QTest::newRow("gift page, then each card page") << "4123";
    QTest::newRow("albums between card pages") << "15352";
    QTest::newRow("card, gift, card, album, card") << "34241";
}

// Every press shows its page, and every card page its movies: requested afresh and
// drawn, whatever came before in the same run.
void TestPageFlashX11::pressesInARow()
{
    QFETCH(QString, buttons);
    using namespace viewertools;
    CommandButton *const button[]
        = {nullptr, &main->Command1(), &main->Command2(), &main->Command3(), &main->Command4(), &main->Command5()};
    const QString title[] = {{}, "邮票鉴赏 · 爱迪鹅日", "明信片鉴赏 · 冰港", "图谱鉴赏 · 观赏鱼", "各级礼包 · 6"};
    const QStringList movies[] = {{},
                                  {"/kppostcard/card1.swf"},
                                  {"/kpfolder/flash/postcard1.swf"},
                                  {"/kpfolder/swf/x01.swf", "/kpfolder/flash/atlas1.swf"},
                                  {},
                                  {"/kpfolder/kpphotos/xiaoxiao/kp_message.swf"}};
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    for (int step = 0; step < buttons.size(); ++step) {
        const int b = buttons[step].digitValue();
        const QString where = QStringLiteral("press %1 of %2").arg(step + 1).arg(buttons);
        const QStringList before = mirror->paths();
        painted.clear();
        QTest::mouseClick(button[b], Qt::LeftButton);
        if (b == 5) {
            ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
            QTRY_VERIFY2_WITH_TIMEOUT(painted.size() == 1, qPrintable(where), 30000);
            QCOMPARE(painted[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
            QVERIFY2(drawnOver(QRect(player.mapToGlobal(QPoint(0, 0)), player.size()), Qt::white), qPrintable(where));
        } else {
            WebBrowser &view = rt->form<Form2>().WebBrowser1();
            QTRY_COMPARE_WITH_TIMEOUT(view.title(), title[b], 20000);
            QTRY_VERIFY2_WITH_TIMEOUT(playerFrames(view).size() == movies[b].size(), qPrintable(where), 10000);
            if (movies[b].isEmpty())
                continue;
            QTRY_VERIFY2_WITH_TIMEOUT(painted.size() == movies[b].size(), qPrintable(where), 30000);
            for (const QVariantList &report : std::as_const(painted))
                QCOMPARE(report[1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
            const QColor background = pageBackground(view);
            for (const QRect &frame : playerFrames(view))
                QVERIFY2(drawnOver(frame, background), qPrintable(where));
        }
        const QStringList asked = mirror->paths().mid(before.size());
        for (const QString &movie : movies[b])
            QVERIFY2(asked.contains(movie), qPrintable(where + ": " + movie + " was not asked for"));
    }
}

// Two movies of a page each ask a site that never answers for eight loads at once; a
// third movie, added a moment later, still plays at once: all movies' loads together
// hold at most four of the engine's six connections to the player host.
void TestPageFlashX11::moviesTakeTurnsAtThePlayerHost()
{
    QFile hoarder(QFINDTESTDATA("../player/probe/movies/hoarder.swf"));
    QVERIFY(hoarder.open(QIODevice::ReadOnly));
    const QByteArray hoarding = hoarder.readAll(), card = cardMovie();
    QList<QPointer<http::Response>> held;
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path() == "/page.html")
            return s->send(200, "text/html",
                           "<!DOCTYPE html><title>hoard</title>"
                           "<embed src='hoarder.swf' width=80 height=60 type='application/x-shockwave-flash'>"
                           "<embed src='hoarder.swf?2' width=80 height=60 type='application/x-shockwave-flash'>"
                           "<script>setTimeout(function () { document.body.insertAdjacentHTML('beforeend',"
                           " \"<embed src='card.swf' width=180 height=135 type='application/x-shockwave-flash'>\");"
                           " }, 3000);</script>");
        if (r.path() == "/hoarder.swf")
            return s->send(200, "application/x-shockwave-flash", hoarding);
        if (r.path() == "/card.swf")
            return s->send(200, "application/x-shockwave-flash", card);
        if (r.path() == "/slow.txt")
            return held << s, void();
        s->send(404, "text/plain", "no");
    });
    QVERIFY(site.listen());
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    viewers::show(*rt, catalogue::Viewer::Page, QStringLiteral("http://127.0.0.1:%1/page.html").arg(site.port()), {});
    QTRY_COMPARE_WITH_TIMEOUT(held.size(), 4, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 3, 20000); // well before the relay gives up on them
    for (const QList<QVariant> &report : std::as_const(reports))
        QCOMPARE(report[1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
    QCOMPARE(held.size(), 4);
}

void TestPageFlashX11::pageMenuOffers_data()
{
    using Page = QWebEnginePage;
    using Request = QWebEngineContextMenuRequest;
    QTest::addColumn<bool>("editable");
    QTest::addColumn<Request::EditFlags>("edit");
    QTest::addColumn<QList<Page::WebAction>>("offered");
    const auto all = Request::EditFlags(Request::CanUndo | Request::CanRedo | Request::CanCut | Request::CanCopy
                                        | Request::CanPaste | Request::CanDelete | Request::CanSelectAll);
    QTest::newRow("page") << false << Request::EditFlags(Request::CanSelectAll)
                          << QList{Page::Back, Page::Forward, Page::Reload, Page::NoWebAction, Page::SelectAll};
    // A page cannot be cut or pasted into, whatever the engine says it can do.
    QTest::newRow("page, text selected") << false << all << QList{Page::Back,        Page::Forward, Page::Reload,
                                                                  Page::NoWebAction, Page::Copy,    Page::SelectAll};
    QTest::newRow("empty field") << true << Request::EditFlags(Request::CanPaste | Request::CanSelectAll)
                                 << QList{Page::Paste, Page::SelectAll};
    QTest::newRow("field, text selected") << true << all << QList{Page::Cut, Page::Copy, Page::Paste, Page::SelectAll};
}

void TestPageFlashX11::pageMenuOffers()
{
    QFETCH(bool, editable);
    QFETCH(QWebEngineContextMenuRequest::EditFlags, edit);
    QFETCH(QList<QWebEnginePage::WebAction>, offered);
    QCOMPARE(WebBrowser::menuActions(editable, edit), offered);
}

void TestPageFlashX11::pageMenuOnRightClick_data()
{
    // What to select in the gift page, returning where to click; what the menu then has.
    using Page = QWebEnginePage;
    QTest::addColumn<QString>("select");
    QTest::addColumn<QList<Page::WebAction>>("offered");
    QTest::newRow("text in the page") << "getSelection().selectAllChildren(document.body);"
                                         " const r = document.body.getBoundingClientRect(); [r.x + 20, r.y + 20]"
                                      << QList{Page::Back, Page::Forward, Page::Reload, Page::Copy, Page::SelectAll};
    QTest::newRow("text in a field")
        << "const f = document.createElement('input'); f.value = 'abc';"
           " f.style = 'position: fixed; left: 10px; top: 10px; width: 200px; height: 30px; z-index: 9';"
           " document.body.append(f); f.focus(); f.select(); [30, 25]"
        << QList{Page::Cut, Page::Copy, Page::Paste, Page::SelectAll};
}

// A real right click in a page: the menu holds the page's own actions, those and no more.
void TestPageFlashX11::pageMenuOnRightClick()
{
    QFETCH(QString, select);
    QFETCH(QList<QWebEnginePage::WebAction>, offered);
    WebBrowser &view = open(main->Command4(), QStringLiteral("各级礼包 · 6"));
    const QVariantList at = viewertools::js(view.page(), select).toList();
    QCOMPARE(at.size(), 2);
    viewertools::rightClickAt(view.mapToGlobal(QPoint(at[0].toInt(), at[1].toInt())));
    QMenu *menu = nullptr;
    QVERIFY(QTest::qWaitFor([&] { return menu = qobject_cast<QMenu *>(QApplication::activePopupWidget()); }, 10000));
    QList<QAction *> expected;
    for (QWebEnginePage::WebAction a : offered)
        expected << view.page()->action(a);
    QList<QAction *> shown = menu->actions();
    shown.removeIf([](QAction *a) { return a->isSeparator(); });
    menu->close();
    QCOMPARE(shown, expected);
}

// The movie's menu is the program's own, at the pointer and whole however small the movie:
// the movie's entry first, none of the emulator's debugging; Escape closes it and the
// movie goes on; the keyboard opens it too, and what is chosen reaches the movie.
void TestPageFlashX11::movieMenuIsTheProgramsOwn_data()
{
    QTest::addColumn<bool>("album");
    QTest::addColumn<QString>("menuParam");
    QTest::newRow("album") << true << QString();
    QTest::newRow("card in a page") << false << QString();
    QTest::newRow("card, menu=false") << false << QStringLiteral("false");
}

void TestPageFlashX11::movieMenuIsTheProgramsOwn()
{
    QFETCH(bool, album);
    QFETCH(QString, menuParam);
    QFile movieFile(QFINDTESTDATA("../player/probe/movies/menu.swf"));
    QVERIFY(movieFile.open(QIODevice::ReadOnly));
    const QByteArray movie = movieFile.readAll();
    int picked = 0;
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path() == "/menu.swf")
            return s->send(200, "application/x-shockwave-flash", movie);
        if (r.path() == "/picked.txt")
            return ++picked, s->send(200, "text/plain", "ok=1");
        s->send(200, "text/html",
                "<body style='margin:0'><embed src='/menu.swf' width='180' height='135' menu='" + menuParam.toLatin1()
                    + "'></body>");
    });
    QVERIFY(site.listen());
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(site.port());
    viewers::show(*rt, album ? catalogue::Viewer::Album : catalogue::Viewer::Page,
                  base + (album ? "menu.swf" : "page.html"), {});
    QWidget &view = album ? static_cast<QWidget &>(rt->form<Form1>().ShockwaveFlash1())
                          : static_cast<QWidget &>(rt->form<Form2>().WebBrowser1());
    QTRY_COMPARE_WITH_TIMEOUT(painted.size(), 1, 30000);
    const QRect movieArea = album ? QRect(view.mapToGlobal(QPoint(0, 0)), view.size()) : frames().value(0);
    QVERIFY(!movieArea.isEmpty());
    const auto openMenu = [](int ms = 10000) {
        QMenu *menu = nullptr;
        (void)QTest::qWaitFor([&] { return menu = qobject_cast<QMenu *>(QApplication::activePopupWidget()); }, ms);
        return menu;
    };

    QVERIFY2(plays(movieArea, QColor(90, 90, 90), QColor(255, 0, 255)), "the movie does not play");
    // (A busy machine may route the first click before it knows the frame is there.)
    QMenu *menu = nullptr;
    for (int tries = 0; !menu && tries < 3; ++tries) {
        viewertools::rightClickAt(movieArea.center());
        menu = openMenu(tries < 2 ? 3000 : 10000);
    }
    QVERIFY(menu);
    QStringList entries;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            entries << a->text();
    QCOMPARE(entries.value(0), QStringLiteral("翻页"));
    // The page's menu=false leaves the movie's own alone.
    QVERIFY2(entries.contains(QStringLiteral("播放")) == menuParam.isEmpty(), qPrintable(entries.join(", ")));
    QVERIFY2(entries.filter(QRegularExpression(QStringLiteral("调试|Ruffle|关于|全屏|音量"))).isEmpty(),
             qPrintable(entries.join(", ")));
    QVERIFY(menu->geometry().adjusted(-2, -2, 2, 2).contains(movieArea.center())); // at the pointer, whole
    QTest::keyClick(menu, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QVERIFY2(plays(movieArea, QColor(90, 90, 90), QColor(255, 0, 255)), "the movie stands still after its menu");
    QCOMPARE(picked, 0);

    // By the keyboard, on the movie a click gave the focus: Shift+F10, and its entry.
    x11::clickAt(movieArea.center());
    QTRY_VERIFY(viewertools::js(static_cast<QWebEngineView &>(view).page(),
                                album ? "document.activeElement.id === 'ruffle'"
                                      : "document.activeElement.localName === 'iframe'")
                    .toBool());
    x11::xdotool({QStringLiteral("key"), QStringLiteral("shift+F10")});
    QVERIFY(menu = openMenu());
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(picked, 1, 10000);
    QVERIFY(!QApplication::activePopupWidget());
}

void TestPageFlashX11::pageViewerPlaysMovies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("clicked"); // a link in a page, or the link field
    QTest::newRow("link field, gift level missed") << "/kpfolder/flash/postcard1.swf" << false;
    QTest::newRow("upper case and a query") << "/Movie.SWF?from=field" << false;
    QTest::newRow("served as Flash, no .swf") << "/play?id=1" << false;
    QTest::newRow("a link in a page") << "/links.html#swf" << true;
    QTest::newRow("a link to one served as Flash") << "/links.html#typed" << true;
}

// The page viewer plays a Flash movie's address as the album viewer does, where a
// browser with the plug-in played it: from the link field or from a page's link.
void TestPageFlashX11::pageViewerPlaysMovies()
{
    QFETCH(QString, path);
    QFETCH(bool, clicked);
    const QByteArray movie = cardMovie();
    QVERIFY(!movie.isEmpty());
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path() == "/links.html") // one link over the whole page
            return s->send(200, "text/html",
                           "<body style='margin:0'><a href='/Movie.SWF' id=swf style='display:block;"
                           "height:100vh'>movie</a><a href='/play?id=2' id=typed "
                           "style='display:block;height:100vh'>typed</a>");
        const bool typed = r.path() == "/play";
        if (typed || r.path().toLower() == "/movie.swf" || r.path().endsWith(".swf"))
            return s->send(200, typed ? "application/x-shockwave-flash" : "application/octet-stream", movie);
        s->send(404, "text/plain", "no");
    });
    QVERIFY(site.listen());
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    const QString link = QStringLiteral("http://%1:%2%3").arg(site.address().toString()).arg(site.port()).arg(path);
    main->Text1().SetText(link);
    main->Text2().SetText(QStringLiteral("7")); // no such level: the link field's text goes
    QTest::mouseClick(&main->Command4(), Qt::LeftButton);
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    if (clicked) {
        QTRY_VERIFY_WITH_TIMEOUT(view.url().path() == "/links.html" && !view.title().isEmpty(), 20000);
        const QString anchor = QUrl(path).fragment();
        viewertools::js(view.page(), "location.hash = '" + anchor + "'");
        QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(view.width() / 2, view.height() / 2));
    }
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() == 1, 30000);
    QCOMPARE(reports[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
    QVERIFY(view.url().path().endsWith("/player.html"));
    QVERIFY(viewertools::drawnOver(QRect(view.mapToGlobal(QPoint(0, 0)), view.size()), Qt::white));
}

QTEST_MAIN(TestPageFlashX11)
#include "tst_page_flash_x11.moc"
