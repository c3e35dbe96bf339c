#include "Form1.h"
#include "Form2.h"
#include "catalogue.h"
#include "enginetools.h"
#include "frmtest.h"
#include "playerhost.h"
#include "runtimefixture.h"
#include "sitemirror.h"
#include "viewertools.h"
#include "x11tools.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <random>

using namespace forms;

// The program used as people use it, in one run: every catalogue button pressed
// several times, in a shuffled order, each time with some entry of its catalogue, by
// real clicks; now and then a viewer closed with its own button before its movie has
// drawn. After every press, the viewer shows the right address and what is there: the
// page's text, and every movie of a card page or album asked for and drawn.
class TestUseX11 : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void pressEveryButtonSeveralTimes();

private:
    std::unique_ptr<SiteMirror> mirror;
};

namespace {

const catalogue::Catalogue &catalogueOf(int button)
{
    switch (button) {
    case 1:
        return catalogue::festivalStamps();
    case 2:
        return catalogue::postcards();
    case 3:
        return catalogue::atlas();
    case 4:
        return catalogue::giftLevels();
    default:
        return catalogue::albums();
    }
}

// The movies a page of the site copy holds, by their paths (an <object> and the
// <embed> inside it name the same one).
QStringList moviesOf(const QString &pagePath)
{
    QFile page(SiteMirror::defaultRoot() + pagePath);
    if (!page.open(QIODevice::ReadOnly))
        return {};
    QStringList movies;
    const QString text = QString::fromLatin1(page.readAll());
    auto it = QRegularExpression(QStringLiteral("(?:src|data|value)=\"([^\"]+\\.swf)\"")).globalMatch(text);
    while (it.hasNext()) {
        const QString src = it.next().captured(1);
        const QString path = src.startsWith(QLatin1String("http")) ? QUrl(src.section('/', 3).prepend('/')).path()
                             : src.startsWith('/')                 ? src
                                                                   : pagePath.section('/', 0, -2) + '/' + src;
        if (!movies.contains(path))
            movies << path;
    }
    return movies;
}

} // namespace

void TestUseX11::initTestCase()
{
    QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb", "needs a real X display");
    mirror = std::make_unique<SiteMirror>(SiteMirror::defaultRoot());
    QVERIFY(mirror->listen());
    QVERIFY(mirror->listenSecond());
    startRuntime();
    engine::shareWith(*rt);
}

void TestUseX11::cleanupTestCase()
{
    const QString errors = reportedText();
    stopRuntime();
    engine::release();
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void TestUseX11::pressEveryButtonSeveralTimes()
{
    frmtest &main = rt->form<frmtest>();
    main.setContentHost(mirror->host());
    main.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&main.window()));
    CommandButton *const buttons[]
        = {nullptr, &main.Command1(), &main.Command2(), &main.Command3(), &main.Command4(), &main.Command5()};
    DropDownList *const lists[] = {nullptr, &main.Combo1(), &main.Combo2(), &main.Combo3(), nullptr, &main.Combo4()};
    QSignalSpy reports(&ViewerServices::of(*rt).host(), &PlayerHost::movieState);

    std::mt19937 random(20261208); // the same order in every run
    std::vector<int> order;
    for (int button = 1; button <= 5; ++button)
        order.insert(order.end(), 3, button);
    std::shuffle(order.begin(), order.end(), random);

    for (size_t step = 0; step < order.size(); ++step) {
        const int b = order[step];
        const auto &entries = catalogueOf(b).entries;
        const catalogue::Entry &entry = entries[std::uniform_int_distribution<size_t>(0, entries.size() - 1)(random)];
        const QString key = catalogue::toQString(entry.key);
        const QString path = QString::fromLatin1(entry.path.data(), qsizetype(entry.path.size()));
        const QString link = catalogue::link(mirror->host(), entry.path);
        const QString where = QStringLiteral("press %1: button %2, %3").arg(step + 1).arg(b).arg(key);
        if (b == 4)
            main.Text2().SetText(key);
        else
            lists[b]->SetText(key);
        const QStringList movies = b == 5 ? QStringList{path} : moviesOf(path);
        const qsizetype asked = mirror->paths().size();
        reports.clear();
        x11::clickAt(buttons[b]->mapToGlobal(buttons[b]->rect().center()));

        ViewerForm &viewer = b == 5 ? static_cast<ViewerForm &>(rt->form<Form1>()) : rt->form<Form2>();
        QTRY_VERIFY2_WITH_TIMEOUT(viewer.isLoaded() && viewer.window().isVisible(), qPrintable(where), 10000);
        // Now and then a person closes it at once, its movie still coming.
        const bool closedAtOnce = step % 4 == 3;
        if (b == 5) {
            ShockwaveFlash &player = rt->form<Form1>().ShockwaveFlash1();
            QCOMPARE(player.Movie(), link);
            if (closedAtOnce) {
                x11::clickAt(viewer.Command1().mapToGlobal(viewer.Command1().rect().center()));
                QTRY_VERIFY2(!viewer.isLoaded(), qPrintable(where));
                continue;
            }
            QVERIFY2(viewertools::drawnOver(QRect(player.mapToGlobal(QPoint(0, 0)), player.size()), Qt::white),
                     qPrintable(where));
        } else {
            WebBrowser &view = rt->form<Form2>().WebBrowser1();
            QTRY_COMPARE_WITH_TIMEOUT(view.url().toString(), link, 20000);
            const QString text = QStringLiteral("本地镜像页面: ") + path;
            QTRY_VERIFY2_WITH_TIMEOUT(
                viewertools::js(view.page(), "document.body ? document.body.innerText : ''").toString().contains(text),
                qPrintable(where), 20000);
            if (closedAtOnce) {
                x11::clickAt(viewer.Command1().mapToGlobal(viewer.Command1().rect().center()));
                QTRY_VERIFY2(!viewer.isLoaded(), qPrintable(where));
                continue;
            }
            QTRY_VERIFY2_WITH_TIMEOUT(viewertools::playerFrames(view).size() == movies.size(), qPrintable(where),
                                      10000);
            const QColor background = viewertools::pageBackground(view);
            for (const QRect &frame : viewertools::playerFrames(view))
                QVERIFY2(viewertools::drawnOver(frame, background), qPrintable(where));
        }
        QTRY_VERIFY2_WITH_TIMEOUT(reports.size() >= movies.size(), qPrintable(where), 30000);
        for (const QVariantList &report : std::as_const(reports))
            QVERIFY2(report[1].value<PlayerHost::MovieState>() == PlayerHost::MovieState::Painted, qPrintable(where));
        const QStringList since = mirror->paths().mid(asked);
        for (const QString &movie : movies)
            QVERIFY2(since.contains(movie), qPrintable(where + ": " + movie + " was not asked for"));
    }
}

QTEST_MAIN(TestUseX11)
#include "tst_use_x11.moc"
