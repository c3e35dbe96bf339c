#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "cataloguesaver.h"
#include "catalogue.h"
#include "enginetools.h"
#include "frmtest.h"
#include "guard.h"
#include "playerhost.h"
#include "recorder.h"
#include "enginefixture.h"
#include "server.h"
#include "sitearchive.h"
#include "viewers.h"
#include "viewertools.h"
#include "x11tools.h"

#include <QLabel>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace forms;

// The site gone, its pages and albums from the local web archive: by real presses, at
// both capture times; and the offer of an archived copy when a link fails.
class TestArchiveX11 : public QObject, protected EngineFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { engine::release(); }
    void everyCatalogueFromTheArchive_data();
    void everyCatalogueFromTheArchive();
    void whatTheArchiveDoesNotHold();
    void saveTheWholeCatalogue();
    void offerAfterADeadSite_data();
    void offerAfterADeadSite();
    void theArchiveSaysItsOwnTroubles();
    void archivedPagesReachNothingHere();

private:
    bool press(int button, const QString &key);
    void pressEveryCatalogue(bool fromArchive);
    std::unique_ptr<SiteArchive> archive;
    QString deadSite, deadPages; // where nothing listens
};

namespace {

// The originals the archive holds: the site as the program is built for it (never asked
// or looked up in a run from the archive), and its second host.
const QString Site = QStringLiteral("www.ostavel.example");
const QString Second = QStringLiteral("img.ostavel.example");

} // namespace

void TestArchiveX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    QTcpServer gone, goneToo;
    QVERIFY(gone.listen(QHostAddress::LocalHost) && goneToo.listen(QHostAddress::LocalHost));
    deadSite = QStringLiteral("127.0.0.1:%1").arg(gone.serverPort());
    deadPages = QStringLiteral("127.0.0.1:%1").arg(goneToo.serverPort());
    gone.close();
    goneToo.close();
    archive = std::make_unique<SiteArchive>(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(),
                                            QStringList{Site, Second, deadSite, deadPages});
    QVERIFY2(archive->listen(), qPrintable(archive->errorString()));
}

void TestArchiveX11::init()
{
    startEngineRuntime(Site).setArchive(QUrl(archive->prefix()), QStringLiteral("2010"), true);
    main->Show();
    QVERIFY(QTest::qWaitForWindowExposed(&main->window()));
}

void TestArchiveX11::cleanup()
{
    const QString errors = reportedText();
    stopRuntime();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

namespace {
// The line that names the copy stands in the window's strip, left of 关闭, whole, and
// covers nothing of the page or movie.
bool labelBesideClose(ViewerForm &viewer)
{
    QWidget &window = viewer.window();
    const QRect close = viewer.Command1().geometry();
    const QRect view = window.findChild<ViewerView *>()->geometry();
    for (const QLabel *l : window.findChildren<QLabel *>()) {
        if (!l->isVisible() || !l->text().startsWith(QStringLiteral("存档副本")))
            continue;
        const QRect r = l->geometry();
        return !r.intersects(view) && !r.intersects(close) && r.right() < close.left() && r.top() > view.bottom()
               && window.rect().contains(r) && l->heightForWidth(r.width()) <= r.height();
    }
    return false;
}
} // namespace

bool TestArchiveX11::press(int button, const QString &key)
{
    CommandButton *const buttons[]
        = {nullptr, &main->Command1(), &main->Command2(), &main->Command3(), &main->Command4(), &main->Command5()};
    DropDownList *const lists[]
        = {nullptr, &main->Combo1(), &main->Combo2(), &main->Combo3(), nullptr, &main->Combo4()};
    if (button == 4)
        main->Text2().SetText(key);
    else
        lists[button]->SetText(key);
    x11::clickAt(buttons[button]->mapToGlobal(buttons[button]->rect().center()));
    return true;
}

void TestArchiveX11::everyCatalogueFromTheArchive_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("copy"); // kept in a copy, then again from the copy alone
    QTest::newRow("2010") << "2010" << QStringLiteral("存档副本 · 2010年3月15日") << false;
    QTest::newRow("2011, then from its copy") << "201105" << QStringLiteral("存档副本 · 2011年5月3日") << true;
}

namespace {
// What a copy holds: each capture's address and time.
QStringList capturesIn(const QString &records)
{
    QFile file(records);
    QString why;
    std::optional<QList<warc::IndexEntry>> entries;
    if (file.open(QIODevice::ReadOnly))
        entries = warc::scan(file, QStringLiteral("data.warc.gz"), {}, &why);
    QStringList captures;
    for (const warc::IndexEntry &e : entries.value_or(QList<warc::IndexEntry>{}))
        captures << QString::fromLatin1(e.url) + u' ' + e.timestamp;
    captures.sort();
    return captures;
}
} // namespace

// One press of each button in a row, pages with their movies and an album with its loads.
// Kept in a copy, the same presses from the copy alone load the same captures, and the
// archive is asked nothing.
void TestArchiveX11::everyCatalogueFromTheArchive()
{
    QFETCH(QString, date);
    QFETCH(bool, copy);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("catalogue.wacz"));
    std::shared_ptr<wayback::Recorder> recorder;
    if (copy) {
        QString why;
        recorder = wayback::Recorder::open(path, &why);
        QVERIFY2(recorder, qPrintable(why));
        ViewerServices::of(*rt).engine().connectionGuard().routing().setRecorder(recorder);
    }
    ViewerServices::of(*rt).engine().setArchive(QUrl(archive->prefix()), date, true);
    pressEveryCatalogue(true);
    if (!copy)
        return;
    // The album's own loads are kept once the relay has passed them on whole.
    QTRY_VERIFY_WITH_TIMEOUT(capturesIn(path + ".warc.gz").filter(QRegularExpression("/(photos|frame).swf ")).size() == 2,
                             10000);
    const QStringList kept = capturesIn(path + ".warc.gz");
    QVERIFY2(kept.size() >= 11, qPrintable(kept.join(", ")));
    QString why;
    QVERIFY2(recorder->finish(&why), qPrintable(why));
    QVERIFY(!QFile::exists(path + ".warc.gz"));
    auto files = std::make_shared<warc::Collection>();
    QVERIFY2(files->add(path, &why), qPrintable(why));
    QCOMPARE(files->size(), kept.size());
    QStringList pages;
    for (const warc::Page &page : files->pages())
        pages << page.url.path() + u' ' + page.title;
    // The four pages under their titles, and the album.
    QVERIFY2(pages.size() == 5 && pages.filter(QRegularExpression(QStringLiteral("^/kptemp/card2.html .+ · 丛林$"))).size() == 1,
             qPrintable(pages.join(", ")));

    // Again from the copy alone, kept once more to see what was loaded.
    const QString again = folder.filePath(QStringLiteral("again.wacz"));
    std::shared_ptr<wayback::Recorder> seen = wayback::Recorder::open(again, &why);
    QVERIFY2(seen, qPrintable(why));
    ViewerServices::of(*rt).engine().connectionGuard().routing().setRecorder(seen);
    ViewerServices::of(*rt).engine().connectionGuard().setArchive(
        {QUrl(QString::fromLatin1(wayback::FilePrefix)), date, files}, true);
    const qsizetype asked = archive->targets().size();
    pressEveryCatalogue(false);
    QTRY_COMPARE_WITH_TIMEOUT(capturesIn(again + ".warc.gz"), kept, 20000);
    QCOMPARE(archive->targets().size(), asked);
    ViewerServices::of(*rt).engine().connectionGuard().routing().setRecorder(nullptr);
}

void TestArchiveX11::pressEveryCatalogue(bool fromArchive)
{
    const QString label = QTest::currentDataTag() == QByteArray("2010") ? QStringLiteral("存档副本 · 2010年3月15日")
                                                                         : QStringLiteral("存档副本 · 2011年5月3日");
    const bool later = label.contains(QStringLiteral("2011"));
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);
    const struct
    {
        int button;
        QString key, path;
        int movies;
    } presses[] = {{1, QStringLiteral("爱迪鹅日"), QStringLiteral("/kppostcard/card1.html"), 1},
                   {3, QStringLiteral("观赏鱼"), QStringLiteral("/kpfolder/swf/x01.html"), 2},
                   {2, QStringLiteral("丛林"), QStringLiteral("/kptemp/card2.html"), 1},
                   {4, QStringLiteral("6"), QStringLiteral("/kphtml/gift6.html"), 0},
                   {5, QStringLiteral("小小相册"), QStringLiteral("/kpfolder/kpphotos/xiaoxiao/kp_message.swf"), 1}};
    for (const auto &p : presses) {
        const QString where = p.key;
        const qsizetype asked = archive->targets().size();
        reports.clear();
        press(p.button, p.key);
        if (p.button == 5) {
            ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
            QTRY_VERIFY_WITH_TIMEOUT(player.isVisible(), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 30000);
            QCOMPARE(reports[0][1].value<PlayerHost::MovieState>(), PlayerHost::MovieState::Painted);
            // Its photo strip beside it; at the later capture also a frame by a root-relative address.
            const QByteArray strip = "/http://" + Site.toLatin1() + "/kpfolder/kpphotos/xiaoxiao/photos.swf";
            const QByteArray frame = "/http://" + Site.toLatin1() + "/kpfolder/kpphotos/frame.swf";
            const auto wasAsked = [&](const QByteArray &end) {
                const QList<QByteArray> since = archive->targets().mid(asked);
                return std::any_of(since.cbegin(), since.cend(), [&](const QByteArray &t) { return t.endsWith(end); });
            };
            if (fromArchive) {
                QTRY_VERIFY2_WITH_TIMEOUT(wasAsked(strip), qPrintable(where), 10000);
                if (later)
                    QTRY_VERIFY2_WITH_TIMEOUT(wasAsked(frame), qPrintable(where), 10000);
            }
            QTRY_COMPARE(player.archiveLabel(), label);
            QVERIFY(labelBesideClose(rt->form<Form1>()));
            continue;
        }
        WebBrowser &view = rt->form<Form2>().WebBrowser1();
        // The page under its own address, as the site had it then.
        QTRY_COMPARE_WITH_TIMEOUT(view.url().toString(), "http://" + Site + p.path, 20000);
        QTRY_VERIFY2_WITH_TIMEOUT(viewertools::js(view.page(), "document.body ? document.body.innerText : ''")
                                      .toString()
                                      .contains(QStringLiteral("本地镜像页面: ") + p.path),
                                  qPrintable(where), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(view.archiveLabel(), label, 5000);
        QVERIFY(labelBesideClose(rt->form<Form2>()));
        if (p.path.endsWith(QLatin1String("x01.html")))
            QCOMPARE(viewertools::js(view.page(), "!!document.getElementById('capture')").toBool(), later);
        QTRY_VERIFY2_WITH_TIMEOUT(
            reports.size() >= p.movies,
            qPrintable(where + " " + QString::fromLatin1(archive->targets().mid(asked).join(' '))), 30000);
        for (const QVariantList &report : std::as_const(reports))
            QVERIFY2(report[1].value<PlayerHost::MovieState>() == PlayerHost::MovieState::Painted, qPrintable(where));
    }
    // Nothing but original addresses was asked of the archive.
    for (const QByteArray &target : archive->targets())
        QVERIFY2(target.contains("_/http://" + Site.toLatin1() + "/")
                     || target.contains("_/http://" + Second.toLatin1() + "/"),
                 target.constData());
}

// Every entry in turn into a copy, as the desktop action does it, with short play times:
// each one the archive holds is in the file, the one it lacks is said, and a second run
// with the same file keeps what is there and asks the archive for nothing it holds.
void TestArchiveX11::saveTheWholeCatalogue()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("whole.wacz"));
    QString why;
    std::shared_ptr<wayback::Recorder> recorder = wayback::Recorder::open(path, &why);
    QVERIFY2(recorder, qPrintable(why));
    wayback::Routing &routing = ViewerServices::of(*rt).engine().connectionGuard().routing();
    routing.setRecorder(recorder);
    const QList<CatalogueSaver::Entry> entries = CatalogueSaver::everyEntry(Site);
    QCOMPARE(entries.size(), 61);
    {
        CatalogueSaver saver(*rt, entries, {200, 500, 60000});
        QSignalSpy finished(&saver, &CatalogueSaver::finished);
        saver.show();
        saver.start();
        QVERIFY(finished.wait(240000));
        QCOMPARE(saver.done(), 61);
        const QList<QLabel *> labels = saver.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(), [](QLabel *l) { return l->text() == "61 / 61"; }));
        QCOMPARE(saver.failures(), QStringList{QStringLiteral("明信片鉴赏 · 植物园:存档中没有")});
        QCOMPARE(saver.savedWhole(), 60);
    }
    QVERIFY2(recorder->finish(&why), qPrintable(why));
    warc::Collection files;
    QVERIFY2(files.add(path, &why), qPrintable(why));
    for (const CatalogueSaver::Entry &e : entries)
        QVERIFY2(files.nearest(QUrl(e.link), QDateTime(QDate(2010, 3, 15), QTime(9, 30), Qt::UTC))
                     || e.name.endsWith(QStringLiteral("植物园")),
                 qPrintable(e.name));
    const qint64 held = files.size();

    recorder = wayback::Recorder::open(path, &why);
    QVERIFY2(recorder, qPrintable(why));
    routing.setRecorder(recorder);
    const qsizetype asked = archive->targets().size();
    CatalogueSaver again(*rt, entries.mid(0, 3), {200, 500, 60000});
    QSignalSpy finished(&again, &CatalogueSaver::finished);
    again.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(again.savedWhole(), 3);
    QCOMPARE(archive->targets().size(), asked);
    QVERIFY2(recorder->finish(&why), qPrintable(why));
    warc::Collection after;
    QVERIFY2(after.add(path, &why), qPrintable(why));
    QCOMPARE(after.size(), held);
    QCOMPARE(after.pages().size(), files.pages().size());
    routing.setRecorder(nullptr);
}

// A recorded redirect leads where the site led then; an address never captured is said.
void TestArchiveX11::whatTheArchiveDoesNotHold()
{
    press(4, QStringLiteral("50"));
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    QTRY_COMPARE_WITH_TIMEOUT(view.url().toString(), "http://" + Site + "/kphtml/gift45.html", 20000);
    press(2, QStringLiteral("植物园")); // card10, never captured
    WebBrowser &missing = rt->form<Form2>().WebBrowser1();
    QTRY_COMPARE_WITH_TIMEOUT(missing.notice(), QStringLiteral("存档中没有这个网页。"), 20000);
    QVERIFY(!missing.archiveOffer());
}

void TestArchiveX11::offerAfterADeadSite_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("enter"); // the key that presses the offer
    QTest::newRow("album, Enter") << 5 << QStringLiteral("小小相册") << "Return";
    QTest::newRow("page, keypad Enter") << 2 << QStringLiteral("丛林") << "KP_Enter";
}

// Without --archive: a link whose site is gone says so, in the same words and with the
// same offer of its archived copy in both viewers; a person reaches the offer by the
// keyboard, Enter presses it, and the same viewer shows the copy, named as one.
void TestArchiveX11::offerAfterADeadSite()
{
    QFETCH(int, button);
    QFETCH(QString, key);
    QFETCH(QString, enter);
    ViewerServices::of(*rt).engine().setArchive(QUrl(archive->prefix()), QStringLiteral("2010"), false);
    main->setContentHost(button == 5 ? deadSite : deadPages);
    press(button, key);
    ViewerForm &viewer = button == 5 ? static_cast<ViewerForm &>(rt->form<Form1>()) : rt->form<Form2>();
    ViewerView &view = *viewer.window().findChild<ViewerView *>();
    QTRY_COMPARE_WITH_TIMEOUT(view.notice(), QStringLiteral("网站拒绝了连接，请稍后再试。"), 30000);
    QPushButton *offer = view.archiveOffer();
    QVERIFY(offer);
    QVERIFY(qobject_cast<CommandButton *>(offer));
    QCOMPARE(offer->accessibleName(), QStringLiteral("打开存档副本"));
    x11::xdotool({"windowactivate", "--sync", x11::id(viewer.window())});
    QTRY_VERIFY(viewer.window().isActiveWindow());
    for (int i = 0; i < 8 && !offer->hasFocus(); ++i) {
        QWidget *before = QApplication::focusWidget();
        x11::xdotool({"key", "Tab"});
        QTRY_VERIFY(QApplication::focusWidget() != before);
    }
    QVERIFY(offer->hasFocus());
    x11::xdotool({"key", enter});
    QTRY_VERIFY_WITH_TIMEOUT(view.notice().isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(view.archiveLabel(), QStringLiteral("存档副本 · 2010年3月15日"), 30000);
    QVERIFY(labelBesideClose(viewer));
    if (button == 2) {
        QVERIFY(viewertools::js(view.page(), "document.body ? document.body.innerText : ''")
                    .toString()
                    .contains(QStringLiteral("/kptemp/card2.html")));
        QCOMPARE(view.url().toString(), "http://" + deadPages + "/kptemp/card2.html");
    }
}

// A busy archive is waited for, and said to be; one that refuses is named as the one.
void TestArchiveX11::theArchiveSaysItsOwnTroubles()
{
    int asked = 0;
    http::Server busy([&](const http::Request &q, http::Response *r) {
        // The index is asked beside the first page; it must not take the one busy answer.
        if (q.target.startsWith("/cdx"))
            return r->send(404, "text/plain", "no index");
        if (asked++ == 0)
            return r->send(503, "text/plain", "busy", {{"Retry-After", "2"}});
        r->send(200, "text/html", "<!DOCTYPE html><title>t</title><p>captured",
                {{"Memento-Datetime", "Mon, 15 Mar 2010 09:30:00 GMT"}});
    });
    QVERIFY(busy.listen());
    BrowserEngine &engine = ViewerServices::of(*rt).engine();
    engine.setArchive(QUrl(QStringLiteral("http://127.0.0.1:%1/web/").arg(busy.port())), QStringLiteral("2010"), true);
    press(2, QStringLiteral("丛林"));
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    QTRY_COMPARE_WITH_TIMEOUT(view.notice(), QStringLiteral("网页存档正忙，稍后自动重试…"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(viewertools::js(view.page(), "document.body ? document.body.innerText : ''")
                                 .toString()
                                 .contains(QStringLiteral("captured")),
                             20000);
    QCOMPARE(view.notice(), QString());

    QTcpServer gone;
    QVERIFY(gone.listen(QHostAddress::LocalHost));
    const quint16 port = gone.serverPort();
    gone.close();
    engine.setArchive(QUrl(QStringLiteral("http://127.0.0.1:%1/web/").arg(port)), QStringLiteral("2010"), true);
    press(2, QStringLiteral("丛林"));
    QTRY_COMPARE_WITH_TIMEOUT(rt->form<Form2>().WebBrowser1().notice(),
                              QStringLiteral("网页存档拒绝了连接，请稍后再试。"), 20000);
    QVERIFY(!rt->form<Form2>().WebBrowser1().archiveOffer());
}

// An archived page of a hostile site frames, posts to and opens a WebSocket to a server
// of this machine, and the site's recorded redirect leads there: the server sees
// nothing, and the archive is asked for original addresses only.
void TestArchiveX11::archivedPagesReachNothingHere()
{
    QList<QByteArray> seen;
    http::Server victim([&](const http::Request &r, http::Response *s) {
        seen << r.method + ' ' + r.target;
        s->send(200, "text/plain", "secret");
    });
    QVERIFY(victim.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    const QByteArray here = "127.0.0.9:" + QByteArray::number(victim.port());
    QTemporaryDir site, captures;
    QFile page(site.filePath("hostile.html")), list(captures.filePath("captures.txt"));
    QVERIFY(page.open(QIODevice::WriteOnly) && list.open(QIODevice::WriteOnly));
    page.write("<!DOCTYPE html><title>hostile</title><iframe src='http://" + here
               + "/frame'></iframe>"
                 "<iframe src='/to-here'></iframe><img src='http://"
               + here
               + "/img'><script>"
                 "fetch('http://"
               + here
               + "/post', {method: 'POST', body: 'x', mode: 'no-cors'}).catch(function () {});"
                 "try { new WebSocket('ws://"
               + here
               + "/ws').onclose = function () { document.title = 'tried'; }; }"
                 " catch (e) { document.title = 'tried'; }</script>");
    list.write("capture 20100315093000\nredirect /to-here http://" + here + "/redirected\n");
    page.close();
    list.close();
    SiteArchive hostile(site.path(), captures.path(), {QStringLiteral("evil.example")});
    QVERIFY2(hostile.listen(), qPrintable(hostile.errorString()));
    ViewerServices::of(*rt).engine().setArchive(QUrl(hostile.prefix()), QStringLiteral("2010"), true);
    viewers::show(*rt, catalogue::Viewer::Page, QStringLiteral("http://evil.example/hostile.html"), {});
    WebBrowser &view = rt->form<Form2>().WebBrowser1();
    const auto asked = [&](const QByteArray &what) {
        const QList<QByteArray> t = hostile.targets();
        return std::any_of(t.cbegin(), t.cend(), [&](const QByteArray &a) { return a.endsWith(what); });
    };
    // Every attempt made: the WebSocket given up on, the rest asked of the archive.
    QTRY_VERIFY_WITH_TIMEOUT(
        view.title() == QLatin1String("tried") && asked("/redirected") && asked("/post") && asked("/img"), 20000);
    QVERIFY2(seen.isEmpty(), seen.join(' ').constData());
    for (const QByteArray &target : hostile.targets())
        QVERIFY2(target.startsWith("/web/2010id_/http://") || target.startsWith("/web/20100315093000id_/http://"),
                 target.constData());
}

QTEST_MAIN(TestArchiveX11)
#include "tst_archive_x11.moc"
