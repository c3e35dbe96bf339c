// One line of a CDXJ index from anywhere. A line read and written again reads back the
// same; nothing read is ever out of the line's bounds.
#include "fuzzing.h"
#include "warc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    warc::Limits limits;
    limits.maxLineBytes = 4096;
    QString error;
    const auto entry = warc::readCdxjLine(line, limits, &error);
    if (!entry) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(entry->timestamp.size() == 14 && entry->offset >= 0 && entry->length >= 0);
    limits.maxLineBytes = 1 << 20; // escaping may lengthen it
    const auto again = warc::readCdxjLine(warc::cdxjLine(*entry), limits, &error);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->urlKey == entry->urlKey && again->timestamp == entry->timestamp);
    FUZZ_CHECK(again->offset == entry->offset && again->length == entry->length && again->status == entry->status);
    FUZZ_CHECK(again->filename == entry->filename);
    return 0;
}
