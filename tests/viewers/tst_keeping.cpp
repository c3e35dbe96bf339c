// The keeper's rules as sequences of presses and closes, on a clock the test moves.
#include "keeping.h"

#include <QTest>

using namespace keeping;
using namespace std::chrono_literals;

namespace {

// One line a test step: "open 1 page", "close 1", "close 1 blank", "close 1 next" (for the
// next press), "warm 2", "playing",
// "dialog 1", "dialog-end 1", "wait 120000"; what the keeper said, in the same words.
QString said(const Steps &steps)
{
    static const char *names[] = {"blank", "freeze", "drop-movie", "release", "reject"};
    QStringList words;
    for (const Step &s : steps)
        words << QStringLiteral("%1 %2").arg(QLatin1String(names[int(s.what)])).arg(s.page);
    return words.join(QStringLiteral(", "));
}

} // namespace

class TestKeeping : public QObject
{
    Q_OBJECT
private slots:
    void sequences_data();
    void sequences();
};

void TestKeeping::sequences_data()
{
    QTest::addColumn<QStringList>("script"); // step => what the keeper says to do
    QTest::newRow("a page closed is kept warm, one at a time, until three minutes pass")
        << QStringList{"open 1 page =>", "close 1 => blank 1", "open 2 page =>", "close 2 => release 1, blank 2",
                       "wait 179999 =>", "wait 1 => release 2"};
    QTest::newRow("a page that showed nothing is not kept")
        << QStringList{"open 1 page =>", "close 1 blank => release 1"};
    QTest::newRow("an album closed keeps its emulator for two minutes")
        << QStringList{"open 1 player =>", "close 1 => drop-movie 1", "wait 119999 =>", "wait 1 => release 1"};
    QTest::newRow("the next album on its way: the last one is frozen until it plays")
        << QStringList{"open 1 player =>", "open 2 player =>", "close 1 => freeze 1", "playing => release 1"};
    QTest::newRow("a page after an album lets the album's page go, and the other way round")
        << QStringList{"open 1 player =>", "close 1 => drop-movie 1", "open 2 page => release 1", "close 2 => blank 2",
                       "open 3 player => release 2"};
    QTest::newRow("unloaded for the next press, an album is frozen until the next one plays, or a page opens")
        << QStringList{"open 1 player =>",        "close 1 next => freeze 1", "open 2 player =>",
                       "playing => release 1",    "open 3 player =>",         "close 3 next => freeze 3",
                       "open 4 page => release 3"};
    QTest::newRow("an album closed while a page is open is not kept")
        << QStringList{"open 1 page =>", "open 2 player =>", "close 2 => release 2"};
    QTest::newRow("a warm-up is a kept player from the start; only one")
        << QStringList{"warm 1 =>", "warm 2 => release 2", "wait 120000 => release 1"};
    QTest::newRow("an open viewer holds the warm time; the last one closing starts it")
        << QStringList{"open 1 page =>",
                       "close 1 => blank 1",
                       "open 2 page =>",
                       "wait 600000 =>",
                       "close 2 => release 1, blank 2",
                       "wait 180000 => release 2"};
    QTest::newRow("closed during its dialog: the dialog is cancelled, the page goes after the call")
        << QStringList{"open 1 page =>",      "dialog 1 =>",     "dialog 1 =>",
                       "close 1 => reject 1", "dialog-end 1 =>", "dialog-end 1 => release 1",
                       "dialog 1 refused =>"};
    QTest::newRow("a kept page asks no dialogs")
        << QStringList{"open 1 page =>", "close 1 => blank 1", "dialog 1 refused =>"};
}

void TestKeeping::sequences()
{
    QFETCH(QStringList, script);
    std::chrono::milliseconds now = 1000ms;
    Keeping keeper([&] { return now; });
    for (const QString &line : std::as_const(script)) {
        const QStringList parts = line.section(QStringLiteral(" =>"), 0, 0).split(' ');
        const QString expected = line.section(QStringLiteral("=> "), 1).trimmed();
        const QString verb = parts[0];
        const int page = parts.value(1).toInt();
        Steps steps;
        if (verb == "open")
            steps = keeper.open(page, parts[2] == "player" ? Kind::Player : Kind::WebPage);
        else if (verb == "close")
            steps = keeper.closed(page, parts.value(2) == "blank",
                                  parts.value(2) == "next" ? Keeping::By::NextPress : Keeping::By::User);
        else if (verb == "warm")
            steps = keeper.warmPlayer(page);
        else if (verb == "playing")
            steps = keeper.playerPlaying();
        else if (verb == "dialog")
            QCOMPARE(keeper.dialogStarts(page), parts.value(2) != "refused");
        else if (verb == "dialog-end")
            steps = keeper.dialogEnded(page);
        else if (verb == "wait") {
            now += std::chrono::milliseconds(parts[1].toLongLong());
            if (const auto due = keeper.nextDue(); due && *due <= now)
                steps = keeper.due();
        } else
            QFAIL(qPrintable(line));
        QVERIFY2(said(steps) == expected, qPrintable(line + QStringLiteral(" | said: ") + said(steps)));
    }
}

QTEST_APPLESS_MAIN(TestKeeping)
#include "tst_keeping.moc"
