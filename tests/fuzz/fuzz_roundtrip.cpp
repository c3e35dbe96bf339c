// What the server writes, read back by the client: any data, cut into pieces of any
// size (empty ones too), sent chunked or with its length under any status, comes back
// whole, and a status or request without a body reads as one.
#include "answerdriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using State = http::AnswerReader::State;
    Knobs knobs(data, size);
    const uint8_t pace = knobs.byte();
    const uint8_t cuts = knobs.byte();
    const uint8_t statusKnob = knobs.byte();
    const QByteArray body = knobs.rest().toByteArray();

    QByteArray chunked = http::answerHead(200, {{"Content-Type", "application/x-shockwave-flash"}}, -1, false).bytes;
    const auto write = [&chunked](const QByteArray &bytes) { chunked += bytes; };
    // Piece sizes cycle through a few the setting picks, so that empty pieces come too.
    const qsizetype sizes[] = {cuts & 3, (cuts >> 2) & 15, cuts >> 6, 1, 4096};
    for (qsizetype at = 0, i = 0; at < body.size(); ++i) {
        const QByteArray piece = body.mid(at, sizes[i % 5]);
        http::writeChunk(piece, write);
        at += piece.size();
    }
    chunked += http::LastChunk;
    const Answer a = readAnswer(chunked, false, pieceSize(pace), roomSize(pace >> 3));
    FUZZ_CHECK(a.state == State::Done && a.status == 200 && a.body == body);
    FUZZ_CHECK(a.framing == http::AnswerReader::Framing::Chunked);

    static constexpr int statuses[] = {200, 204, 206, 302, 304, 404, 413, 500, 299, 599};
    const int status = statuses[statusKnob % 10];
    const bool headOnly = statusKnob & 0x80;
    const http::AnswerHead head = http::answerHead(status, {}, statusKnob & 0x40 ? -1 : body.size(), headOnly);
    QByteArray second = head.bytes;
    if (head.chunked) {
        http::writeChunk(body, [&second](const QByteArray &bytes) { second += bytes; });
        second += http::LastChunk;
    } else if (!head.bodiless) {
        second += body;
    }
    const Answer b = readAnswer(second, headOnly, pieceSize(pace), roomSize(pace >> 3));
    FUZZ_CHECK(b.state == State::Done && b.status == status);
    FUZZ_CHECK(b.body == (head.bodiless ? QByteArray() : body));
    return 0;
}
