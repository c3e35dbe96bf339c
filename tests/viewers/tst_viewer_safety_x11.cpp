#include "Form1.h"
#include "Form2.h"
#include "frmtest.h"
#include "runtime.h"
#include "viewers.h"
#include "enginefixture.h"
#include "enginetools.h"
#include "server.h"
#include "sitemirror.h"
#include "viewerpage.h"
#include "browserengine.h"
#include "guard.h"
#include "playerhost.h"
#include "viewertools.h"
#include "x11tools.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>
#include <QTest>

#include <csignal>
#include <map>

using namespace forms;

// What a hostile or broken page can do to the program, in real windows: hold it with
// dialogs, hand other schemes to the desktop, die under its viewer.
class TestViewerSafetyX11 : public QObject, protected EngineFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { engine::release(); }
    void dialogsNeverHoldTheProgram();
    void dialogLoopsAreStopped();
    void outsideSchemesNeverLeave();
    void newWindowsGoToTheBrowser();
    void webSocketsOfTheInternetWork();
    void internetPagesCannotFrameThisMachine();
    void closedPagesGoQuiet_data();
    void closedPagesGoQuiet();
    void fileInputHoldsNothing();
    void storageStaysInMemory();
    void framesCannotReplaceThePage();
    void deadPageProcessIsSaid_data();
    void deadPageProcessIsSaid();
    void chineseAndReadable();

private:
    QString url(const char *path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(site->port()).arg(path); }
    Form2 &openPage(const char *path);
    QList<QDialog *> dialogs(Form &viewer);
    void whenDialog(Form &viewer, const std::function<void(QDialog *)> &act);
    void click(QWidget &w) { x11::clickAt(w.mapToGlobal(w.rect().center())); }
    void clickSeen(QWebEngineView &view, QPoint at);

    QTemporaryDir tools;
    std::map<QByteArray, QByteArray> pages;
    QList<QByteArray> acceptLanguages;
    int beacons = 0;
    int flashAsked = 0;
    int marks = 0; // from a page that calls home as the closed one did, for comparison
    std::unique_ptr<http::Server> site;
    std::unique_ptr<SiteMirror> mirror;
};

void TestViewerSafetyX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    // A stand-in for the desktop's opener that only writes down what it was given.
    const QString opener = tools.filePath(QStringLiteral("xdg-open"));
    QFile script(opener);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(tools.filePath("opened")).toUtf8());
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    qputenv("PATH", tools.path().toUtf8() + ':' + qgetenv("PATH"));
    qunsetenv("BROWSER");

    // Elements a person clicks, one every 40 px from the top.
    QByteArray rows;
    for (const char *element :
         {"<a href='mailto:someone@example.org'>mail</a>", "<a href='anything://link'>link</a>",
          "<button onclick=\"location='anything://script'\">script</button>",
          "<form action='anything://form'><button>form</button></form>", "<a href='/to-scheme'>redirect</a>",
          "<button onclick=\"document.body.appendChild(Object.assign(document.createElement("
          "'iframe'),{src:'anything://frame'}))\">frame</button>",
          "<button onclick=\"window.open('anything://window')\">window</button>",
          // Last, what may go: the browser gets it after anything before it would have.
          "<a href='http://www.example.com/marker' target='_blank'>marker</a>"})
        rows += QByteArray("<div style='position:absolute;left:0;width:300px;height:30px;top:")
                + QByteArray::number(rows.count("<div") * 40) + "px'>" + element + "</div>";
    pages["/schemes.html"]
        = "<!DOCTYPE html><title>schemes</title><style>a,button{display:block;width:100%;height:30px}"
          "</style><script>var clicks = 0; addEventListener('click', function () { ++clicks; }, true);"
          "</script><body style='margin:0'>"
          + rows;
    pages["/alerts.html"] = "<!DOCTYPE html><title>alerts</title><script>var n = 0;"
                            "onload = function () { for (var i = 0; i < 50; i++) alert('第 ' + (++n) + ' 个');"
                            " document.title = 'done ' + n; };</script>";
    pages["/windows.html"]
        = "<!DOCTYPE html><title>windows</title><style>a,button{display:block;width:300px;height:30px}</style>"
          "<body style='margin:0' onload=\"window.open('http://www.example.com/unasked')\">"
          "<script>var clicks = 0; addEventListener('click', function () { ++clicks; }, true);</script>"
          "<a href='http://127.0.0.1:1/machine' target='_blank'>machine</a>"
          "<a href='http://192.168.1.1/router' target='_blank'>router</a>"
          "<a href='http://mine.local9/name' target='_blank'>name</a>"
          "<a href='http://www.example.com/link' target='_blank'>link</a>"
          "<button onclick=\"window.open('http://www.example.com/script');"
          " window.open('http://www.example.com/again')\">script</button>";
    pages["/plain.html"] = "<!DOCTYPE html><title>plain</title><h1>你好</h1>";
    const QByteArray beacon = "<script>setInterval(function () { fetch('/beacon'); }, 200);"
                              " var clicks = 0; addEventListener('click', function () { ++clicks; }, true);</script>"
                              "<body style='margin:0'><div style='width:400px;height:300px'>page</div>";
    pages["/marker.html"] = "<!DOCTYPE html><title>marker</title><script>setInterval(function () { fetch('/mark'); },"
                            " 200);</script>";
    pages["/beacon.html"] = "<!DOCTYPE html><title>beacon</title>" + beacon;
    pages["/stay.html"] = "<!DOCTYPE html><title>stay</title><script>onbeforeunload = function (e) {"
                          " e.preventDefault(); e.returnValue = 'stay'; return 'stay'; };</script>"
                          + beacon;
    pages["/file.html"] = "<!DOCTYPE html><title>file</title><body style='margin:0'>"
                          "<input type='file' style='display:block;width:400px;height:100px'>";
    site = std::make_unique<http::Server>([this](const http::Request &r, http::Response *s) {
        acceptLanguages << r.header("Accept-Language");
        if (r.path() == "/beacon")
            return ++beacons, s->send(204, {}, {});
        if (r.path() == "/mark")
            return ++marks, s->send(204, {}, {});
        if (r.path() == "/flash") // a movie without .swf in its name: known by its type
            return ++flashAsked, s->send(200, "application/x-shockwave-flash",
                                         QByteArray("FWS\x0a\x15\x00\x00\x00", 8) + QByteArray(13, 0));
        if (r.path() == "/to-scheme")
            return s->send(302, {}, {}, {{"Location", "anything://redirect"}});
        if (r.path() == "/to")
            return s->send(302, {}, {}, {{"Location", r.query()}});
        const auto it = pages.find(r.path());
        if (it == pages.end())
            return s->send(404, "text/plain", "no");
        s->send(200, r.path().endsWith(".js") ? "text/javascript" : "text/html; charset=utf-8", it->second);
    });
    QVERIFY(site->listen());
}

void TestViewerSafetyX11::init()
{
    mirror = std::make_unique<SiteMirror>(SiteMirror::defaultRoot());
    QVERIFY(mirror->listen());
    // The tests run as root, where the program hands nothing to the desktop's browser;
    // here the stand-in opener may be given what any user's would.
    BrowserEngine &engine = startEngineRuntime(mirror->host());
    engine.setHandsToBrowser(true);
    // Names of the internet, as the test's own resolver would place them.
    static bool mapped = false;
    if (!std::exchange(mapped, true)) {
        engine.connectionGuard().mapNameForTests(QStringLiteral("*.test"), QHostAddress(QStringLiteral("127.0.0.1")));
        engine.connectionGuard().mapNameForTests(QStringLiteral("www.example.com"),
                                                 QHostAddress(QStringLiteral("127.0.0.1")));
        // A name that leads to this machine (its own names, DNS rebinding).
        engine.connectionGuard().mapNameForTests(QStringLiteral("mine.local9"),
                                                 QHostAddress(QStringLiteral("127.0.0.9")));
    }
    main->Show();
    QVERIFY(QTest::qWaitForWindowExposed(&main->window()));
}

void TestViewerSafetyX11::cleanup()
{
    const QString errors = reportedText();
    stopRuntime();
    mirror.reset();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

Form2 &TestViewerSafetyX11::openPage(const char *path)
{
    // As a catalogue command opens it: whatever was open goes first.
    main->Text1().SetText(url(path));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    return rt->form<Form2>();
}

QList<QDialog *> TestViewerSafetyX11::dialogs(Form &viewer)
{
    QList<QDialog *> shown;
    if (viewer.isLoaded())
        for (QDialog *d : viewer.window().findChildren<QDialog *>())
            if (d->isVisible())
                shown << d;
    return shown;
}

// Clicks where the page counts clicks (its script's "clicks"), again should the page
// not have seen it (a page may show before it takes input); a click it saw is never
// repeated.
void TestViewerSafetyX11::clickSeen(QWebEngineView &view, QPoint at)
{
    const int before = js(view.page(), "clicks").toInt();
    for (int attempt = 0; attempt < 3 && js(view.page(), "clicks").toInt() == before; ++attempt) {
        x11::clickAt(view.mapToGlobal(at));
        (void)QTest::qWaitFor([&] { return js(view.page(), "clicks").toInt() > before; }, 3000);
    }
    QCOMPARE(js(view.page(), "clicks").toInt(), before + 1);
}

// A page's dialog runs the event loop while the page waits, so what a person does
// meanwhile is done from that loop: act runs once a dialog of the viewer is up.
void TestViewerSafetyX11::whenDialog(Form &viewer, const std::function<void(QDialog *)> &act)
{
    auto *poll = new QTimer(rt.get()); // goes with the runtime, whatever happens
    connect(poll, &QTimer::timeout, this, [this, &viewer, act, poll] {
        const QList<QDialog *> shown = dialogs(viewer);
        if (shown.isEmpty())
            return;
        poll->deleteLater();
        poll->stop();
        QPointer<QDialog> dialog = shown.first();
        act(dialog);
        // Should the act not take the dialog away, the test must fail, not wait forever.
        QTimer::singleShot(10000, this, [dialog] {
            if (dialog) {
                qWarning("the dialog outlived what should have closed it");
                dialog->reject();
            }
        });
    });
    poll->start(50);
}

void TestViewerSafetyX11::dialogsNeverHoldTheProgram()
{
    Form2 &viewer = rt->form<Form2>();
    QPointer<QDialog> dialog;
    const auto meanwhile = [&](const std::function<void()> &act) {
        bool acted = false;
        whenDialog(viewer, [&, act](QDialog *d) {
            dialog = d;
            QVERIFY(d->windowModality() == Qt::NonModal);
            act();
            acted = true;
        });
        openPage("/alerts.html");
        QTRY_VERIFY_WITH_TIMEOUT(acted, 20000);
    };

    // The main window's buttons work while a page's dialog is up, and take it away.
    meanwhile([&] { click(main->Command2()); });
    QTRY_VERIFY(dialog.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().title(), QStringLiteral("明信片鉴赏 · 冰港"), 20000);

    // So does the viewer's own close box.
    meanwhile([&] {
        const QRect frame = viewer.window().frameGeometry();
        const int caption = viewer.window().geometry().top() - frame.top();
        x11::clickAt(QPoint(frame.right() - caption / 2, frame.top() + caption / 2));
    });
    QTRY_VERIFY_WITH_TIMEOUT(!viewer.isLoaded(), 10000);
    QTRY_VERIFY(dialog.isNull());

    // And closing the program: the viewer and its dialog go at once.
    QElapsedTimer closing;
    meanwhile([&] {
        closing.start();
        main->window().close();
    });
    QTRY_VERIFY_WITH_TIMEOUT(!viewer.isLoaded(), 10000);
    QVERIFY(closing.elapsed() < 2000);
    QTRY_VERIFY(dialog.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(!main->isLoaded(), 10000);
}

void TestViewerSafetyX11::dialogLoopsAreStopped()
{
    // A reader who answers each dialog at once: after a few in a row, the page gets no more.
    Form2 &viewer = rt->form<Form2>();
    int answered = 0;
    QTimer reader;
    connect(&reader, &QTimer::timeout, this, [&] {
        for (QDialog *d : dialogs(viewer)) {
            d->findChild<QPushButton *>()->click();
            ++answered;
        }
    });
    reader.start(20);
    openPage("/alerts.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("done 50"), 30000);
    QVERIFY2(answered <= 4, qPrintable(QString::number(answered)));
    QVERIFY(viewer.WebBrowser1().viewerPage()->dialogsStopped());
}

void TestViewerSafetyX11::outsideSchemesNeverLeave()
{
    Form2 &viewer = openPage("/schemes.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("schemes"), 20000);
    QWebEngineView &view = viewer.WebBrowser1();
    QFile::remove(tools.filePath("opened"));
    for (int row = 0; row < 8; ++row)
        clickSeen(view, QPoint(100, row * 40 + 15));
    const auto opened = [this] {
        QFile f(tools.filePath("opened"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!opened().isEmpty(), 10000);
    QCOMPARE(opened(), QStringLiteral("http://www.example.com/marker")); // and nothing of another scheme
    QCOMPARE(view.url(), QUrl(url("/schemes.html")));
    QCOMPARE(rt->Forms().size(), size_t(2)); // no new window either
}

// A new window a person's click asks for, in a page or in a movie, opens in the
// desktop's browser: web addresses on the internet only, one per click, none unasked,
// and a movie's page for its own frame stays out.
// What the guard lets through works as it did: a page's WebSocket to the internet (127.0.0.1
// here) opens, through the guard's tunnel, and carries messages both ways.
void TestViewerSafetyX11::webSocketsOfTheInternetWork()
{
    QTcpServer echo;
    QVERIFY(echo.listen(QHostAddress::LocalHost));
    connect(&echo, &QTcpServer::newConnection, &echo, [&] {
        QTcpSocket *s = echo.nextPendingConnection();
        auto head = std::make_shared<QByteArray>();
        connect(s, &QTcpSocket::readyRead, s, [s, head] {
            if (head->endsWith("\r\n\r\n")) { // a frame from the page: masked text, up to 125 bytes
                const QByteArray f = s->readAll();
                QByteArray text = f.mid(6, f[1] & 0x7f);
                for (qsizetype i = 0; i < text.size(); ++i)
                    text[i] = char(text[i] ^ f[2 + i % 4]);
                s->write(QByteArray("\x81") + char(text.size() + 5) + "echo " + text);
                return;
            }
            *head += s->readAll();
            const qsizetype at = head->indexOf("Sec-WebSocket-Key: ");
            if (!head->endsWith("\r\n\r\n") || at < 0)
                return;
            const QByteArray key = head->mid(at + 19, head->indexOf("\r\n", at) - at - 19);
            const QByteArray accept
                = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
                      .toBase64();
            s->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Accept: "
                     + accept + "\r\n\r\n");
        });
    });
    pages["/socket.html"]
        = QStringLiteral("<!DOCTYPE html><title>socket</title><script>"
                         "var ws = new WebSocket('ws://127.0.0.1:%1/');"
                         "ws.onopen = function () { ws.send('hi'); };"
                         "ws.onmessage = function (e) { document.title = e.data; };"
                         "ws.onclose = function (e) { document.title = 'closed ' + e.code; };</script>")
              .arg(echo.serverPort())
              .toUtf8();
    Form2 &viewer = openPage("/socket.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("echo hi"), 20000);
}

void TestViewerSafetyX11::newWindowsGoToTheBrowser()
{
    QFile::remove(tools.filePath("opened"));
    const auto opened = [this] {
        QFile f(tools.filePath("opened"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList();
    };
    Form2 &viewer = openPage("/windows.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("windows"), 20000);
    QWebEngineView &view = viewer.WebBrowser1();
    for (int row = 0; row < 5; ++row)
        clickSeen(view, QPoint(100, row * 30 + 15));
    // What the last click asked for came; nothing before it (unasked, this machine,
    // the home network, a name that leads to this machine) ever did, and the click opened one window, not two.
    QTRY_VERIFY_WITH_TIMEOUT(opened().contains("http://www.example.com/script"), 10000);

    // A movie's getURL: to its own frame (the right half), nothing; to a new window.
    SiteMirror movies(QFINDTESTDATA("../player/probe"));
    QVERIFY(movies.listen());
    main->Text1().SetText("http://" + movies.host() + "/movies/links.swf");
    QSignalSpy painted(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    viewers::show(*rt, catalogue::Viewer::Album, main->Text1().Text(), {});
    ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
    QTRY_VERIFY_WITH_TIMEOUT(painted.size() == 1, 30000);
    const QUrl playerPage = player.url();
    x11::clickAt(player.mapToGlobal(QPoint(player.width() * 3 / 4, player.height() / 2))); // its own frame
    x11::clickAt(player.mapToGlobal(QPoint(player.width() / 4, player.height() / 2)));
    QTRY_VERIFY_WITH_TIMEOUT(opened().contains("http://www.example.com/new-window"), 10000);
    QCOMPARE(opened(), QStringList({"http://www.example.com/link", "http://www.example.com/script",
                                    "http://www.example.com/new-window"}));
    QCOMPARE(player.url(), playerPage);
}

// A page of the internet cannot send a frame, or itself, into this machine or its
// network, whatever it calls the address; pages of this machine still may, and frames to
// the internet go.
void TestViewerSafetyX11::internetPagesCannotFrameThisMachine()
{
    // This machine: a service off the addresses that count as the internet here.
    QStringList reached;
    http::Limits bodies; // posts arrive whole, to be seen
    bodies.maxBodyBytes = 1024;
    http::Server local(
        [&](const http::Request &r, http::Response *s) {
            reached << QString::fromLatin1(r.path());
            s->send(200, "text/html", "<title>local</title>secret");
        },
        bodies);
    QVERIFY(local.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    // A server of the internet, to show the page went on after. (localhost here leads to
    // 127.0.0.1, which stands for the internet in these tests: nothing listens there
    // on the port of this machine's service.)
    http::Server far([&](const http::Request &r, http::Response *s) {
        reached << QString::fromLatin1(r.path());
        s->send(200, "text/html", "<title>far</title>");
    });
    QVERIFY(far.listen());
    const QByteArray port = QByteArray::number(local.port());
    const QByteArray farPort = QByteArray::number(far.port());
    pages["/frames.html"]
        = "<!DOCTYPE html><title>frames</title><body>"
          "<iframe src='http://127.0.0.9:"
          + port
          + "/literal'></iframe>"
            "<iframe src='http://0x7f000009:"
          + port
          + "/hex'></iframe>"
            "<iframe src='http://localhost:"
          + port
          + "/localhost'></iframe>"
            "<iframe src='http://x.localhost:"
          + port
          + "/sub'></iframe>"
            "<iframe src='/to?http://127.0.0.9:"
          + port
          + "/redirected'></iframe>"
            "<iframe src='http://mine.local9:"
          + port
          + "/name'></iframe>"
            // Frames without an origin of their own post forms there by themselves.
            "<iframe src=\"data:text/html,<form method=post action='http://127.0.0.9:"
          + port
          + "/data-post'>"
            "<input name=a value=1></form><script>document.forms[0].submit()</script>\"></iframe>"
            "<iframe sandbox='allow-scripts allow-forms' srcdoc=\"<form method=post action='http://127.0.0.9:"
          + port
          + "/srcdoc-post'><input name=a value=1></form><script>document.forms[0].submit()</script>\"></iframe>"
            "<iframe id=last></iframe><script>"
            // A worker made of a blob, and a WebSocket; the marker goes once both are done.
            "var left = 2; function done() { if (--left == 0)"
            " document.getElementById('last').src = 'http://far.test:"
          + farPort
          + "/marker'; }"
            "onload = function () {"
            " var ws = new WebSocket('ws://127.0.0.9:"
          + port
          + "/socket');"
            " ws.onerror = ws.onclose = function () { ws.onerror = ws.onclose = null; done(); };"
            " var w = new SharedWorker(URL.createObjectURL(new Blob([\"onconnect = function (e) { var p = e.ports[0];"
            " fetch('http://127.0.0.9:"
          + port
          + "/worker').then(function () { p.postMessage(1); },"
            " function () { p.postMessage(0); }); };\"], {type: 'text/javascript'})));"
            " w.port.onmessage = done; };"
            "</script>";
    pages["/top.html"] = "<!DOCTYPE html><title>top</title><script>"
                         "onload = function () { location = 'http://127.0.0.9:"
                         + port + "/top'; };</script>";
    // From a page of the internet: the frames into this machine never reach it, whatever
    // the spelling, the redirect or the name that leads there; the one to the internet
    // does, after all of them.
    main->Text1().SetText(QStringLiteral("http://site.test:%1/frames.html").arg(site->port()));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_VERIFY2_WITH_TIMEOUT(reached.contains("/marker"), qPrintable(reached.join(" ")), 20000);
    QVERIFY2(reached == QStringList{"/marker"}, qPrintable(reached.join(" ")));
    // Nor the page itself: the viewer says it cannot open it, and this machine saw nothing.
    main->Text1().SetText(QStringLiteral("http://site.test:%1/top.html").arg(site->port()));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().notice(), QStringLiteral("查看器不能打开这个页面。"),
                              20000);
    QVERIFY2(!reached.contains("/top"), qPrintable(reached.join(" ")));
    // A viewer's first load whose site redirects into this machine.
    main->Text1().SetText(
        QStringLiteral("http://site.test:%1/to?http://127.0.0.9:%2/first").arg(site->port()).arg(local.port()));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().notice(), QStringLiteral("查看器不能打开这个页面。"),
                              20000);
    // Typed into the link field, it is judged the same, and the viewer says why.
    main->Text1().SetText(QStringLiteral("http://127.0.0.9:%1/typed").arg(local.port()));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().notice(), QStringLiteral("查看器不能打开这个页面。"),
                              20000);
    QVERIFY2(!reached.contains("/typed"), qPrintable(reached.join(" ")));
    // A typed movie's address, which the relay fetches on its own: held to the same rule.
    QSignalSpy states(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    main->Text1().SetText(QStringLiteral("http://127.0.0.9:%1/typed.swf").arg(local.port()));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    QTRY_COMPARE_WITH_TIMEOUT(states.size(), 1, 20000);
    QCOMPARE(states[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Failed);
    QVERIFY2(!reached.contains("/typed.swf"), qPrintable(reached.join(" ")));
}

void TestViewerSafetyX11::closedPagesGoQuiet_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("a page that keeps calling home") << "/beacon.html";
    QTest::newRow("... and asks to stay, after a click") << "/stay.html";
}

// A closed viewer's page may be kept (blank) for its process: nothing of it goes on.
void TestViewerSafetyX11::closedPagesGoQuiet()
{
    QFETCH(QString, path);
    Form2 &viewer = openPage(path.toLatin1().constData());
    QTRY_VERIFY_WITH_TIMEOUT(beacons > 2, 20000);
    clickSeen(viewer.WebBrowser1(), QPoint(100, 100)); // so that it may ask to stay
    QTest::mouseClick(&viewer.Command1(), Qt::LeftButton);
    QVERIFY(!viewer.isLoaded());
    // Another page calls home as often: while it does, the closed one does not.
    marks = 0;
    openPage("/marker.html");
    QTRY_VERIFY_WITH_TIMEOUT(marks >= 2, 20000);
    const int after = beacons;
    QTRY_VERIFY_WITH_TIMEOUT(marks >= 8, 20000);
    QCOMPARE(beacons, after);
    QVERIFY(dialogs(viewer).isEmpty());
}

// A page that stores what it can (a service worker, databases, caches) makes the program
// write nothing: not under the home folder, where the engine keeps its profile's folder.
void TestViewerSafetyX11::storageStaysInMemory()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(folder).removeRecursively();
    pages["/sw.js"] = "self.onfetch = function () {};";
    pages["/store.html"]
        = "<!DOCTYPE html><title>store</title><script>"
          "var steps = [navigator.serviceWorker.register('/sw.js'),"
          " new Promise(function (ok) { var r = indexedDB.open('d', 1); r.onupgradeneeded = function () {"
          " r.result.createObjectStore('s'); }; r.onsuccess = r.onerror = ok; }),"
          " caches.open('c').then(function (c) { return c.put('/x', new Response('x')); }),"
          " new Promise(function (ok) { try { openDatabase('w', '1', 'w', 1024).transaction(function (t) {"
          " t.executeSql('CREATE TABLE t (a)'); }, ok, ok); } catch (e) { ok(); } })];"
          "Promise.all(steps.map(function (p) { return p.then(null, function () {}); })).then(function () {"
          " localStorage.x = '1'; document.title = 'stored'; });</script>";
    Form2 &viewer = openPage("/store.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("stored"), 20000);
    viewer.Unload();
    QVERIFY2(!QFileInfo::exists(folder), qPrintable(folder));
}

// A frame of another site cannot put a movie in its page's place, by a download link or
// by going to a movie itself; the page going there does (as a browser with the plug-in).
void TestViewerSafetyX11::framesCannotReplaceThePage()
{
    pages["/framed.html"] = "<!DOCTYPE html><title>framed</title><a download href='/flash'>x</a><script>"
                            "document.querySelector('a').click();"
                            "setTimeout(function () { location = '/flash'; }, 300);</script>";
    pages["/holder.html"] = QStringLiteral("<!DOCTYPE html><title>holder</title>"
                                           "<iframe src='http://other.test:%1/framed.html'></iframe>")
                                .arg(site->port())
                                .toUtf8();
    flashAsked = 0;
    main->Text1().SetText(QStringLiteral("http://site.test:%1/holder.html").arg(site->port()));
    rt->form<Form2>().Unload();
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    QSignalSpy wanted(qobject_cast<ViewerPage *>(view.page()), &ViewerPage::movieWanted);
    QSignalSpy downloads(view.page()->profile(), &QWebEngineProfile::downloadRequested);
    // Both of the frame's tries have come to the program (and were turned down) ...
    QTRY_VERIFY_WITH_TIMEOUT(flashAsked >= 2 && downloads.size() >= 2, 20000);
    js(view.page(), QStringLiteral("location = '/flash'"));
    QTRY_COMPARE_WITH_TIMEOUT(wanted.size(), 1, 20000);
    QCOMPARE(wanted[0][0].toUrl().host(), QStringLiteral("site.test"));
}

void TestViewerSafetyX11::fileInputHoldsNothing()
{
    Form2 &viewer = openPage("/file.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("file"), 20000);
    x11::clickAt(viewer.WebBrowser1().mapToGlobal(QPoint(100, 50)));
    // The page asked for a file and had none, at once: nothing else came up meanwhile.
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().viewerPage()->fileChoicesRefused(), 1, 10000);
    QVERIFY(!QApplication::activeModalWidget());
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible() || w == &main->window() || w == &viewer.window(), qPrintable(w->windowTitle()));
}

void TestViewerSafetyX11::deadPageProcessIsSaid_data()
{
    QTest::addColumn<bool>("album");
    QTest::newRow("page") << false;
    QTest::newRow("album") << true;
}

void TestViewerSafetyX11::deadPageProcessIsSaid()
{
    QFETCH(bool, album);
    if (album)
        QTest::mouseClick(&main->Command5(), Qt::LeftButton);
    else
        QTest::mouseClick(&main->Command2(), Qt::LeftButton);
    ViewerView &view = album ? static_cast<ViewerView &>(rt->form<Form1>().ShockwaveFlash1())
                             : static_cast<ViewerView &>(rt->form<Form2>().WebBrowser1());
    QTRY_VERIFY_WITH_TIMEOUT(!view.title().isEmpty() && view.page()->renderProcessPid() > 0, 20000);
    QVERIFY(::kill(pid_t(view.page()->renderProcessPid()), SIGKILL) == 0);
    QTRY_COMPARE_WITH_TIMEOUT(view.notice(), QStringLiteral("页面已停止运行，请重新打开。"), 10000);
    // The next press works as always.
    QTest::mouseClick(&main->Command3(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().title(), QStringLiteral("图谱鉴赏 · 观赏鱼"), 20000);
    QVERIFY(rt->form<Form2>().WebBrowser1().notice().isEmpty());
}

void TestViewerSafetyX11::chineseAndReadable()
{
    // A page that cannot open says so in Chinese whatever the system locale (LANG=C
    // here), and sites are asked for Chinese first.
    main->Text1().SetText(QStringLiteral("http://127.0.0.1:9/"));
    viewers::show(*rt, catalogue::Viewer::Page, main->Text1().Text(), {});
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    QTRY_COMPARE_WITH_TIMEOUT(view.notice(), QStringLiteral("无法打开这个页面，请稍后再试。"), 20000);
    QAccessible::setActive(true); // as when a screen reader starts
    acceptLanguages.clear();
    Form2 &viewer = openPage("/plain.html");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.WebBrowser1().title(), QStringLiteral("plain"), 20000);
    QVERIFY(acceptLanguages.value(0).startsWith("zh-CN"));

    // A screen reader finds the page's document, with its title; the viewer's own
    // controls are named and its decoration is not there.
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&viewer.window());
    QStringList heard;
    for (int i = 0; i < window->childCount(); ++i)
        heard << window->child(i)->object()->objectName();
    heard.sort();
    QCOMPARE(heard, QStringList({"Command1", "Label1", "WebBrowser1"}));
    QAccessibleInterface *browser = QAccessible::queryAccessibleInterface(&viewer.WebBrowser1());
    QCOMPARE(browser->text(QAccessible::Name), QStringLiteral("鉴赏页面"));
    const auto findDocument = [](QAccessibleInterface *root) {
        QList<QAccessibleInterface *> queue{root};
        while (!queue.isEmpty()) {
            QAccessibleInterface *i = queue.takeFirst();
            if (i->role() == QAccessible::WebDocument)
                return i->text(QAccessible::Name);
            for (int k = 0; k < i->childCount(); ++k)
                if (i->child(k))
                    queue << i->child(k);
        }
        return QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(findDocument(browser), QStringLiteral("plain"), 10000);
}

QTEST_MAIN(TestViewerSafetyX11)
#include "tst_viewer_safety_x11.moc"
