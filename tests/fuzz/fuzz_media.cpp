// Pictures and movies checked to their last byte as they stream: the same verdict
// however the answer is cut into pieces; a whole medium is what its first bytes say;
// where nothing may follow it, one more byte spoils it.
#include "fuzzing.h"
#include "media.h"

namespace {

// Small, so that what a movie states (and inflates to) stays cheap to check.
constexpr qint64 MaxMovieBytes = 1 << 20;

bool whole(QByteArrayView answer, media::Check::End end, qsizetype piece)
{
    media::Check check(MaxMovieBytes, end);
    for (qsizetype at = 0; at < answer.size(); at += piece)
        if (!check.feed(answer.sliced(at, qMin(piece, answer.size() - at))))
            return false;
    return check.finish();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using End = media::Check::End;
    Knobs knobs(data, size);
    static constexpr qsizetype pieces[] = {1, 2, 3, 5, 8, 13, 64, 4096};
    const qsizetype piece = pieces[knobs.byte() & 7];
    const QByteArray answer = knobs.rest().toByteArray();

    const bool exact = whole(answer, End::Exact, answer.size() + 1);
    const bool shortOnly = whole(answer, End::Short, answer.size() + 1);
    FUZZ_CHECK(exact == whole(answer, End::Exact, piece));
    FUZZ_CHECK(shortOnly == whole(answer, End::Short, piece));
    FUZZ_CHECK(!exact || shortOnly);
    if (shortOnly)
        FUZZ_CHECK(media::sniff(answer) != media::Kind::None);
    if (exact)
        FUZZ_CHECK(!whole(answer + '\0', End::Exact, piece));
    // Where only a shortfall counts, what follows a whole medium changes nothing.
    if (shortOnly)
        FUZZ_CHECK(whole(answer + QByteArray(1 + (knobs.byte() & 31), 'x'), End::Short, piece));
    return 0;
}
