#include "Form2.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewers.h"
#include "enginefixture.h"
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
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <QWebEnginePage>

using namespace forms;

// Flash movies inside the site's pages, in real windows, against the local site copy on
// two hosts; the copy counts as a public address to the browser engine, as the real
// site is.
class TestPageFlashX11 : public QObject, protected EngineFixture
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
    void pageThatAsksFirst();
    void pageAnswersThePlayerFirst();
    void moviesTakeTurnsAtThePlayerHost();
    void pageMenuOffers_data();
    void pageMenuOffers();
    void pageMenuOnRightClick_data();
    void pageMenuOnRightClick();
    void movieMenuIsTheProgramsOwn_data();
    void movieMenuIsTheProgramsOwn();
    void pageCannotTakeThePlayersSession();
    void externalInterface_data();
    void externalInterface();
    void pageViewerPlaysMovies_data();
    void pageViewerPlaysMovies();

private:
    WebBrowser &open(CommandButton &button, const QString &title);
    QVariant js(const QString &script);
    QString settled(const QString &promise);
    QList<QRect> frames();
    bool plays(const QRect &frame, QColor first, QColor second);

    std::unique_ptr<SiteMirror> mirror;
};

namespace {

// What the copy's movies play (mirror/make-site.py, flash_colours): the first stamp,
// and the first atlas page's two.
const QColor Stamp1[] = {QColor(242, 176, 48), QColor(15, 62, 153)};
const QColor Atlas1Beside[] = {QColor(48, 67, 242), QColor(153, 140, 15)};
const QColor Atlas1Elsewhere[] = {QColor(123, 242, 48), QColor(100, 15, 153)};

// The copy's first postcard, for pages served by a test's own site.
QByteArray cardMovie()
{
    QFile card(SiteMirror::defaultRoot() + QStringLiteral("/kpfolder/flash/postcard1.swf"));
    return card.open(QIODevice::ReadOnly) ? card.readAll() : QByteArray();
}

} // namespace

void TestPageFlashX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    mirror = std::make_unique<SiteMirror>(SiteMirror::defaultRoot());
    QVERIFY(mirror->listen());
    QVERIFY(mirror->listenSecond());
}

void TestPageFlashX11::init()
{
    QVERIFY(showMainFor(mirror->host()));
}

void TestPageFlashX11::cleanup()
{
    const QString errors = reportedText();
    stopRuntime();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

WebBrowser &TestPageFlashX11::open(CommandButton &button, const QString &title)
{
    QTest::mouseClick(&button, Qt::LeftButton);
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(view.title(), title, 20000); }();
    return view;
}

QVariant TestPageFlashX11::js(const QString &script)
{
    return viewertools::js(rt->form<Form2>().WebBrowser1().page(), script);
}

// What a promise the page's script makes settles to.
QString TestPageFlashX11::settled(const QString &promise)
{
    js("window.settled = undefined; (" + promise + ").then(function (v) { window.settled = String(v); },"
       " function () { window.settled = 'rejected'; })");
    QString value;
    (void)QTest::qWaitFor([&] {
        value = js("window.settled === undefined ? '' : window.settled").toString();
        return !value.isEmpty();
    }, 10000);
    return value;
}

// Where the page's player frames are, on the screen.
QList<QRect> TestPageFlashX11::frames()
{
    return viewertools::playerFrames(rt->form<Form2>().WebBrowser1());
}

// Both of the movie's frames come, in the middle of where it stands.
bool TestPageFlashX11::plays(const QRect &frame, QColor first, QColor second)
{
    bool sawFirst = false, sawSecond = false;
    return QTest::qWaitFor([&] {
        const QColor c = viewertools::grab(QRect(frame.center(), QSize(1, 1))).pixelColor(0, 0);
        sawFirst = sawFirst || viewertools::near(c, first, 14);
        sawSecond = sawSecond || viewertools::near(c, second, 14);
        return sawFirst && sawSecond;
    }, 20000);
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
    const QString relay = QUrl(frame).resolved(QUrl(QStringLiteral("relay/") + QUrlQuery(QUrl(frame)).queryItemValue("session")
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
            return s->send(200, "text/html", "<embed src='/m.swf?secret=1' flashvars='secret=2' width='200' height='150'>");
        s->send(200, "text/html", "<script>window.heard = [];"
                                  "addEventListener('message', function (e) { heard.push(JSON.stringify(e.data)); }, true);"
                                  "</script><iframe src='" + frameBase.toLatin1() + "/inner.html' width='240' height='180'></iframe>");
    };
    http::Server site(serve), other(serve);
    QVERIFY(site.listen());
    QVERIFY(other.listen(QHostAddress(frameHost.isEmpty() ? QStringLiteral("127.0.0.1") : frameHost)));
    if (!frameHost.isEmpty())
        frameBase = QStringLiteral("http://%1:%2").arg(frameHost).arg(other.port());
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    viewers::show(*rt, catalogue::Viewer::Page, QStringLiteral("http://127.0.0.1:%1/page.html").arg(site.port()), {});
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() == 1, 30000);
    js("document.body.appendChild(Object.assign(document.createElement('iframe'), {src: '" + frameBase + "/inner.html'}))");
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() == 2, 30000);
    for (const QList<QVariant> &report : std::as_const(reports))
        QCOMPARE(report[1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
    // What the top page heard: nothing of a frame's movie, of any origin.
    QVERIFY2(!js("heard.join(' ')").toString().contains(QLatin1String("secret")), qPrintable(js("heard.join(' ')").toString()));
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
    CommandButton *const button[] = {nullptr, &main->Command1(), &main->Command2(), &main->Command3(),
                                     &main->Command4(), &main->Command5()};
    const QString title[] = {{}, "邮票鉴赏 · 爱迪鹅日", "明信片鉴赏 · 冰港", "图谱鉴赏 · 观赏鱼", "各级礼包 · 6"};
    const QStringList movies[] = {{}, {"/kppostcard/card1.swf"}, {"/kpfolder/flash/postcard1.swf"},
                                  {"/kpfolder/swf/x01.swf", "/kpfolder/flash/atlas1.swf"}, {},
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

// The page's own scripts hear the player say it is there, and may answer before the
// program does: the player waits for the answer its host vouches for.
void TestPageFlashX11::pageAnswersThePlayerFirst()
{
    QTemporaryDir folder;
    QVERIFY(QFile::copy(SiteMirror::defaultRoot() + "/kppostcard/card1.swf", folder.filePath("card.swf")));
    QFile page(folder.filePath("first.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<!DOCTYPE html><title>first</title><script>addEventListener('message', function (e) {"
               " if (e.data === 'photoforKP:player') for (var i = 0; i < 3; i++)"
               " e.source.postMessage({session: 'forged' + i, movie: 'http://127.0.0.9/evil.swf'}, '*'); });</script>"
               "<embed src='card.swf' width='180' height='135' type='application/x-shockwave-flash'>");
    page.close();
    SiteMirror site(folder.path());
    QVERIFY(site.listen());
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    main->Text1().SetText("http://" + site.host() + "/first.html");
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_COMPARE_WITH_TIMEOUT(painted.size(), 1, 30000);
    QCOMPARE(painted[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
    QVERIFY(site.paths().contains(QStringLiteral("/card.swf")));
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
            return s->send(200, "text/html", "<!DOCTYPE html><title>hoard</title>"
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

// Most pages of the time wrote their movie from a script that first asked for the Flash
// player and its version (SWFObject 2.2 here, from its npm package), and showed their
// alternative text without one.
void TestPageFlashX11::pageThatAsksFirst()
{
    using namespace viewertools;
    QTemporaryDir folder;
    QVERIFY(QFile::copy(QFINDTESTDATA("swfobject.html"), folder.filePath("swfobject.html")));
    QVERIFY(QFile::copy(QStringLiteral(NODE_MODULES_DIR "/swfobject/index.js"), folder.filePath("swfobject.js")));
    QVERIFY(QFile::copy(SiteMirror::defaultRoot() + "/kppostcard/card1.swf", folder.filePath("card.swf")));
    SiteMirror site(folder.path());
    QVERIFY(site.listen());
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    main->Text1().SetText("http://" + site.host() + "/swfobject.html");
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    QTRY_COMPARE_WITH_TIMEOUT(view.title(), QStringLiteral("swfobject"), 20000);

    QWebEnginePage *page = view.page();
    QTRY_COMPARE_WITH_TIMEOUT(playerFrames(view).size(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(painted.size(), 1, 30000);
    QCOMPARE(painted[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
    QVERIFY(drawnOver(playerFrames(view)[0], Qt::white));
    QVERIFY(site.paths().contains(QStringLiteral("/card.swf")));
    QVERIFY(viewertools::js(page, "document.getElementById('alternative') === null").toBool());

    // What else such scripts read, as the engine's own lists answer it, the engine's
    // plugins (seen from a world the page cannot touch) still there.
    const auto world = QWebEngineScript::ApplicationWorld;
    const int engineOwn = viewertools::js(page, "navigator.plugins.length", world).toInt();
    const int engineTypes = viewertools::js(page, "navigator.mimeTypes.length", world).toInt();
    const QString wrong = viewertools::js(page, QStringLiteral(R"((function () {
        const p = navigator.plugins, m = navigator.mimeTypes, f = p["Shockwave Flash"];
        const swf = m["application/x-shockwave-flash"], spl = m.namedItem("application/futuresplash");
        const checks = {
          kinds: p instanceof PluginArray && m instanceof MimeTypeArray && f instanceof Plugin && swf instanceof MimeType,
          lengths: p.length === %1 + 1 && m.length === %2 + 2 && f.length === 2,
          indexes: p[p.length - 1] === f && p.item(p.length - 1) === f && p.item(p.length) === null && m.item(0) === m[0],
          names: p.namedItem("Shockwave Flash") === f && p.namedItem("none") === null && f["application/futuresplash"] === spl,
          plugin: f.description === "Shockwave Flash 32.0 r0" && f.name === "Shockwave Flash" && f.filename !== "",
          types: swf.enabledPlugin === f && swf.suffixes === "swf" && spl.suffixes === "spl" && f.item(0) === swf,
          listing: Object.keys(p).join() === Array.from(p, (x, i) => i).join() && Array.from(p).pop() === f,
          refresh: p.refresh() === undefined && navigator.plugins === p,
          version: swfobject.getFlashPlayerVersion().major === 32,
        };
        return Object.keys(checks).filter(k => !checks[k]).join(" ");
    })())").arg(engineOwn).arg(engineTypes)).toString();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
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
    QTest::newRow("page, text selected")
        << false << all << QList{Page::Back, Page::Forward, Page::Reload, Page::NoWebAction, Page::Copy, Page::SelectAll};
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
        s->send(200, "text/html", "<body style='margin:0'><embed src='/menu.swf' width='180' height='135' menu='"
                                      + menuParam.toLatin1() + "'></body>");
    });
    QVERIFY(site.listen());
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(site.port());
    viewers::show(*rt, album ? catalogue::Viewer::Album : catalogue::Viewer::Page, base + (album ? "menu.swf" : "page.html"), {});
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
                                album ? "document.activeElement.id === 'ruffle'" : "document.activeElement.localName === 'iframe'")
                    .toBool());
    x11::xdotool({QStringLiteral("key"), QStringLiteral("shift+F10")});
    QVERIFY(menu = openMenu());
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(picked, 1, 10000);
    QVERIFY(!QApplication::activePopupWidget());
}

// A page's scripts, racing the program's for its player frame, see nothing that lets
// them use the frame's session: not in the frame's address, not in any message.
void TestPageFlashX11::pageCannotTakeThePlayersSession()
{
    const QByteArray movie = cardMovie();
    QVERIFY(!movie.isEmpty());
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path() == "/m.swf")
            return s->send(200, "application/x-shockwave-flash", movie);
        s->send(200, "text/html",
                "<script>window.seen = [];"
                "new MutationObserver(function (rs) { rs.forEach(function (r) { r.addedNodes.forEach(function (n) {"
                " if (n.tagName === 'IFRAME') { seen.push(n.src, n.outerHTML);"
                "  n.addEventListener('load', function () { seen.push(n.src); }); } }); }); })"
                ".observe(document, {childList: true, subtree: true});"
                "addEventListener('message', function (e) { seen.push(JSON.stringify(e.data)); }, true);</script>"
                "<object type='application/x-shockwave-flash' data='/m.swf' width='320' height='240'></object>");
    });
    QVERIFY(site.listen());
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    main->Text1().SetText(QStringLiteral("http://127.0.0.1:%1/page.html").arg(site.port()));
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() == 1, 30000);
    QCOMPARE(reports[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted); // it still plays
    const QByteArray session = reports[0][0].toByteArray();
    const QString seen = js("JSON.stringify(window.seen)").toString();
    QVERIFY2(seen.contains("player.html"), qPrintable(seen)); // it did see the frame
    QVERIFY2(!seen.contains(QString::fromLatin1(session)), qPrintable(seen));
}

void TestPageFlashX11::externalInterface_data()
{
    QTest::addColumn<QString>("access"); // the page's allowScriptAccess
    QTest::addColumn<bool>("otherHost"); // the movie's host is not the page's
    QTest::addColumn<bool>("movieCalls");
    QTest::addColumn<bool>("pageCalls");
    QTest::addColumn<QString>("movieName"); // external.swf: ActionScript 2; external2.swf: 3
    const QString as2 = QStringLiteral("external.swf"), as3 = QStringLiteral("external2.swf");
    QTest::newRow("no setting: same domain") << QString() << false << true << true << as2;
    QTest::newRow("ActionScript 3") << QString() << false << true << true << as3;
    QTest::newRow("sameDomain, another host") << QStringLiteral("sameDomain") << true << false << false << as2;
    QTest::newRow("always, another host") << QStringLiteral("always") << true << true << false << as2;
    QTest::newRow("never") << QStringLiteral("never") << false << false << false << as2;
}

// A movie and its page's scripts call each other as the page's allowScriptAccess lets
// them; the page finds the movie's element however it looks for it; an album has none.
void TestPageFlashX11::externalInterface()
{
    QFETCH(QString, access);
    QFETCH(bool, otherHost);
    QFETCH(bool, movieCalls);
    QFETCH(bool, pageCalls);
    QFETCH(QString, movieName);
    QFile movieFile(QFINDTESTDATA("../player/probe/movies/" + movieName));
    QVERIFY(movieFile.open(QIODevice::ReadOnly));
    const QByteArray movie = movieFile.readAll();
    QStringList asked;
    QString movieBase;
    const auto serve = [&](const http::Request &r, http::Response *s) {
        asked << QString::fromLatin1(r.target);
        if (r.path() == "/m.swf")
            return s->send(200, "application/x-shockwave-flash", movie);
        if (r.path() == "/avail.txt")
            return s->send(200, "text/plain", "ok=1");
        const QByteArray param = access.isEmpty() ? QByteArray() : "<param name='allowScriptAccess' value='" + access.toLatin1() + "'>";
        const QByteArray attribute = access.isEmpty() ? QByteArray() : " allowScriptAccess='" + access.toLatin1() + "'";
        s->send(200, "text/html", "<script>window.said = []; function movieSays() { said.push([].join.call(arguments, ',')); }"
                                  "</script><object id='obj' type='application/x-shockwave-flash' data='" + movieBase.toLatin1()
                                      + "/m.swf' width='200' height='150'>" + param + "<embed name='emb' src='"
                                      + movieBase.toLatin1() + "/m.swf' width='200' height='150'" + attribute
                                      + "><p id='getFlash'><a href='/get'>Get Flash</a></p></object>");
    };
    http::Server site(serve), other(serve);
    QVERIFY(site.listen());
    QVERIFY(other.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
    if (otherHost)
        movieBase = QStringLiteral("http://127.0.0.2:%1").arg(other.port());
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    viewers::show(*rt, catalogue::Viewer::Page, QStringLiteral("http://127.0.0.1:%1/page.html").arg(site.port()), {});
    if (movieCalls)
        QTRY_COMPARE_WITH_TIMEOUT(js("said.join(' ')").toString(), QStringLiteral("hello"), 30000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(!asked.filter(QStringLiteral("/avail.txt?avail=true")).isEmpty(), 30000);
    QCOMPARE(frames().size(), 1);
    QCOMPARE(js("String(getFlash.offsetParent)").toString(), QStringLiteral("null")); // what it holds for browsers without Flash is not shown
    // However the page finds the movie's element: each call comes back to it.
    const QStringList finds = {QStringLiteral("document.getElementById('obj')"), QStringLiteral("document.emb"),
                               QStringLiteral("window.emb"), QStringLiteral("document.embeds[0]"),
                               QStringLiteral("document.getElementsByName('emb')[0]")};
    if (pageCalls)
        QTRY_COMPARE_WITH_TIMEOUT(js("typeof document.emb.fromPage").toString(), QStringLiteral("function"), 10000);
    QStringList expected = movieCalls ? QStringList{QStringLiteral("hello")} : QStringList();
    for (int i = 0; i < finds.size() && pageCalls; ++i) {
        QCOMPARE(js(QStringLiteral("String(%1.fromPage(%2))").arg(finds[i]).arg(i)).toString(), QStringLiteral("undefined"));
        expected << QStringLiteral("back:%1").arg(i);
        QTRY_COMPARE_WITH_TIMEOUT(js("said.join(' ')").toString(), expected.join(' '), 10000);
    }
    // Values are data only: a function or a node goes nowhere, nor does too much.
    if (pageCalls) {
        js("obj.fromPage(function () {}); obj.fromPage(document.body); obj.fromPage('x'.repeat(70000)); obj.fromPage('last')");
        expected << QStringLiteral("back:last");
        QTRY_COMPARE_WITH_TIMEOUT(js("said.join(' ')").toString(), expected.join(' '), 10000);
    }
    QTest::qWait(1000); // what should not come has had its time
    QCOMPARE(js("said.join(' ')").toString(), expected.join(' '));
    if (!pageCalls)
        QCOMPARE(js("typeof obj.fromPage + typeof document.emb.fromPage").toString(), QStringLiteral("undefinedundefined"));

    // In the album viewer the same movie has no ExternalInterface.
    if (!access.isEmpty() || movieName != QLatin1String("external.swf"))
        return;
    asked.clear();
    viewers::show(*rt, catalogue::Viewer::Album, QStringLiteral("http://127.0.0.1:%1/m.swf").arg(site.port()), {});
    QTRY_VERIFY_WITH_TIMEOUT(!asked.filter(QStringLiteral("/avail.txt?avail=")).isEmpty(), 30000);
    QVERIFY2(!asked.filter(QStringLiteral("/avail.txt?avail=false")).isEmpty(), qPrintable(asked.join(' ')));
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
            return s->send(200, "text/html", "<body style='margin:0'><a href='/Movie.SWF' id=swf style='display:block;"
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
