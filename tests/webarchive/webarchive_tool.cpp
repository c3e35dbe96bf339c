// The web-archive layer from the command line, for the tests with the archivists'
// reader and writer (warcio.test.js) and for timing:
//   webarchive_tool write OUT.warc.gz         answers as JSON lines on stdin
//   webarchive_tool wacz OUT.wacz IN.warc.gz PAGES.jsonl
//   webarchive_tool index FILE.warc[.gz]      the CDXJ lines of a scan
//   webarchive_tool get FILE URL DATE         the answer nearest DATE, as JSON
//   webarchive_tool generate OUT.warc.gz N    N small answers
//   webarchive_tool open FILE                 how long adding FILE takes
// An answer line: {"url", "date", "status", "reason", "headers": [[name, value]],
// "payload": base64}. Exits 1 with one line on stderr when something fails.

#include "wacz.h"
#include "warc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

static int failWith(const QString &why)
{
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return 1;
}

static warc::Answer answerFromJson(const QJsonObject &o)
{
    warc::Answer a;
    a.target = QUrl(o.value(QLatin1String("url")).toString());
    a.captured = QDateTime::fromString(o.value(QLatin1String("date")).toString(), Qt::ISODate).toUTC();
    a.status = o.value(QLatin1String("status")).toInt(200);
    a.reason = o.value(QLatin1String("reason")).toString(QStringLiteral("OK")).toUtf8();
    for (const QJsonValue &h : o.value(QLatin1String("headers")).toArray())
        a.headers.append({h.toArray().at(0).toString().toUtf8(), h.toArray().at(1).toString().toUtf8()});
    a.payload = QByteArray::fromBase64(o.value(QLatin1String("payload")).toString().toLatin1());
    return a;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    QString error;
    if (command == QLatin1String("write") && args.size() == 2) {
        warc::Writer writer;
        if (!writer.open(args[1], &error))
            return failWith(error);
        QFile in;
        in.open(stdin, QIODevice::ReadOnly);
        while (!in.atEnd()) {
            const QByteArray line = in.readLine().trimmed();
            if (line.isEmpty())
                continue;
            if (!writer.append(answerFromJson(QJsonDocument::fromJson(line).object()), &error))
                return failWith(error);
        }
        return 0;
    }
    if (command == QLatin1String("generate") && args.size() == 3) {
        warc::Writer writer;
        if (!writer.open(args[1], &error))
            return failWith(error);
        const int count = args[2].toInt();
        for (int i = 0; i < count; ++i) {
            warc::Answer a;
            a.target
                = QUrl(QStringLiteral("http://www.site%1.example/page/%2.html?id=%3").arg(i % 61).arg(i).arg(i * 7));
            a.captured = QDateTime(QDate(2009, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i * 37);
            a.headers = {{"Content-Type", "text/html; charset=gb2312"}, {"Server", "Apache"}};
            a.payload = "<html><body>page " + QByteArray::number(i) + "</body></html>";
            if (!writer.append(a, &error))
                return failWith(error);
        }
        return 0;
    }
    if (command == QLatin1String("wacz") && args.size() == 4) {
        QFile pagesFile(args[3]);
        if (!pagesFile.open(QIODevice::ReadOnly))
            return failWith(pagesFile.errorString());
        const auto pages = warc::readPages(pagesFile.readAll(), {}, &error);
        if (!pages)
            return failWith(error);
        return warc::writeWacz(args[1], args[2], *pages, &error) ? 0 : failWith(error);
    }
    if (command == QLatin1String("index") && args.size() == 2) {
        QFile file(args[1]);
        if (!file.open(QIODevice::ReadOnly))
            return failWith(file.errorString());
        const auto entries = warc::scan(file, file.fileName().section(QLatin1Char('/'), -1), {}, &error);
        if (!entries)
            return failWith(error);
        QFile out;
        out.open(stdout, QIODevice::WriteOnly);
        for (const warc::IndexEntry &e : *entries)
            out.write(warc::cdxjLine(e) + '\n');
        return 0;
    }
    if (command == QLatin1String("open") && args.size() == 2) {
        QElapsedTimer timer;
        timer.start();
        warc::Collection collection;
        if (!collection.add(args[1], &error))
            return failWith(error);
        std::printf("%lld records in %lld ms\n", collection.size(), timer.elapsed());
        return 0;
    }
    if (command == QLatin1String("get") && args.size() == 4) {
        warc::Collection collection;
        if (!collection.add(args[1], &error))
            return failWith(error);
        const auto entry = collection.nearest(QUrl(args[2]), QDateTime::fromString(args[3], Qt::ISODate).toUTC());
        if (!entry)
            return failWith(QStringLiteral("not in the file"));
        const auto answer = collection.answer(*entry, &error);
        if (!answer)
            return failWith(error);
        QJsonArray headers;
        for (const auto &h : answer->headers)
            headers.append(QJsonArray{QString::fromUtf8(h.first), QString::fromUtf8(h.second)});
        const QJsonObject o{{QStringLiteral("url"), QString::fromUtf8(answer->target.toEncoded())},
                            {QStringLiteral("date"), answer->captured.toString(Qt::ISODate)},
                            {QStringLiteral("status"), answer->status},
                            {QStringLiteral("reason"), QString::fromUtf8(answer->reason)},
                            {QStringLiteral("headers"), headers},
                            {QStringLiteral("payload"), QString::fromLatin1(answer->payload.toBase64())}};
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    return failWith(QStringLiteral("usage: webarchive_tool write|generate|wacz|index|get|open ..."));
}
