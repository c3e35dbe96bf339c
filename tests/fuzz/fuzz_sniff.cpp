// The first bytes and the Content-Type of an answer: which medium the relay takes it for,
// and whether its server's type lets it pass as that. The input's first SniffBytes bytes
// are the answer's start, the rest its Content-Type.
#include "fuzzing.h"
#include "media.h"

#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using media::Kind;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArrayView head = input.first(qMin<qsizetype>(input.size(), media::SniffBytes));
    const Kind kind = media::sniff(input);
    // The relay decides on the first bytes alone, and a decision made on fewer of them
    // holds when more arrive.
    FUZZ_CHECK(kind == media::sniff(head));
    for (qsizetype n = 0; n <= head.size(); ++n)
        FUZZ_CHECK(media::sniff(head.first(n)) == Kind::None || media::sniff(head.first(n)) == kind);

    const QByteArray type = input.sliced(head.size()).toByteArray();
    const QByteArray essence = type.split(';').first().trimmed().toLower();
    for (const Kind k : {Kind::None, Kind::Swf, Kind::Jpeg, Kind::Png, Kind::Gif}) {
        const bool fits = media::typeFits(k, type);
        FUZZ_CHECK(k != Kind::None || !fits);
        // Case, blanks and parameters change nothing.
        FUZZ_CHECK(fits == media::typeFits(k, type.toUpper()));
        FUZZ_CHECK(fits == media::typeFits(k, " " + type + "; charset=utf-8 "));
        // Nothing its server calls text, a script or a drawing that can script passes,
        // and a picture is never one of the generic types.
        if (fits)
            FUZZ_CHECK(!essence.startsWith("text/") && !essence.contains("script") && !essence.contains("svg"));
        if (fits && k != Kind::Swf && !essence.isEmpty())
            FUZZ_CHECK(essence.startsWith("image/"));
    }
    return 0;
}
