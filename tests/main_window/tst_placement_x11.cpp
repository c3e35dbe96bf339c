#include "frmtest.h"
#include "runtime.h"
#include "x11tools.h"

#include <QApplication>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <cstdio>

using namespace forms;

// Where the main window and a viewer stand on screens of several sizes and scale
// factors: each in a display of its own, shown by a copy of this program (the probe).
class TestPlacementX11 : public QObject
{
    Q_OBJECT
private slots:
    void windowsLieOnTheScreen_data();
    void windowsLieOnTheScreen();
};

namespace {

// A window of the viewers' kind (their border and their stored place), without the
// browser engine.
class ViewerLike : public Form
{
public:
    explicit ViewerLike(Runtime &rt) : Form(rt, design()) { }
    static const FormDesign &design()
    {
        static const FormDesign d{.caption = QStringLiteral("viewer"),
                                  .border = BorderStyle::FixedToolWindow,
                                  .minButton = false,
                                  .maxButton = false,
                                  .clientLeft = 2490,
                                  .clientTop = 2790,
                                  .clientWidth = 7275,
                                  .clientHeight = 6510};
        return d;
    }
};

// The probe: shows both windows and says where each was mapped (in the screen's own
// pixels), then stays until it is stopped.
int probe(int argc, char **argv)
{
    QApplication app(argc, argv);
    Runtime rt;
    Form *windows[] = {&rt.form<frmtest>(), &rt.form<ViewerLike>()};
    for (Form *f : windows) {
        f->Show();
        if (!QTest::qWaitForWindowExposed(&f->window()))
            return 1;
        const QPoint at = f->window().geometry().topLeft() * f->window().devicePixelRatio();
        std::printf("%s %llu %d %d\n", f == windows[0] ? "main" : "viewer",
                    static_cast<unsigned long long>(f->window().windowHandle()->winId()), at.x(), at.y());
        std::fflush(stdout);
    }
    return app.exec();
}

QList<int> numbers(const QString &text, const QString &pattern)
{
    QList<int> out;
    const auto m = QRegularExpression(pattern).match(text);
    for (int i = 1; i <= m.lastCapturedIndex(); ++i)
        out << m.captured(i).toInt();
    return out;
}

} // namespace

void TestPlacementX11::windowsLieOnTheScreen_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QString>("scale");
    QTest::addColumn<bool>("managerLate"); // the window manager comes after the windows
    for (const QSize screen : {QSize(1280, 1024), QSize(1920, 1080), QSize(3840, 2160)})
        for (const char *scale : {"1", "1.5", "2"})
            QTest::addRow("%dx%d at %s", screen.width(), screen.height(), scale)
                << screen << QString::fromLatin1(scale) << false;
    QTest::newRow("1920x1080 at 2, window manager late") << QSize(1920, 1080) << QStringLiteral("2") << true;
    QTest::newRow("1280x1024 at 1.5, window manager late") << QSize(1280, 1024) << QStringLiteral("1.5") << true;
}

void TestPlacementX11::windowsLieOnTheScreen()
{
    QFETCH(QSize, screen);
    QFETCH(QString, scale);
    QFETCH(bool, managerLate);
    x11::Display display(screen, !managerLate);
    QVERIFY(display.isReady());
    QProcess app;
    QProcessEnvironment env = display.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_SCALE_FACTOR", scale);
    app.setProcessEnvironment(env);
    x11::startTied(app, QCoreApplication::applicationFilePath(), {"--probe"});
    const auto stop = qScopeGuard([&] {
        app.kill();
        app.waitForFinished();
    });
    const qreal factor = scale.toDouble();
    const struct
    {
        const char *name;
        QPoint stored; // the client area's stored origin, in logical pixels
        bool minimize;
    } windows[] = {{"main", QPoint(732, 220), true}, {"viewer", QPoint(166, 186), false}};
    QString id[2];
    QPoint mapped[2];
    for (int i = 0; i < 2; ++i) {
        QVERIFY2(QTest::qWaitFor([&] { return app.canReadLine(); }, 20000), app.readAllStandardError().constData());
        const QStringList said = QString::fromLatin1(app.readLine()).split(' ');
        QCOMPARE(said.value(0), QString::fromLatin1(windows[i].name));
        id[i] = said.value(1);
        mapped[i] = QPoint(said.value(2).toInt(), said.value(3).toInt());
    }
    if (managerLate) {
        // No frame around the main window yet: it keeps its designed client size.
        const QList<int> size = numbers(display.run("xwininfo", {"-id", id[0]}), "Width: (\\d+)\\s+Height: (\\d+)");
        QCOMPARE(size.size(), 2);
        QVERIFY2(qAbs(size[0] - 283 * factor) <= 1 && qAbs(size[1] - 373 * factor) <= 1,
                 qPrintable(QStringLiteral("%1x%2").arg(size[0]).arg(size[1])));
        QVERIFY(display.startWindowManager());
    }

    for (int i = 0; i < 2; ++i) {
        const auto &w = windows[i];
        // Where it stands once the window manager has framed it, frame included.
        QRect frame, client;
        const auto measure = [&] {
            const QString info = display.run("xwininfo", {"-id", id[i]});
            const QList<int> c
                = numbers(info, "Absolute upper-left X:\\s+(-?\\d+)\\s+Absolute upper-left Y:\\s+(-?\\d+)"
                                "[\\s\\S]*Width: (\\d+)\\s+Height: (\\d+)");
            const QList<int> e = numbers(display.run("xprop", {"-id", id[i], "_NET_FRAME_EXTENTS"}),
                                         "= (\\d+), (\\d+), (\\d+), (\\d+)");
            if (c.size() != 4 || e.size() != 4)
                return false;
            client = QRect(c[0], c[1], c[2], c[3]);
            frame = client.marginsAdded(QMargins(e[0], e[2], e[1], e[3]));
            return true;
        };
        const QRect area(QPoint(0, 0), screen);
        const auto fits = [&] { return frame.width() <= area.width() && frame.height() <= area.height(); };
        const auto placed
            = [&] { return measure() && (fits() ? area.contains(frame) : area.contains(frame.topLeft())); };
        QTRY_VERIFY2_WITH_TIMEOUT(placed(),
                                  qPrintable(QStringLiteral("%1: frame %2,%3 %4x%5 on %6x%7")
                                                 .arg(w.name)
                                                 .arg(frame.x())
                                                 .arg(frame.y())
                                                 .arg(frame.width())
                                                 .arg(frame.height())
                                                 .arg(screen.width())
                                                 .arg(screen.height())),
                                  5000);
        // Mapped where it stands: placed right before it was shown, not moved after.
        if (!managerLate)
            QVERIFY2((client.topLeft() - mapped[i]).manhattanLength() <= 2,
                     qPrintable(QStringLiteral("%1 mapped at %2,%3, stands at %4,%5")
                                    .arg(w.name)
                                    .arg(mapped[i].x())
                                    .arg(mapped[i].y())
                                    .arg(client.x())
                                    .arg(client.y())));
        // Where the stored place leaves it wholly on the screen, it stands there.
        const QPoint stored(qRound(w.stored.x() * factor), qRound(w.stored.y() * factor));
        if (area.contains(frame.translated(stored - client.topLeft())))
            QVERIFY((client.topLeft() - stored).manhattanLength() <= 2);
        // The window manager offers no maximize the design lacks, and no minimize on
        // the viewers (what it offers is settled when it first frames a window).
        if (managerLate)
            continue;
        const QString actions = display.run("xprop", {"-id", id[i], "_NET_WM_ALLOWED_ACTIONS"});
        QVERIFY2(!actions.contains("MAXIMIZE"), qPrintable(actions));
        QVERIFY2(actions.contains("_NET_WM_ACTION_MINIMIZE") == w.minimize, qPrintable(actions));
        QVERIFY(actions.contains("_NET_WM_ACTION_CLOSE"));
    }
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--probe") == 0)
        return probe(argc, argv);
    QCoreApplication app(argc, argv);
    TestPlacementX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_placement_x11.moc"
