#include "Form2.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewers.h"
#include "enginetools.h"
#include "pageflashfixture.h"
#include "server.h"
#include "sitemirror.h"
#include "viewertools.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>

using namespace forms;

// Flash movies in pages and the pages' own scripts: the scripts that ask for Flash first,
// the calls both ways, and what a hostile page's scripts cannot take from the player.
class TestPageScriptsFlashX11 : public QObject, protected PageFlashFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { engine::release(); }
    void pageThatAsksFirst();
    void pageAnswersThePlayerFirst();
    void pageCannotTakeThePlayersSession();
    void externalInterface_data();
    void externalInterface();
};

void TestPageScriptsFlashX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    QVERIFY(startMirror());
}

void TestPageScriptsFlashX11::init()
{
    QVERIFY(showMainFor(mirror->host()));
}

void TestPageScriptsFlashX11::cleanup()
{
    const QString errors = stopMain();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

// Most pages of the time wrote their movie from a script that first asked for the Flash
// player and its version (SWFObject 2.2 here, from its npm package), and showed their
// alternative text without one.
void TestPageScriptsFlashX11::pageThatAsksFirst()
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
    })())")
                                                    .arg(engineOwn)
                                                    .arg(engineTypes))
                              .toString();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

// The page's own scripts hear the player say it is there, and may answer before the
// program does: the player waits for the answer its host vouches for.
void TestPageScriptsFlashX11::pageAnswersThePlayerFirst()
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

// A page's scripts, racing the program's for its player frame, see nothing that lets
// them use the frame's session: not in the frame's address, not in any message.
void TestPageScriptsFlashX11::pageCannotTakeThePlayersSession()
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

void TestPageScriptsFlashX11::externalInterface_data()
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
void TestPageScriptsFlashX11::externalInterface()
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
        const QByteArray param
            = access.isEmpty() ? QByteArray() : "<param name='allowScriptAccess' value='" + access.toLatin1() + "'>";
        const QByteArray attribute = access.isEmpty() ? QByteArray() : " allowScriptAccess='" + access.toLatin1() + "'";
        s->send(200, "text/html",
                "<script>window.said = []; function movieSays() { said.push([].join.call(arguments, ',')); }"
                "</script><object id='obj' type='application/x-shockwave-flash' data='"
                    + movieBase.toLatin1() + "/m.swf' width='200' height='150'>" + param + "<embed name='emb' src='"
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
    QCOMPARE(js("String(getFlash.offsetParent)").toString(),
             QStringLiteral("null")); // what it holds for browsers without Flash is not shown
    // However the page finds the movie's element: each call comes back to it.
    const QStringList finds = {QStringLiteral("document.getElementById('obj')"), QStringLiteral("document.emb"),
                               QStringLiteral("window.emb"), QStringLiteral("document.embeds[0]"),
                               QStringLiteral("document.getElementsByName('emb')[0]")};
    if (pageCalls)
        QTRY_COMPARE_WITH_TIMEOUT(js("typeof document.emb.fromPage").toString(), QStringLiteral("function"), 10000);
    QStringList expected = movieCalls ? QStringList{QStringLiteral("hello")} : QStringList();
    for (int i = 0; i < finds.size() && pageCalls; ++i) {
        QCOMPARE(js(QStringLiteral("String(%1.fromPage(%2))").arg(finds[i]).arg(i)).toString(),
                 QStringLiteral("undefined"));
        expected << QStringLiteral("back:%1").arg(i);
        QTRY_COMPARE_WITH_TIMEOUT(js("said.join(' ')").toString(), expected.join(' '), 10000);
    }
    // Values are data only: a function or a node goes nowhere, nor does too much.
    if (pageCalls) {
        js("obj.fromPage(function () {}); obj.fromPage(document.body); obj.fromPage('x'.repeat(70000)); "
           "obj.fromPage('last')");
        expected << QStringLiteral("back:last");
        QTRY_COMPARE_WITH_TIMEOUT(js("said.join(' ')").toString(), expected.join(' '), 10000);
    }
    QTest::qWait(1000); // what should not come has had its time
    QCOMPARE(js("said.join(' ')").toString(), expected.join(' '));
    if (!pageCalls)
        QCOMPARE(js("typeof obj.fromPage + typeof document.emb.fromPage").toString(),
                 QStringLiteral("undefinedundefined"));

    // In the album viewer the same movie has no ExternalInterface.
    if (!access.isEmpty() || movieName != QLatin1String("external.swf"))
        return;
    asked.clear();
    viewers::show(*rt, catalogue::Viewer::Album, QStringLiteral("http://127.0.0.1:%1/m.swf").arg(site.port()), {});
    QTRY_VERIFY_WITH_TIMEOUT(!asked.filter(QStringLiteral("/avail.txt?avail=")).isEmpty(), 30000);
    QVERIFY2(!asked.filter(QStringLiteral("/avail.txt?avail=false")).isEmpty(), qPrintable(asked.join(' ')));
}

QTEST_MAIN(TestPageScriptsFlashX11)
#include "tst_page_scripts_flash_x11.moc"
