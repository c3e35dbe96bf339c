// An archive's Location, Memento-Datetime and index of captures, as any archive (or
// anything answering in its place) sends them. What is read back must be an http
// original that maps to a capture and reads back to itself, never anything else; an
// index chooses only whole timestamps for originals.
#include "fuzzing.h"
#include "wayback.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    static const QUrl prefix(QStringLiteral("https://web.archive.org/web/"));
    if (const auto capture = wayback::readCaptureUrl(prefix, QUrl::fromEncoded(prefix.toEncoded() + bytes))) {
        FUZZ_CHECK(wayback::isTimestamp(capture->timestamp));
        FUZZ_CHECK(capture->original.scheme() == QLatin1String("http") && !capture->original.host().isEmpty());
        FUZZ_CHECK(wayback::originalOf(capture->original) == capture->original.toString(QUrl::FullyEncoded));
        const QUrl again = wayback::captureUrl(prefix, capture->timestamp, capture->original);
        const auto back = wayback::readCaptureUrl(prefix, again);
        FUZZ_CHECK(back && back->original == capture->original && back->modifier == QLatin1String("id_"));
    }
    const QDateTime t = wayback::mementoTime(bytes);
    FUZZ_CHECK(!t.isValid() || t.timeSpec() == Qt::UTC);
    if (const auto index = wayback::readIndex(bytes, QStringLiteral("2010"), 20000)) {
        for (auto it = index->cbegin(); it != index->cend(); ++it) {
            FUZZ_CHECK(it.value().size() == 14 && wayback::isTimestamp(it.value()));
            FUZZ_CHECK(wayback::originalOf(QUrl(it.key())) == it.key());
        }
    }
    return 0;
}
