#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "viewerform.h"
#include "frmtest.h"
#include "runtime.h"
#include "viewerpage.h"
#include "viewers.h"
#include "viewermodule.h"
#include "enginefixture.h"
#include "sitemirror.h"
#include "viewertools.h"
#include "x11tools.h"
#include "enginetools.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QWebEnginePage>

using namespace forms;

// What the viewers show, in real windows, against the local site mirror: pages, albums
// and what a broken, silent or hostile site gets. (What presses do to the windows:
// tst_presses_x11.)
class TestViewersX11 : public QObject, protected EngineFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void webPages_data();
    void webPages();
    void albumPlaysAndLoops_data();
    void albumPlaysAndLoops();
    void albumReadyAhead();
    void giftLevelMissReusesPreviousLink();
    void firstPressMissHandsOverDesignText();
    void linkCannotInjectIntoPlayer();
    void movieSandbox();
    void mirrorDown();
    void brokenMovie();
    void silentSite();

private:
    void press(CommandButton &button) { QTest::mouseClick(&button, Qt::LeftButton); }
    // The plain message a player shows in place of a movie it cannot play, if it does.
    QString failedMessage(ShockwaveFlash &player)
    {
        return js(player.page(), "(function () { const m = document.getElementById('message');"
                                 " return m && m.style.display === 'flex' ? m.textContent : ''; })()")
            .toString();
    }
    bool waitForColour(QWidget &w, QPoint at, const QList<QColor> &colours, QColor *seen, int timeoutMs);

    std::unique_ptr<SiteMirror> mirror;
};

namespace {

// The colours the mirror's album movies play, frame by frame (see mirror/make-site.py).
const QList<QList<QColor>> AlbumColours = {
    {QColor(220, 40, 40), QColor(40, 160, 60), QColor(40, 80, 220), QColor(230, 200, 30)},
    {QColor(240, 130, 20), QColor(120, 40, 180), QColor(20, 170, 170), QColor(200, 60, 140)},
    {QColor(90, 60, 30), QColor(250, 160, 160), QColor(60, 200, 120), QColor(30, 30, 90)},
    {QColor(180, 220, 40), QColor(250, 100, 60), QColor(70, 130, 180), QColor(150, 150, 150)},
};

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) < 12 && qAbs(a.green() - b.green()) < 12 && qAbs(a.blue() - b.blue()) < 12;
}

} // namespace

void TestViewersX11::init()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    mirror = std::make_unique<SiteMirror>(SiteMirror::defaultRoot());
    QVERIFY(mirror->listen());
    QVERIFY(showMainFor(mirror->host()));
}

void TestViewersX11::cleanup()
{
    stopRuntime();
    mirror.reset();
}

void TestViewersX11::cleanupTestCase()
{
    engine::release();
}

bool TestViewersX11::waitForColour(QWidget &w, QPoint at, const QList<QColor> &colours, QColor *seen, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            const QColor c = grab(w).pixelColor(at);
            for (const QColor &want : colours) {
                if (near(c, want)) {
                    if (seen)
                        *seen = want;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

void TestViewersX11::webPages_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("path");

    QTest::newRow("stamps, default") << 1 << ""
                                     << ""
                                     << "邮票鉴赏 · 爱迪鹅日"
                                     << "/kppostcard/card1.html";
    QTest::newRow("postcards, default") << 2 << ""
                                        << ""
                                        << "明信片鉴赏 · 冰港"
                                        << "/kptemp/card1.html";
    QTest::newRow("atlas, default") << 3 << ""
                                    << ""
                                    << "图谱鉴赏 · 观赏鱼"
                                    << "/kpfolder/swf/x01.html";
    QTest::newRow("gift level, default") << 4 << ""
                                         << ""
                                         << "各级礼包 · 6"
                                         << "/kphtml/gift6.html";
    QTest::newRow("stamps, row 18") << 1 << "Combo1"
                                    << "心泉之光日"
                                    << "邮票鉴赏 · 心泉之光日"
                                    << "/kppostcard/card18.html";
    QTest::newRow("postcards, last") << 2 << "Combo2"
                                     << "植物园"
                                     << "明信片鉴赏 · 植物园"
                                     << "/kptemp/card10.html";
    QTest::newRow("atlas, last") << 3 << "Combo3"
                                 << "淡水鱼"
                                 << "图谱鉴赏 · 淡水鱼"
                                 << "/kpfolder/swf/x05.html";
    QTest::newRow("gift level 50") << 4 << "Text2"
                                   << "50"
                                   << "各级礼包 · 50"
                                   << "/kphtml/gift50.html";
}

void TestViewersX11::webPages()
{
    QFETCH(int, button);
    QFETCH(QString, selector);
    QFETCH(QString, key);
    QFETCH(QString, title);
    QFETCH(QString, path);

    QCOMPARE(main->Text1().Text(), QStringLiteral("Text1"));
    if (selector == "Text2")
        main->Text2().SetText(key);
    else if (!selector.isEmpty())
        main->control<DropDownList>(selector).SetText(key);
    CommandButton *buttons[] = {nullptr, &main->Command1(), &main->Command2(), &main->Command3(), &main->Command4()};
    press(*buttons[button]);

    const QString link = QStringLiteral("http://") + mirror->host() + path;
    QCOMPARE(main->Text1().Text(), link);
    Form2 &viewer = rt->form<Form2>();
    QVERIFY(viewer.isLoaded());
    QVERIFY(!rt->form<Form1>().isLoaded());
    QVERIFY(QTest::qWaitForWindowExposed(&viewer.window()));
    QCOMPARE(viewer.window().windowTitle(), QStringLiteral("鉴赏页面"));
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), title, 20000);
    QCOMPARE(viewer.WebBrowser1().url().toString(), link);
    QVERIFY(mirror->paths().contains(path));
    QVERIFY(reported.isEmpty());
}

void TestViewersX11::albumPlaysAndLoops_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("album");
    QTest::newRow("default") << QString() << 0;
    QTest::newRow("last album") << QStringLiteral("环球相册") << 3;
}

void TestViewersX11::albumPlaysAndLoops()
{
    QFETCH(QString, key);
    QFETCH(int, album);
    if (!key.isEmpty())
        main->Combo4().SetText(key);
    press(main->Command5());
    Form1 &viewer = rt->form<Form1>();
    QVERIFY(viewer.isLoaded());
    QVERIFY(!rt->form<Form2>().isLoaded());
    QVERIFY(QTest::qWaitForWindowExposed(&viewer.window()));
    QWidget &player = viewer.ShockwaveFlash1();
    const QPoint middle(player.width() / 2, player.height() * 2 / 3);

    // The movie's pixels reach the player rectangle, then the frames move on.
    QColor first, later;
    QVERIFY2(waitForColour(player, middle, AlbumColours[album], &first, 30000), "the movie never drew");
    QList<QColor> others = AlbumColours[album];
    others.removeAll(first);
    QVERIFY2(waitForColour(player, middle, others, &later, 10000), "the movie does not play on");
    // All four frames come round again: it loops.
    QVERIFY(waitForColour(player, middle, {first}, nullptr, 10000));
    // The photo strip the movie loads from beside it, through the player's relay.
    const QPoint corner(player.width() / 2 - int(200 * player.height() / 300.0) + 20, 20);
    QVERIFY2(waitForColour(player, corner, {QColor(255, 255, 255)}, nullptr, 10000), "relative load failed");
    QVERIFY(mirror->paths().contains(QStringLiteral("/kpfolder/kpphotos/xiaoxiao/photos.swf"))
            || mirror->paths().contains(QStringLiteral("/kpfolder/kpphotos/huanqiu/photos.swf")));
    QVERIFY(reported.isEmpty());
}

void TestViewersX11::albumReadyAhead()
{
    // What earlier tests kept of their players goes first.
    PageKeeper &pages = ViewerServices::of(*rt).engine().pages();
    pages.setWarmTime(std::chrono::milliseconds(1));
    pages.noteUse();
    QTRY_VERIFY(!pages.hasPlayer());
    pages.setWarmTime(std::chrono::minutes(3));

    // The program's main window: once it has faded in, the pointer over the album button
    // compiles the emulator, which asks the site for nothing (only the album is asked for).
    stopRuntime();
    startEngineRuntime(mirror->host());
    viewermodule::enablePreparingAhead(*rt); // read once the window loads
    main->Show();
    QTRY_VERIFY_WITH_TIMEOUT(!main->Timer1().Enabled(), 10000);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&main->Command5(), &enter);
    QVERIFY(pages.hasPlayer());

    // The album plays; the warm-up goes once it does, and the closed album is kept for
    // the next one until a page opens.
    press(main->Command5());
    QWidget &player = rt->form<Form1>().ShockwaveFlash1();
    QVERIFY(
        waitForColour(player, QPoint(player.width() / 2, player.height() * 2 / 3), AlbumColours[0], nullptr, 30000));
    for (const QString &path : mirror->paths())
        QVERIFY2(path.startsWith(QLatin1String("/kpfolder/kpphotos/xiaoxiao/")), qPrintable(path));
    // Pressed again: the album playing is held still for the next one until that plays.
    QPointer<ViewerPage> first = rt->form<Form1>().ShockwaveFlash1().viewerPage();
    press(main->Command5());
    QVERIFY(first);
    QCOMPARE(first->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 30000);
    QPointer<QWidget> closing = &rt->form<Form1>().ShockwaveFlash1();
    press(rt->form<Form1>().Command1());
    QTRY_VERIFY(closing.isNull());
    QVERIFY(pages.hasPlayer());
    press(main->Command2());
    QTRY_VERIFY(!pages.hasPlayer());
    QVERIFY(reported.isEmpty());
}

void TestViewersX11::giftLevelMissReusesPreviousLink()
{
    press(main->Command1());
    const QString stamp = QStringLiteral("http://") + mirror->host() + QStringLiteral("/kppostcard/card1.html");
    QCOMPARE(main->Text1().Text(), stamp);
    main->Text2().SetText(QStringLiteral("7"));
    press(main->Command4());
    QCOMPARE(main->Text1().Text(), stamp);
    Form2 &viewer = rt->form<Form2>();
    QVERIFY(viewer.isLoaded());
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("邮票鉴赏 · 爱迪鹅日"), 20000);
}

void TestViewersX11::firstPressMissHandsOverDesignText()
{
    main->Text2().SetText(QStringLiteral("7"));
    press(main->Command4());
    QCOMPARE(main->Text1().Text(), QStringLiteral("Text1"));
    Form2 &viewer = rt->form<Form2>();
    QVERIFY(viewer.isLoaded());
    // The engine goes where "Text1" leads, and the page area says there is no such site;
    // the viewer stays.
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().notice(), QStringLiteral("找不到这个网站，请检查网址和网络连接。"),
                              20000);
    QCOMPARE(viewer.WebBrowser1().page()->requestedUrl().host(), QStringLiteral("text1"));
    QVERIFY(viewer.isLoaded() && viewer.window().isVisible());
    QVERIFY(reported.isEmpty());

    // An empty link opens the viewer all the same.
    main->Text1().SetText(QString());
    press(main->Command4());
    QVERIFY(rt->form<Form2>().isLoaded());
    // An address with no host goes nowhere; a script run after it shows the engine took it.
    QCOMPARE(js(rt->form<Form2>().WebBrowser1().page(), "1 + 1").toInt(), 2);
    QVERIFY(rt->form<Form2>().window().isVisible());
    QVERIFY(reported.isEmpty());
}

void TestViewersX11::linkCannotInjectIntoPlayer()
{
    const QString link = QStringLiteral("http://") + mirror->host()
                         + QStringLiteral("/a\"b'c/\"><script>window.injected=1</script>"
                                          "<img src=x onerror=\"window.injected=2\">&amp;%22</x>.swf");
    main->Text1().SetText(link);
    viewers::show(*rt, catalogue::Viewer::Album, main->Text1().Text(), {});
    ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
    QCOMPARE(player.Movie(), link);
    QTRY_VERIFY_WITH_TIMEOUT(failedMessage(player).contains("无法"), 20000);
    QCOMPARE(js(player.page(), "new URLSearchParams(location.search).get('movie')").toString(), link);
    QCOMPARE(js(player.page(), "typeof window.injected").toString(), QStringLiteral("undefined"));
    QCOMPARE(js(player.page(), "document.querySelectorAll('img,a,iframe').length").toInt(), 0);
    QCOMPARE(js(player.page(), "document.scripts.length").toInt(), 3);
    QVERIFY(js(player.page(), "document.getElementById('message').textContent").toString().contains("无法"));
}

void TestViewersX11::movieSandbox()
{
    // The probe's own host; a host whose policy lets it read; a host without a policy.
    SiteMirror own(QFINDTESTDATA("../player/probe"));
    QTemporaryDir allowedSite, refusedSite;
    const auto put = [](const QTemporaryDir &dir, const char *name, const QByteArray &data) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    };
    QVERIFY(put(allowedSite, "crossdomain.xml",
                "<?xml version=\"1.0\"?>\n<cross-domain-policy>\n"
                "  <allow-access-from domain=\"127.0.0.1\"/>\n</cross-domain-policy>\n"));
    QVERIFY(put(allowedSite, "data.txt", "allowed=yes"));
    QVERIFY(put(refusedSite, "data.txt", "refused=yes"));
    SiteMirror allowed(allowedSite.path()), refused(refusedSite.path());
    QVERIFY(own.listen(0, QHostAddress(QStringLiteral("127.0.0.1"))));
    QVERIFY(allowed.listen(0, QHostAddress(QStringLiteral("127.0.0.2"))));
    QVERIFY(refused.listen(0, QHostAddress(QStringLiteral("127.0.0.3"))));
    const auto encoded = [](const QString &s) { return QString::fromLatin1(QUrl::toPercentEncoding(s)); };
    const QString link = QStringLiteral("http://%1/movies/probe.swf?allowed_url=%2&refused_url=%3")
                             .arg(own.host(), encoded("http://" + allowed.host() + "/data.txt"),
                                  encoded("http://" + refused.host() + "/data.txt"));
    main->Text1().SetText(link);
    viewers::show(*rt, catalogue::Viewer::Album, main->Text1().Text(), {});

    // The probe reports every variable it holds to its own host, over and over.
    QUrlQuery report;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QByteArray &target : own.targets())
                if (target.startsWith("/movies/report.txt?") && target.contains("allowed=yes")) {
                    report = QUrlQuery(QString::fromLatin1(target.mid(target.indexOf('?') + 1)));
                    return true;
                }
            return false;
        }(),
        30000);
    QCOMPARE(report.queryItemValue("own"), QStringLiteral("yes"));
    QVERIFY2(!report.hasQueryItem("refused"), qPrintable(report.toString()));
    QVERIFY(refused.paths().contains(QStringLiteral("/crossdomain.xml"))); // asked, and refused
    // Its own address is the real one, with nothing of the player's.
    QCOMPARE(QUrl(report.queryItemValue("myurl", QUrl::FullyDecoded)), QUrl(link));
    // The movie it loaded by a root-relative address came from its own host, and shows.
    QVERIFY(own.paths().contains(QStringLiteral("/movies/child.swf")));
    QWidget &player = rt->form<Form1>().ShockwaveFlash1();
    QVERIFY(waitForColour(player, QPoint(player.width() * 3 / 4, player.height() * 3 / 4), {QColor(255, 0, 255)},
                          nullptr, 10000));
}

void TestViewersX11::mirrorDown()
{
    mirror.reset(); // nothing answers on that port any more
    press(main->Command2());
    QVERIFY(rt->form<Form2>().isLoaded());
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().notice(), QStringLiteral("网站拒绝了连接，请稍后再试。"),
                              20000);
    QVERIFY(rt->form<Form2>().window().isVisible());

    press(main->Command5());
    Form1 &album = rt->form<Form1>();
    QVERIFY(album.isLoaded());
    QTRY_VERIFY_WITH_TIMEOUT(failedMessage(album.ShockwaveFlash1()).contains("无法"), 20000);
    // Told in the page viewer's words for the same cause, in the same place.
    QTRY_COMPARE(album.ShockwaveFlash1().notice(), QStringLiteral("网站拒绝了连接，请稍后再试。"));
    // A plain message, no links leading away.
    QCOMPARE(js(album.ShockwaveFlash1().page(), "document.querySelectorAll('a').length").toInt(), 0);
    QVERIFY(album.window().isVisible());
    QVERIFY(main->isLoaded());
    QVERIFY(reported.isEmpty());
}

void TestViewersX11::silentSite()
{
    // A site that takes connections and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> held;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = silent.nextPendingConnection())
            held << socket;
    });
    const QString site = QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort());

    // An album from it: the player says it is loading.
    viewers::show(*rt, catalogue::Viewer::Album, site + QStringLiteral("album.swf"), QStringLiteral("小小相册"));
    ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
    QTRY_VERIFY_WITH_TIMEOUT(js(player.page(), "(function () { const p = document.getElementById('progress');"
                                               " return !!p && !p.hidden && p.textContent; })()")
                                 .toString()
                                 .startsWith(QStringLiteral("正在载入相册")),
                             10000);
    // Closed, it lets its load go at once, not after the relay's silence limit.
    viewers::unload(*rt, catalogue::Viewer::Album);

    // A page from it: a word that it is coming, then that the site does not answer, and
    // the viewer stops waiting. Its watch goes by a clock that moves when the test says.
    BrowserEngine &engine = ViewerServices::of(*rt).engine();
    const loadnotice::Watch kept = engine.loadWatch();
    auto now = std::make_shared<std::chrono::milliseconds>(0);
    engine.setLoadWatch({.now = [now] { return *now; }});
    const auto restore = qScopeGuard([&] { engine.setLoadWatch(kept); });
    viewers::show(*rt, catalogue::Viewer::Page, site, QStringLiteral("爱迪鹅日"));
    WebBrowser &page = rt->form<Form2>().WebBrowser1();
    *now = kept.loadingAfter;
    QTRY_COMPARE_WITH_TIMEOUT(page.notice(), QStringLiteral("正在载入页面…"), 10000);
    QVERIFY(page.isVisible());
    *now = kept.noAnswerAfter;
    QTRY_COMPARE_WITH_TIMEOUT(page.notice(), QStringLiteral("网站没有应答，请稍后再试。"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(held.cbegin(), held.cend(),
                                         [](QTcpSocket *s) { return s->state() == QAbstractSocket::UnconnectedState; }),
                             10000);

    // The next page, from a site that answers, shows as ever.
    press(main->Command1());
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().title(), QStringLiteral("邮票鉴赏 · 爱迪鹅日"), 20000);
    QTRY_VERIFY(rt->form<Form2>().WebBrowser1().notice().isEmpty());
    QVERIFY(reported.isEmpty());
}

void TestViewersX11::brokenMovie()
{
    // A file named like a movie that is none: a web page, as a site's error page may be.
    QTemporaryDir site;
    QVERIFY(QDir(site.path()).mkpath("albums"));
    QFile broken(site.filePath("albums/broken.swf"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("<html><body><a href=\"/\">home</a></body></html>");
    broken.close();
    SiteMirror other(site.path());
    QVERIFY(other.listen());
    main->Text1().SetText(QStringLiteral("http://%1/albums/broken.swf").arg(other.host()));
    viewers::show(*rt, catalogue::Viewer::Album, main->Text1().Text(), {});
    ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
    QTRY_VERIFY_WITH_TIMEOUT(failedMessage(player).contains("无法"), 20000);
    QTRY_COMPARE(player.notice(), QStringLiteral("无法播放这本相册。"));
    QCOMPARE(js(player.page(), "document.querySelectorAll('a').length + (document.getElementById('ruffle') ? 1 : 0)")
                 .toInt(),
             0);
    QVERIFY(rt->form<Form1>().window().isVisible());
}

QTEST_MAIN(TestViewersX11)
#include "tst_viewers_x11.moc"
