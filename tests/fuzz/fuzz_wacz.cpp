// A WACZ's own files from anywhere: its list of pages, its datapackage.json, or (first
// byte 2) the whole ZIP, opened as a collection and asked for every page it lists.
#include "fuzzing.h"
#include "wacz.h"

#include <QDir>
#include <QFile>
#include <QCoreApplication>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Knobs knobs(data, size);
    const uint8_t mode = knobs.byte() % 3;
    const QByteArray bytes = knobs.rest().toByteArray();
    warc::Limits limits;
    limits.maxHeadBytes = 4096;
    limits.maxBlockBytes = 64 * 1024;
    limits.maxRecords = 64;
    limits.maxIndexBytes = 256 * 1024;
    QString error;
    if (mode == 0) {
        if (const auto pages = warc::readPages(bytes, limits, &error)) {
            FUZZ_CHECK(pages->size() <= limits.maxRecords);
            for (const warc::Page &p : *pages)
                FUZZ_CHECK(p.url.isValid() && p.captured.isValid());
        }
    } else if (mode == 1) {
        if (const auto package = warc::readDatapackage(bytes, limits, &error))
            for (const warc::Resource &r : package->resources)
                FUZZ_CHECK(!r.path.isEmpty() && r.bytes >= 0);
    } else {
        static const QString path
            = QDir::tempPath() + QStringLiteral("/fuzz_wacz_%1.wacz").arg(QCoreApplication::applicationPid());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
        file.close();
        warc::Collection collection(limits);
        if (collection.add(path, &error)) {
            FUZZ_CHECK(collection.size() <= limits.maxRecords);
            for (const warc::Page &p : collection.pages())
                if (const auto entry = collection.nearest(p.url, p.captured))
                    collection.answer(*entry, &error);
        } else {
            FUZZ_CHECK(!error.isEmpty() && !error.contains(QLatin1Char('\n')));
        }
        QFile::remove(path);
    }
    return 0;
}
