#include "placement.h"

#include <QTest>

// Where windows stand: at their stored client origin, moved only as far as the whole
// window, frame included, needs to lie on the screen, on every scale factor.
class TestPlacement : public QObject
{
    Q_OBJECT
private slots:
    void clientPosition_data();
    void clientPosition();
};

void TestPlacement::clientPosition_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("screen"); // in device pixels
    QTest::addColumn<QMargins>("frame");
    QTest::addColumn<QPoint>("origin"); // logical pixels, from the design's twips
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QPoint>("expected");

    const QPoint mainOrigin(732, 220), viewerOrigin(141, 161);
    const QSize mainClient(289, 382), viewerClient(487, 409);
    const QMargins none, thin(1, 20, 1, 1), thick(4, 30, 4, 4);
    QTest::newRow("fits: at its origin") << 1.0 << QSize(1280, 1024) << thin << mainOrigin << mainClient << mainOrigin;
    QTest::newRow("fits without a frame") << 1.0 << QSize(1024, 768) << none << mainOrigin << mainClient << mainOrigin;
    QTest::newRow("small screen: pulled in left, frame and all")
        << 1.0 << QSize(1024, 768) << thick << mainOrigin << mainClient << QPoint(1024 - 4 - 289, 220);
    QTest::newRow("viewer fits") << 1.0 << QSize(1024, 768) << thick << viewerOrigin << viewerClient << viewerOrigin;
    QTest::newRow("1.5: pulled in from the right only")
        << 1.5 << QSize(1280, 1024) << thin << mainOrigin << mainClient << QPoint(853 - 1 - 289, 220);
    QTest::newRow("2: the viewer's button stays on")
        << 2.0 << QSize(1280, 1024) << thin << viewerOrigin << viewerClient << QPoint(141, 512 - 1 - 409);
    QTest::newRow("2, small: too tall, the caption bar stays on")
        << 2.0 << QSize(1024, 768) << thick << viewerOrigin << viewerClient << QPoint(512 - 4 - 487, 30);
    QTest::newRow("2, small, main window")
        << 2.0 << QSize(1024, 768) << thin << mainOrigin << mainClient << QPoint(512 - 1 - 289, 20);
}

void TestPlacement::clientPosition()
{
    QFETCH(double, scale);
    QFETCH(QSize, screen);
    QFETCH(QMargins, frame);
    QFETCH(QPoint, origin);
    QFETCH(QSize, client);
    QFETCH(QPoint, expected);
    const QRect available(QPoint(0, 0), QSize(int(screen.width() / scale), int(screen.height() / scale)));
    const QPoint at = forms::clientPosition(origin, client, frame, available);
    QCOMPARE(at, expected);
    // And, whenever the window is not larger than the screen, all of it is on it.
    const QRect window = QRect(at, client).marginsAdded(frame);
    if (window.width() <= available.width() && window.height() <= available.height())
        QVERIFY(available.contains(window));
}

QTEST_APPLESS_MAIN(TestPlacement)
#include "tst_placement.moc"
