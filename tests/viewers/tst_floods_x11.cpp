#include "Form1.h"
#include "Form2.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtime.h"
#include "enginefixture.h"
#include "enginetools.h"
#include "server.h"
#include "sitemirror.h"
#include "viewerpage.h"
#include "viewertools.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace forms;

// What a hostile page of the internet can do to the viewers that come after it: the
// page opened by a press, then the album button, as a person meets it. The test's site
// is the content host, on an address that counts as the internet here.
class TestFloodsX11 : public QObject, protected EngineFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { engine::release(); }
    void emptyTargetGoesNowhere();
    void tricklesLeaveTheTurns();
    void consoleFloods_data();
    void consoleFloods();

private:
    QByteArray probe(const QString &name);
    void press(CommandButton &button) { QTest::mouseClick(&button, Qt::LeftButton); }
};

void TestFloodsX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
}

void TestFloodsX11::init()
{
    startRuntime();
}

void TestFloodsX11::cleanup()
{
    const QString errors = reportedText();
    stopRuntime();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

QByteArray TestFloodsX11::probe(const QString &name)
{
    QFile f(QFINDTESTDATA("../player/probe/movies/" + name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A movie's getURL with an empty target, with no click: its frame stays where it is, as
// with _self; what the movie asks for a second later still comes.
void TestFloodsX11::emptyTargetGoesNowhere()
{
    const QByteArray movie = probe(QStringLiteral("wanderer.swf"));
    QVERIFY(!movie.isEmpty());
    QStringList asked;
    http::Server site([&](const http::Request &r, http::Response *s) {
        asked << QString::fromLatin1(r.path());
        if (r.path().endsWith(".swf"))
            return s->send(200, "application/x-shockwave-flash", movie);
        if (r.path() == "/after.txt")
            return s->send(200, "text/plain", "after=1");
        s->send(200, "text/html",
                "<!DOCTYPE html><title>card</title>"
                "<embed src='/wanderer.swf' width=200 height=150 type='application/x-shockwave-flash'>");
    });
    QVERIFY(site.listen());
    QVERIFY(showMainFor(QStringLiteral("127.0.0.1:%1").arg(site.port())));
    press(main->Command2());
    QTRY_VERIFY2_WITH_TIMEOUT(asked.contains("/after.txt"), qPrintable(asked.join(' ')), 30000);
    QVERIFY2(!asked.contains("/landed.html"), qPrintable(asked.join(' ')));
}

// A page's movie whose loads trickle (never still long enough to be cut for silence)
// holds the player host's turns; the album pressed next gets all its own loads, each
// trickling as well, and the closed page gets none. Short limits stand for the minute.
void TestFloodsX11::tricklesLeaveTheTurns()
{
    const QByteArray hoarder = probe(QStringLiteral("hoarder.swf"));
    QVERIFY(!hoarder.isEmpty());
    QList<QPointer<http::Response>> trickling;
    int pageLoads = 0, albumLoads = 0;
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path().endsWith(".swf"))
            return s->send(200, "application/x-shockwave-flash", hoarder);
        if (r.path().endsWith("/slow.txt")) {
            ++(r.path().startsWith("/page/") ? pageLoads : albumLoads);
            s->begin(200, {{"Content-Type", "text/plain"}});
            return trickling << s, void();
        }
        s->send(200, "text/html",
                "<!DOCTYPE html><title>card</title>"
                "<embed src='/page/hoarder.swf' width=200 height=150 type='application/x-shockwave-flash'>");
    });
    QVERIFY(site.listen());
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (const QPointer<http::Response> &s : std::as_const(trickling))
            if (s && s->isOpen())
                s->write("a");
    });
    drip.start(300);
    QVERIFY(showMainFor(QStringLiteral("127.0.0.1:%1").arg(site.port())));
    relay::Relay &relay = ViewerServices::of(*rt).host().relay();
    const relay::Limits before = relay.limits();
    relay::Limits brief = before;
    brief.idleTimeoutMs = 2000;
    brief.loadTimeoutMs = 3000;
    relay.setLimits(brief);
    const auto restore = qScopeGuard([&] { relay.setLimits(before); });

    press(main->Command2());
    QTRY_COMPARE_WITH_TIMEOUT(pageLoads, 4, 30000);
    press(main->Command5());
    QTRY_COMPARE_WITH_TIMEOUT(albumLoads, 8, 30000);
    QCOMPARE(pageLoads, 4);
}

void TestFloodsX11::consoleFloods_data()
{
    QTest::addColumn<QByteArray>("flood");
    // A worker's console, and a new frame's before the program's script is in it, are
    // not the page's to silence: the page is stopped instead.
    QTest::addColumn<bool>("stopped");
    // Each says what it says for six seconds, then tells the page's title.
    const QByteArray loop = "var end = Date.now() + 6000; while (Date.now() < end) ";
    QTest::newRow("short lines") << loop + "console.debug('x');" << false;
    QTest::newRow("long lines") << "var line = 'y'.repeat(200000); " + loop + "console.log(line);" << false;
    QTest::newRow("finder's lines without the secret")
        << "var line = 'photoforKP:movie ' + '0'.repeat(32) + ' ' + JSON.stringify({handover: '1'.repeat(32),"
           " proof: '2'.repeat(32), movie: 'http://x.test/' + 'm'.repeat(60000) + '.swf', page: location.href}); "
               + loop + "console.debug(line);"
        << false;
    QTest::newRow("a new frame's console")
        << "var f = document.body.appendChild(document.createElement('iframe')); var c = f.contentWindow.console; "
               + loop + "c.debug('x');"
        << true;
    QTest::newRow("a worker's console") << "var w = new Worker(URL.createObjectURL(new Blob([\"" + loop
                                               + "console.debug('x'); postMessage(1);\"], {type: 'text/javascript'})));"
                                                 " w.onmessage = function () { document.title = 'said'; }; throw 0;"
                                        << true;
}

// A page of the internet says things on its console in a loop; once it is done, the
// album button: the album's first frame comes as it comes after a quiet page.
void TestFloodsX11::consoleFloods()
{
    QFETCH(QByteArray, flood);
    QFETCH(bool, stopped);
    QFile album(SiteMirror::defaultRoot() + QStringLiteral("/kpfolder/kpphotos/xiaoxiao/kp_message.swf"));
    QVERIFY(album.open(QIODevice::ReadOnly));
    const QByteArray movie = album.readAll();
    http::Server site([&](const http::Request &r, http::Response *s) {
        if (r.path().endsWith(".swf"))
            return s->send(200, "application/x-shockwave-flash", movie);
        s->send(200, "text/html",
                "<!DOCTYPE html><title>card</title><body><script>onload = function () {" + flood
                    + " document.title = 'said'; };</script>");
    });
    // Of another site than the player host's, as a page of the internet is: its process
    // is not the players'.
    QVERIFY(site.listen(QHostAddress(QStringLiteral("127.0.0.3"))));
    QVERIFY(showMainFor(QStringLiteral("127.0.0.3:%1").arg(site.port())));
    press(main->Command2());
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    if (stopped) {
        QTRY_COMPARE_WITH_TIMEOUT(view.notice(), QStringLiteral("页面已停止运行，请重新打开。"), 30000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(view.title(), QStringLiteral("said"), 30000);
        // The page's own console says nothing: none of it reaches the program's main thread.
        const qint64 heard = view.viewerPage()->consoleMessagesHeard();
        QVERIFY2(heard < 10, qPrintable(QString::number(heard)));
    }
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    press(main->Command5());
    QTRY_VERIFY_WITH_TIMEOUT(!painted.isEmpty(), 20000);
    QCOMPARE(painted[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
}

QTEST_MAIN(TestFloodsX11)
#include "tst_floods_x11.moc"
