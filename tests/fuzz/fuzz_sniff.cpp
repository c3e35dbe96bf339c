// The first bytes and the Content-Type of an answer a movie may not read: which are shown
// as pictures or movies anyway. The input's first SniffBytes bytes are the answer's
// start, the rest its Content-Type.
#include "fuzzing.h"
#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using sandbox::Media;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArrayView head = input.first(qMin<qsizetype>(input.size(), sandbox::SniffBytes));
    const Media media = sandbox::sniff(input);
    // The relay decides on the first bytes alone, and a decision made on fewer of them
    // holds when more arrive.
    FUZZ_CHECK(media == sandbox::sniff(head));
    for (qsizetype n = 0; n <= head.size(); ++n)
        FUZZ_CHECK(sandbox::sniff(head.first(n)) == Media::None || sandbox::sniff(head.first(n)) == media);

    const QByteArray type = input.sliced(head.size()).toByteArray();
    const QByteArray essence = type.split(';').first().trimmed().toLower();
    for (const Media m : {Media::None, Media::Swf, Media::Jpeg, Media::Png, Media::Gif}) {
        const bool shown = sandbox::isShownMedia(m, type);
        FUZZ_CHECK(m != Media::None || !shown);
        // Case, blanks and parameters change nothing.
        FUZZ_CHECK(shown == sandbox::isShownMedia(m, type.toUpper()));
        FUZZ_CHECK(shown == sandbox::isShownMedia(m, " " + type + "; charset=utf-8 "));
        // Nothing its server calls text, a script or a drawing that can script is shown.
        if (shown)
            FUZZ_CHECK(!essence.startsWith("text/") && !essence.contains("script") && !essence.contains("svg"));
    }
    return 0;
}
