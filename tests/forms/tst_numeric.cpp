#include "numeric.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <cstdlib>

using forms::numericPrefixValue;

class TestNumeric : public QObject
{
    Q_OBJECT
private slots:
    void examples_data();
    void examples();
    void agreesWithReference();
    void hugeInputs();
};

void TestNumeric::examples_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("plain") << "6" << 6.0;
    QTest::newRow("leading blank") << " 6" << 6.0;
    QTest::newRow("leading tab and newline") << "\t\n 7" << 7.0;
    QTest::newRow("trailing letters") << "5abc" << 5.0;
    QTest::newRow("letters only") << "abc" << 0.0;
    QTest::newRow("decimal") << "7.5" << 7.5;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("point last") << "5." << 5.0;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("minus") << "-3" << -3.0;
    QTest::newRow("plus") << "+4" << 4.0;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("sign after blank only") << " - 3" << 0.0;
    QTest::newRow("blank between digits ends it") << "1 2" << 1.0;
    QTest::newRow("no exponent") << "5e1" << 5.0;
    QTest::newRow("no radix prefix") << "&H10" << 0.0;
    QTest::newRow("leading zeros") << "0006" << 6.0;
    QTest::newRow("zero") << "0" << 0.0;
    QTest::newRow("full-width digit") << "６" << 0.0;
    QTest::newRow("arabic-indic digit") << "٥" << 0.0;
    QTest::newRow("ideographic space") << "\u30006" << 0.0;
    QTest::newRow("NUL first") << QString(QChar(0)) + "6" << 0.0;
    QTest::newRow("emoji after") << "6😀" << 6.0;
    QTest::newRow("fifty point five") << "50.5" << 50.5;
}

void TestNumeric::examples()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(numericPrefixValue(text), value);
}

// A plain reading of the rule, written independently of the code under test.
static double reference(const QString &text)
{
    static const QRegularExpression prefix(QStringLiteral("^[ \\t\\r\\n]*([+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+))"));
    const auto m = prefix.match(text);
    if (!m.hasMatch())
        return 0.0;
    return std::strtod(m.captured(1).toLatin1().constData(), nullptr);
}

void TestNumeric::agreesWithReference()
{
    const QList<QString> pieces
        = {"0",  "1", "2",  "5",  "9",  ".", "+", "-", " ", "\t", "e", "a", "６", "😀", QString(QChar(0)),
           "\n", "٣", "&H", "00", "50", "51"};
    QRandomGenerator rng(20261207);
    for (int round = 0; round < 50000; ++round) {
        QString text;
        const int n = rng.bounded(9);
        for (int i = 0; i < n; ++i)
            text += pieces[rng.bounded(int(pieces.size()))];
        const double expected = reference(text);
        const double actual = numericPrefixValue(text);
        if (!(actual == expected || (std::isnan(actual) && std::isnan(expected))))
            QFAIL(qPrintable(QStringLiteral("'%1': %2, expected %3").arg(text).arg(actual).arg(expected)));
    }
}

void TestNumeric::hugeInputs()
{
    QCOMPARE(numericPrefixValue(QString(1 << 20, u'9')), std::numeric_limits<double>::infinity());
    QCOMPARE(numericPrefixValue(QString(1 << 20, u'0') + "7"), 7.0);
    QCOMPARE(numericPrefixValue("0." + QString(1 << 20, u'0') + "1"), 0.0);
    QCOMPARE(numericPrefixValue("-" + QString(400, u'9')), -std::numeric_limits<double>::infinity());
    QCOMPARE(numericPrefixValue("5" + QString(1 << 20, u'x')), 5.0);
}

QTEST_APPLESS_MAIN(TestNumeric)
#include "tst_numeric.moc"
