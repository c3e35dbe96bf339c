#include "wacz.h"
#include "warc.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>
#include <zlib.h>

#include <csignal>
#include <sys/resource.h>

// WARC files written, scanned and read back; the choice of a capture by date; WACZ
// files; and what a hostile file is refused for. The interplay with the archivists'
// reader and writer is tested in warcio.test.js.
class TestWebArchive : public QObject
{
    Q_OBJECT
private slots:
    void surtKeys_data();
    void surtKeys();
    void roundTrip_data();
    void roundTrip();
    void tornTail_data();
    void tornTail();
    void writeError();
    void nearest_data();
    void nearest();
    void wacz();
    void foreignWacz();
    void hostile_data();
    void hostile();

private:
    QTemporaryDir m_dir;
};

using warc::Answer;
Q_DECLARE_METATYPE(warc::Answer)

static QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toUTC();
}

static Answer answerFor(const char *url, const char *date, int status = 200, const QByteArray &payload = "hello")
{
    Answer a;
    a.target = QUrl(QString::fromLatin1(url));
    a.captured = utc(date);
    a.status = status;
    a.reason = status == 200 ? "OK" : "Other";
    a.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    a.payload = payload;
    return a;
}

static bool writeAll(const QString &path, const QList<Answer> &answers)
{
    warc::Writer writer;
    QString error;
    if (!writer.open(path, &error))
        return false;
    for (const Answer &a : answers)
        if (!writer.append(a, &error))
            return false;
    return true;
}

static QByteArray gzip(const QByteArray &data)
{
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size())) + 32), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

static QByteArray warcRecord(const QByteArray &type, const QByteArray &block, const QByteArray &extra = {})
{
    return "WARC/1.1\r\nWARC-Type: " + type
           + "\r\nWARC-Target-URI: http://site.example/\r\nWARC-Date: 2009-01-02T03:04:05Z\r\n" + extra
           + "Content-Length: " + QByteArray::number(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
}

static QByteArray zipOf(const QList<QPair<const char *, QByteArray>> &entries, bool storeAll = true)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("z.zip")));
    int err = 0;
    zip_t *zip = zip_open(path.constData(), ZIP_CREATE, &err);
    for (const auto &e : entries) {
        zip_source_t *src = zip_source_buffer(zip, e.second.constData(), zip_uint64_t(e.second.size()), 0);
        const zip_int64_t i = zip_file_add(zip, e.first, src, 0);
        zip_set_file_compression(zip, zip_uint64_t(i), storeAll ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    zip_close(zip);
    QFile f(QString::fromLocal8Bit(path));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void TestWebArchive::surtKeys_data()
{
    // As the archivists' indexer keys them.
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("key");
    QTest::newRow("www, case, query order") << "http://www.Example.com/A/b?z=1&a=2"
                                            << "com,example)/a/b?a=2&z=1";
    QTest::newRow("www2, default port") << "https://www2.example.com:443/x"
                                        << "com,example)/x";
    QTest::newRow("other port, no path") << "http://example.com:8080"
                                         << "com,example:8080)/";
    QTest::newRow("empty query") << "http://example.com/?"
                                 << "com,example)/";
    QTest::newRow("address, fragment") << "http://127.0.0.1:8000/p?b&a#frag"
                                       << "1,0,0,127:8000)/p?a&b";
    QTest::newRow("www as part of a label") << "http://wwwx.example.com/"
                                            << "com,example,wwwx)/";
}

void TestWebArchive::surtKeys()
{
    QFETCH(QString, url);
    QFETCH(QString, key);
    QCOMPARE(warc::surt(QUrl(url)), key);
}

void TestWebArchive::roundTrip_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QByteArray>("fileName");
    Answer framed = answerFor("http://www.site.example/page.html?b=2&a=1", "2009-05-06T07:08:09Z");
    framed.headers += {{"Transfer-Encoding", "chunked"}, {"Content-Length", "99"}, {"X-Bad", "a\r\nInjected: 1"}};
    QTest::newRow("framing headers dropped, .warc.gz") << framed << QByteArray("a.warc.gz");
    Answer binary = answerFor("https://site.example:8443/movie.swf", "2010-01-01T00:00:00Z", 404,
                              QByteArray("\0\x1f\x8b\r\n\r\nWARC/1.1\r\n", 17).repeated(5000));
    binary.headers = {{"Content-Type", "application/x-shockwave-flash"}, {"Content-Encoding", "gzip"}};
    QTest::newRow("binary payload, https, port") << binary << QByteArray("b.warc.gz");
    QTest::newRow("empty payload") << answerFor("http://site.example/", "2011-02-03T04:05:06Z", 200, {})
                                   << QByteArray("c.warc.gz");
}

void TestWebArchive::roundTrip()
{
    QFETCH(Answer, answer);
    QFETCH(QByteArray, fileName);
    const QString path = m_dir.filePath(QString::fromLatin1(fileName));
    QVERIFY(writeAll(path, {answerFor("http://other.example/", "2001-01-01T00:00:00Z"), answer}));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const auto entries = warc::scan(file, QStringLiteral("x"), {}, &error);
    QVERIFY2(entries, qPrintable(error));
    QCOMPARE(entries->size(), 2);
    const warc::IndexEntry &e = entries->at(1);
    QCOMPARE(e.status, answer.status);
    QCOMPARE(e.mime, answer.header("Content-Type").split(';').first());
    QCOMPARE(e.digest, QCryptographicHash::hash(answer.payload, QCryptographicHash::Sha256).toHex());
    QCOMPARE(e.timestamp, answer.captured.toString(QStringLiteral("yyyyMMddHHmmss")));
    const auto line = warc::readCdxjLine(warc::cdxjLine(e), {}, &error);
    QVERIFY2(line, qPrintable(error));
    QCOMPARE(line->offset, e.offset);
    QCOMPARE(line->url, e.url);

    warc::Collection collection;
    QVERIFY2(collection.add(path, &error), qPrintable(error));
    const auto found = collection.nearest(answer.target, answer.captured.addDays(3));
    QVERIFY(found);
    const auto got = collection.answer(*found, &error);
    QVERIFY2(got, qPrintable(error));
    QCOMPARE(got->target, answer.target);
    QCOMPARE(got->captured, answer.captured);
    QCOMPARE(got->status, answer.status);
    QCOMPARE(got->payload, answer.payload);
    QCOMPARE(got->header("Transfer-Encoding"), QByteArray());
    QCOMPARE(got->header("Content-Length"), QByteArray::number(answer.payload.size()));
    QCOMPARE(got->header("Content-Encoding"), answer.header("Content-Encoding"));
    QCOMPARE(got->header("Injected"), QByteArray());
}

void TestWebArchive::tornTail_data()
{
    QTest::addColumn<int>("cut"); // bytes cut off the last member; or, below 0, bytes of junk added
    QTest::newRow("half a member") << 40;
    QTest::newRow("all but its first byte") << -1000;
    QTest::newRow("the trailer's last byte") << 1;
    QTest::newRow("junk after whole members") << -3;
}

void TestWebArchive::tornTail()
{
    QFETCH(int, cut);
    const QString path = m_dir.filePath(QStringLiteral("torn-%1.warc.gz").arg(QTest::currentDataTag()));
    QVERIFY(writeAll(path, {answerFor("http://site.example/1", "2009-01-01T00:00:00Z"),
                            answerFor("http://site.example/2", "2009-01-01T00:00:00Z")}));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 whole = file.size();
    if (cut > 0) {
        // The last member is the second answer's request record.
        QVERIFY(file.resize(whole - cut));
    } else if (cut == -1000) {
        file.seek(whole);
        file.write("\x1f");
    } else {
        file.seek(whole);
        file.write("junk");
    }
    file.close();

    QVERIFY(writeAll(path, {answerFor("http://site.example/3", "2009-01-01T00:00:00Z")}));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const auto entries = warc::scan(file, QStringLiteral("x"), {}, &error);
    QVERIFY2(entries, qPrintable(error));
    QCOMPARE(entries->size(), 3);
    QCOMPARE(entries->last().url, QByteArray("http://site.example/3"));
}

void TestWebArchive::writeError()
{
    // A full disk, as a file size limit: the answer fails with why, the file stays whole.
    const QString path = m_dir.filePath(QStringLiteral("full.warc.gz"));
    warc::Writer writer;
    QString error;
    QVERIFY(writer.open(path, &error));
    QVERIFY(writer.append(answerFor("http://site.example/1", "2009-01-01T00:00:00Z"), &error));
    const qint64 size = QFileInfo(path).size();
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = rlim_t(size + 100);
    setrlimit(RLIMIT_FSIZE, &small);
    QByteArray noise(200000, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) >> 3);
    const bool appended = writer.append(answerFor("http://site.example/2", "2009-01-01T00:00:00Z", 200, noise), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!appended);
    QVERIFY2(error.startsWith(QLatin1String("cannot write to the archive file: ")), qPrintable(error));
    QCOMPARE(QFileInfo(path).size(), size);
    QVERIFY(writer.append(answerFor("http://site.example/3", "2009-01-01T00:00:00Z"), &error));
    writer.close();
    warc::Collection collection;
    QVERIFY2(collection.add(path, &error), qPrintable(error));
    QCOMPARE(collection.size(), 2);
}

void TestWebArchive::nearest_data()
{
    QTest::addColumn<QStringList>("captures"); // url|date|status
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("expected"); // the index in captures; -1: none
    const QStringList three{"http://s.example/a|2009-01-01T00:00:00Z|200",
                            "http://s.example/a|2009-01-03T00:00:00Z|200",
                            "http://s.example/a|2009-01-05T00:00:00Z|200"};
    QTest::newRow("nearest after") << three << "http://s.example/a"
                                   << "2009-01-04T01:00:00Z" << 2;
    QTest::newRow("tie: the earlier") << three << "http://s.example/a"
                                      << "2009-01-04T00:00:00Z" << 1;
    QTest::newRow("before all") << three << "http://s.example/a"
                                << "2000-01-01T00:00:00Z" << 0;
    QTest::newRow("after all, www and case") << three << "http://WWW.s.example/a"
                                             << "2020-01-01T00:00:00Z" << 2;
    QTest::newRow("5xx passed over") << QStringList{"http://s.example/a|2009-01-01T00:00:00Z|200",
                                                    "http://s.example/a|2009-01-05T00:00:00Z|503"}
                                     << "http://s.example/a"
                                     << "2009-01-05T00:00:00Z" << 0;
    QTest::newRow("only 5xx") << QStringList{"http://s.example/a|2009-01-05T00:00:00Z|500"} << "http://s.example/a"
                              << "2009-01-05T00:00:00Z" << -1;
    QTest::newRow("other scheme passed over")
        << QStringList{"https://s.example/a|2009-01-05T00:00:00Z|200", "http://s.example/a|2008-01-01T00:00:00Z|200"}
        << "http://s.example/a"
        << "2009-01-05T00:00:00Z" << 1;
    QTest::newRow("longer path is another key")
        << QStringList{"http://s.example/ab|2009-01-05T00:00:00Z|200"} << "http://s.example/a"
        << "2009-01-05T00:00:00Z" << -1;
}

void TestWebArchive::nearest()
{
    QFETCH(QStringList, captures);
    QList<Answer> answers;
    for (const QString &c : captures) {
        const QStringList parts = c.split(QLatin1Char('|'));
        answers.append(answerFor(parts[0].toLatin1(), parts[1].toLatin1(), parts[2].toInt(), parts[1].toLatin1()));
    }
    const QString path = m_dir.filePath(QStringLiteral("nearest-%1.warc.gz").arg(QTest::currentDataTag()));
    QVERIFY(writeAll(path, answers));
    warc::Collection collection;
    QString error;
    QVERIFY2(collection.add(path, &error), qPrintable(error));
    QFETCH(QString, url);
    QFETCH(QString, date);
    const auto found = collection.nearest(QUrl(url), utc(date.toLatin1()));
    QFETCH(int, expected);
    QCOMPARE(found.has_value(), expected >= 0);
    if (expected >= 0)
        QCOMPARE(collection.answer(*found, &error)->payload, answers[expected].payload);
}

void TestWebArchive::wacz()
{
    const QString warcPath = m_dir.filePath(QStringLiteral("for-wacz.warc.gz"));
    QList<Answer> answers;
    for (int i = 0; i < 30; ++i)
        answers.append(answerFor(QStringLiteral("http://s%1.example/p").arg(i % 7).toLatin1(),
                                 QStringLiteral("2009-01-%1T00:00:00Z").arg(1 + i, 2, 10, QLatin1Char('0')).toLatin1(),
                                 200, QByteArray::number(i)));
    QVERIFY(writeAll(warcPath, answers));
    const QList<warc::Page> pages{
        {QUrl(QStringLiteral("http://s1.example/p")), utc("2009-01-02T00:00:00Z"), QStringLiteral("邮票鉴赏")}};
    const QString path = m_dir.filePath(QStringLiteral("copy.wacz"));
    QString error;
    QVERIFY2(warc::writeWacz(path, warcPath, pages, &error), qPrintable(error));
    // A failure leaves the file there as it was, and nothing beside it.
    QVERIFY(!warc::writeWacz(path, m_dir.filePath(QStringLiteral("absent.warc.gz")), pages, &error));
    QVERIFY(!QDir(m_dir.path()).entryList({QStringLiteral("copy.wacz.*")}).size());

    int err = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    QVERIFY(zip);
    const auto entry = [zip](const char *name) {
        zip_stat_t st;
        if (zip_stat(zip, name, 0, &st) != 0)
            return QByteArray();
        QByteArray data(qsizetype(st.size), '\0');
        zip_file_t *f = zip_fopen(zip, name, 0);
        zip_fread(f, data.data(), st.size);
        zip_fclose(f);
        return data;
    };
    zip_stat_t st;
    QVERIFY(zip_stat(zip, "archive/data.warc.gz", 0, &st) == 0);
    QCOMPARE(st.comp_method, ZIP_CM_STORE);
    const auto package = warc::readDatapackage(entry("datapackage.json"), {}, &error);
    QVERIFY2(package, qPrintable(error));
    QCOMPARE(package->profile, QStringLiteral("data-package"));
    QCOMPARE(package->waczVersion, QStringLiteral("1.1.1"));
    QCOMPARE(package->resources.size(), 3);
    for (const warc::Resource &r : package->resources) {
        const QByteArray data = entry(r.path.toUtf8().constData());
        QCOMPARE(r.bytes, data.size());
        QCOMPARE(r.hash, "sha256:" + QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    }
    const QJsonObject digest = QJsonDocument::fromJson(entry("datapackage-digest.json")).object();
    QCOMPARE(digest.value(QLatin1String("hash")).toString().toLatin1(),
             "sha256:" + QCryptographicHash::hash(entry("datapackage.json"), QCryptographicHash::Sha256).toHex());
    QList<QByteArray> lines = entry("indexes/index.cdxj").split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), answers.size());
    QVERIFY(std::is_sorted(lines.begin(), lines.end()));
    zip_close(zip);

    warc::Collection collection;
    QVERIFY2(collection.add(path, &error), qPrintable(error));
    QCOMPARE(collection.size(), answers.size());
    QCOMPARE(collection.pages().size(), 1);
    QCOMPARE(collection.pages().first().title, pages.first().title);
    QCOMPARE(collection.pages().first().captured, pages.first().captured);
    for (const Answer &a : answers) {
        const auto found = collection.nearest(a.target, a.captured);
        QVERIFY(found);
        const auto got = collection.answer(*found, &error);
        QVERIFY2(got, qPrintable(error));
        QCOMPARE(got->captured, a.captured);
        QCOMPARE(got->payload, a.payload);
    }
}

void TestWebArchive::foreignWacz()
{
    // As other writers lay one out: no pages, an index of gzip members, naming files
    // with their folder; and a revisit line, which holds no payload to answer with.
    const QString warcPath = m_dir.filePath(QStringLiteral("foreign.warc.gz"));
    QVERIFY(writeAll(warcPath, {answerFor("http://s.example/a", "2009-01-01T00:00:00Z", 200, "a"),
                                answerFor("http://s.example/b", "2009-01-01T00:00:00Z", 200, "b")}));
    QFile warcFile(warcPath);
    QVERIFY(warcFile.open(QIODevice::ReadOnly));
    QString error;
    auto entries = *warc::scan(warcFile, QStringLiteral("archive/data.warc.gz"), {}, &error);
    warc::IndexEntry revisit = entries[0];
    revisit.timestamp = QStringLiteral("20090101000001");
    revisit.mime = "warc/revisit";
    revisit.offset += revisit.length; // the request record after it
    QByteArray index = gzip(warc::cdxjLine(entries[0]) + '\n' + warc::cdxjLine(revisit) + '\n')
                       + gzip(warc::cdxjLine(entries[1]) + '\n');
    warcFile.seek(0);
    const QString path = m_dir.filePath(QStringLiteral("foreign.wacz"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(zipOf({{"archive/data.warc.gz", warcFile.readAll()}, {"indexes/index.cdx.gz", index}}));
    out.close();
    warc::Collection collection;
    QVERIFY2(collection.add(path, &error), qPrintable(error));
    QCOMPARE(collection.size(), 3);
    for (const char *name : {"a", "b"}) {
        const auto found = collection.nearest(QUrl(QStringLiteral("http://s.example/") + QLatin1String(name)),
                                              utc("2009-01-01T00:00:01Z"));
        QVERIFY(found);
        const auto got = collection.answer(*found, &error);
        QVERIFY2(got, qPrintable(error));
        QCOMPARE(got->payload, QByteArray(name));
    }
}

void TestWebArchive::hostile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray http = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\nhi";
    const QByteArray one = warcRecord("response", http);
    QTest::newRow("head without end") << "a.warc" << QByteArray("WARC/1.1\r\n" + QByteArray(70000, 'a'))
                                      << "a record's head is too long";
    QTest::newRow("block over the limit")
        << "a.warc.gz" << gzip(warcRecord("response", QByteArray(2000, 'x'))) << "a record's content is too large";
    QTest::newRow("gzip bomb") << "a.warc.gz" << gzip(one.left(100) + QByteArray(5000000, ' '))
                               << "a record's content is too large";
    QTest::newRow("one stream of several records")
        << "a.warc.gz" << gzip(one + one)
        << "the file is one gzip stream of several records, not one member per record";
    QTest::newRow("too many records") << "a.warc.gz" << gzip(one) + gzip(one) + gzip(one) + gzip(one)
                                      << "the file holds too many records";
    QTest::newRow("no WARC head") << "a.warc.gz" << gzip("GET / HTTP/1.1\r\n\r\n")
                                  << "a record does not start with a WARC head";
    QTest::newRow("length not a number") << "a.warc" << QByteArray("WARC/1.1\r\nContent-Length: -1\r\n\r\n")
                                         << "a record's Content-Length is missing or not a number";
    QTest::newRow("cut short") << "a.warc" << one.left(one.size() - 10) << "the file ends inside a record";
    QTest::newRow("not an archive") << "a.warc" << QByteArray("<html>")
                                    << "the file is neither a .warc.gz nor a .warc file";
    const QByteArray warcGz = gzip(one);
    QTest::newRow("WACZ: not a ZIP") << "a.wacz" << QByteArray("PK\3\4 no zip") << "the file is not a ZIP file";
    QTest::newRow("WACZ: no WARC") << "a.wacz" << zipOf({{"indexes/index.cdxj", "x"}}) << "the WACZ holds no WARC file";
    QTest::newRow("WACZ: WARC deflated")
        << "a.wacz" << zipOf({{"archive/data.warc.gz", warcGz}}, false)
        << "a WARC file in the WACZ is compressed in the ZIP, so it cannot be read at an offset";
    QTest::newRow("WACZ: index too large")
        << "a.wacz" << zipOf({{"archive/data.warc.gz", warcGz}, {"indexes/index.cdxj", QByteArray(300000, 'a')}})
        << "a file in the WACZ is too large";
    QTest::newRow("WACZ: index line too long")
        << "a.wacz" << zipOf({{"archive/data.warc.gz", warcGz}, {"indexes/index.cdxj", QByteArray(20000, 'a')}})
        << "an index line is too long";
    QTest::newRow("WACZ: index line without timestamp")
        << "a.wacz" << zipOf({{"archive/data.warc.gz", warcGz}, {"indexes/index.cdxj", "com,a)/ 2009 {}\n"}})
        << "an index line is not a key, a timestamp and a JSON object";
    QTest::newRow("WACZ: gzipped index bomb")
        << "a.wacz"
        << zipOf({{"archive/data.warc.gz", warcGz}, {"indexes/index.cdx.gz", gzip(QByteArray(400000, '\n'))}})
        << "an index in the WACZ is too large";
    QTest::newRow("WACZ: page without url")
        << "a.wacz"
        << zipOf({{"archive/data.warc.gz", warcGz}, {"pages/pages.jsonl", "{\"ts\":\"2009-01-01T00:00:00Z\"}"}})
        << "a page lacks a valid url or ts";
}

void TestWebArchive::hostile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath(QStringLiteral("hostile-%1-").arg(QTest::currentDataTag()) + name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    warc::Limits limits;
    limits.maxBlockBytes = 1000;
    limits.maxRecords = 3;
    limits.maxIndexBytes = 200000;
    warc::Collection collection(limits);
    QString error;
    QVERIFY(!collection.add(path, &error));
    QFETCH(QString, reason);
    QCOMPARE(error, reason);
    QCOMPARE(collection.size(), 0);
}

QTEST_GUILESS_MAIN(TestWebArchive)
#include "tst_webarchive.moc"
