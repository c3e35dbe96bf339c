#pragma once

// Reads an answer as the client does: bytes arrive in pieces, the caller holds at most
// `room` decoded bytes at a time and takes them as they come, and the sender closes
// when the input ends. What must hold at every step is checked on the way.

#include "framing.h"
#include "fuzzing.h"
#include "parse.h"

#include <tuple>

struct Answer
{
    http::AnswerReader::State state = http::AnswerReader::State::Head;
    int status = 0;
    http::Headers headers;
    http::AnswerReader::Framing framing = http::AnswerReader::Framing::UntilClose;
    qint64 length = -1;
    QByteArray body;
    bool operator==(const Answer &) const = default;
};

inline void checkHead(const http::AnswerReader &reader)
{
    using Framing = http::AnswerReader::Framing;
    FUZZ_CHECK(reader.status() >= 200 && reader.status() <= 599);
    for (const auto &[name, value] : reader.headers()) {
        FUZZ_CHECK(http::parse::isToken(name));
        FUZZ_CHECK(http::parse::isFieldValue(value) && value == value.trimmed());
    }
    const QByteArray te = reader.header("Transfer-Encoding").toLower();
    if (reader.framing() == Framing::Length) {
        FUZZ_CHECK(te.isEmpty());
        FUZZ_CHECK(reader.contentLength() >= 0);
        FUZZ_CHECK(reader.contentLength() == reader.header("Content-Length").toLongLong());
    } else {
        FUZZ_CHECK(reader.contentLength() == -1);
    }
    if (reader.framing() == Framing::Chunked) {
        bool said = false;
        for (const auto &[name, value] : reader.headers())
            said = said || (name.toLower() == "transfer-encoding" && value.toLower().contains("chunked"));
        FUZZ_CHECK(said);
    }
}

inline Answer readAnswer(QByteArrayView input, bool bodiless, qsizetype piece, qint64 room)
{
    using State = http::AnswerReader::State;
    using Framing = http::AnswerReader::Framing;
    http::AnswerReader reader(bodiless);
    Answer answer;
    QByteArray held; // decoded, not yet taken
    qsizetype at = 0;
    bool closed = false;
    int heads = 0;
    int still = 0; // rounds in a row in which nothing moved
    while (reader.state() == State::Head || reader.state() == State::Body) {
        const auto mark = std::tuple(at, closed, reader.buffered(), answer.body.size(), reader.state());
        if (reader.state() == State::Head && reader.readHead()) {
            ++heads;
            checkHead(reader);
        }
        if (reader.state() == State::Body) {
            reader.decode(&held, room);
            FUZZ_CHECK(held.size() <= room);
        }
        answer.body += held;
        held.clear();
        if (reader.state() != State::Head && reader.state() != State::Body)
            break;
        // Whatever it holds stays within a head, a line, or the caller's room.
        FUZZ_CHECK(reader.buffered() <= qMax<qint64>(http::AnswerReader::MaxHeadBytes + 4, room));
        const qint64 wanted = reader.wants(room);
        FUZZ_CHECK(wanted >= 0);
        if (at < input.size() && wanted > 0) {
            const qsizetype n = qMin<qint64>(qMin<qint64>(wanted, piece), input.size() - at);
            reader.feed(input.sliced(at, n));
            at += n;
        } else if (at == input.size() && !closed) {
            reader.close();
            closed = true;
        }
        // An unfinished answer that takes nothing and decodes nothing hangs its client.
        still = mark == std::tuple(at, closed, reader.buffered(), answer.body.size(), reader.state()) ? still + 1 : 0;
        FUZZ_CHECK(still < 2);
    }
    FUZZ_CHECK(heads <= 1);
    answer.state = reader.state();
    answer.status = reader.status();
    answer.headers = reader.headers();
    answer.framing = reader.framing();
    answer.length = reader.contentLength();
    FUZZ_CHECK(answer.body.size() <= input.size());
    if (bodiless || answer.status == 204 || answer.status == 304)
        FUZZ_CHECK(answer.body.isEmpty());
    if (answer.framing == Framing::Length) {
        FUZZ_CHECK(answer.body.size() <= answer.length);
        if (answer.state == State::Done && !bodiless && answer.status != 204 && answer.status != 304)
            FUZZ_CHECK(answer.body.size() == answer.length);
    }
    if (answer.framing == Framing::UntilClose && answer.state == State::Done)
        FUZZ_CHECK(input.endsWith(answer.body));
    return answer;
}

// The sizes of pieces and rooms a setting byte picks from, the extremes included.
inline qsizetype pieceSize(uint8_t knob)
{
    static constexpr qsizetype sizes[] = {1, 2, 3, 7, 64, 1000, 1 << 20, 1 << 20};
    return sizes[knob & 7];
}

inline qint64 roomSize(uint8_t knob)
{
    static constexpr qint64 sizes[] = {1, 2, 5, 16, 4096, 256 * 1024, 256 * 1024, 256 * 1024};
    return sizes[knob & 7];
}
