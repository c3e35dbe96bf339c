#include "framing.h"

#include <QTest>

// The client's reading of what a server sent before it closed: whole, or cut short or
// malformed (failed), and the body read until then. Fuzzed in tests/fuzz as well.
class TestHttpFraming : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
};

void TestHttpFraming::answers_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QByteArray>("body");
    const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    QTest::newRow("chunked, extension and trailer") << chunked + "5;x=1\r\nhello\r\n0\r\nT: 1\r\n\r\n"
                                                    << true << QByteArray("hello");
    QTest::newRow("15 hex digits past leading zeros")
        << chunked + "0000fffffffffffffff\r\nab" << false << QByteArray("ab");
    QTest::newRow("16 hex digits") << chunked + "7fffffffffffffff\r\nab" << false << QByteArray();
    QTest::newRow("past 64 bits") << chunked + "10000000000000005\r\nhello\r\n0\r\n\r\n" << false << QByteArray();
    QTest::newRow("a signed size") << chunked + "+5\r\nhello\r\n0\r\n\r\n" << false << QByteArray();
    QTest::newRow("closed inside a chunk-size line") << chunked + "5\r\nhello\r\n0" << false << QByteArray("hello");
    QTest::newRow("closed inside the line end after data") << chunked + "5\r\nhello\r" << false << QByteArray("hello");
    QTest::newRow("closed inside the trailers") << chunked + "5\r\nhello\r\n0\r\nT: 1" << false << QByteArray("hello");
    QTest::newRow("shorter than its length")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello") << false << QByteArray("hello");
    QTest::newRow("until the close") << QByteArray("HTTP/1.0 200 OK\r\n\r\nhello") << true << QByteArray("hello");
    QTest::newRow("interim, then final") << QByteArray(
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi")
                                         << true << QByteArray("hi");
}

void TestHttpFraming::answers()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, whole);
    QFETCH(QByteArray, body);
    http::AnswerReader reader;
    reader.feed(sent);
    reader.close();
    QVERIFY(reader.readHead());
    QByteArray read;
    reader.decode(&read, 1 << 20);
    QCOMPARE(reader.state(), whole ? http::AnswerReader::State::Done : http::AnswerReader::State::Failed);
    QCOMPARE(read, body);
}

QTEST_APPLESS_MAIN(TestHttpFraming)
#include "tst_http_framing.moc"
