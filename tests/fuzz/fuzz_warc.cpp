// A WARC file from anywhere: its records read at an offset and scanned. What a scan
// indexes must read back at its offset, within the limits, and its index line must read
// back to the same place.
#include "fuzzing.h"
#include "warc.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    warc::Limits limits;
    limits.maxHeadBytes = 4096;
    limits.maxBlockBytes = 64 * 1024;
    limits.maxRecords = 64;
    QString error;
    if (const auto record = warc::readRecordAt(buffer, 0, limits, &error)) {
        FUZZ_CHECK(record->block.size() <= limits.maxBlockBytes);
        if (const auto answer = warc::answerOf(*record, limits, &error))
            FUZZ_CHECK(answer->payload.size() <= record->block.size());
    } else {
        FUZZ_CHECK(!error.isEmpty() && !error.contains(QLatin1Char('\n')));
    }
    const auto entries = warc::scan(buffer, QStringLiteral("f.warc.gz"), limits, &error);
    if (!entries) {
        FUZZ_CHECK(!error.isEmpty() && !error.contains(QLatin1Char('\n')));
        return 0;
    }
    FUZZ_CHECK(entries->size() <= limits.maxRecords);
    for (const warc::IndexEntry &e : *entries) {
        FUZZ_CHECK(e.offset >= 0 && e.length > 0 && e.offset + e.length <= qint64(size));
        FUZZ_CHECK(warc::readRecordAt(buffer, e.offset, limits, &error));
        const auto line = warc::readCdxjLine(warc::cdxjLine(e), limits, &error);
        FUZZ_CHECK(!line || (line->offset == e.offset && line->length == e.length));
    }
    return 0;
}
