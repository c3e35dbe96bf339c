// Requests as the server reads them: the request line, headers, Host and length checks,
// and a body of the stated length, within limits small enough for inputs to reach them.
#include "framing.h"
#include "fuzzing.h"
#include "parse.h"

namespace {

struct Outcome
{
    http::RequestReader::State state;
    int refusal;
    QByteArray method, target, body;
    http::Headers headers;
    qint64 trailing;
    bool operator==(const Outcome &) const = default;
};

Outcome readRequest(QByteArrayView input, const http::Limits &limits, const QList<QByteArray> &hosts, qsizetype piece)
{
    using State = http::RequestReader::State;
    http::RequestReader reader(limits, hosts);
    qsizetype at = 0;
    while (at < input.size() && (reader.state() == State::Head || reader.state() == State::Body)) {
        // A reader that takes nothing before its request is whole would stall the server.
        FUZZ_CHECK(reader.wants() > 0);
        const qsizetype n = qMin<qint64>(qMin<qint64>(reader.wants(), piece), input.size() - at);
        reader.feed(input.sliced(at, n));
        at += n;
    }
    reader.feed(input.sliced(at)); // what a client sends after its request is only counted
    const http::Request &r = reader.request();
    if (reader.state() == State::Done) {
        FUZZ_CHECK(reader.refusal() == 0);
        FUZZ_CHECK(r.body.size() <= limits.maxBodyBytes);
        FUZZ_CHECK(r.body.size() == r.header("Content-Length").toLongLong());
        FUZZ_CHECK(input.size() - reader.trailing() - r.body.size() <= limits.maxHeaderBytes); // the head
        FUZZ_CHECK(input.startsWith(r.method + ' ' + r.target + " HTTP/1."));
        FUZZ_CHECK(http::parse::isToken(r.method) && r.target.startsWith('/') && !r.target.contains(' '));
        FUZZ_CHECK(http::parse::isFieldValue(r.target));
        FUZZ_CHECK(r.headers.size() <= limits.maxHeaderLines);
        int hostFields = 0;
        for (const auto &[name, value] : r.headers) {
            FUZZ_CHECK(http::parse::isToken(name) && http::parse::isFieldValue(value));
            FUZZ_CHECK(name.compare("Transfer-Encoding", Qt::CaseInsensitive) != 0);
            hostFields += name.compare("Host", Qt::CaseInsensitive) == 0;
        }
        FUZZ_CHECK(hostFields <= 1);
        if (!hosts.isEmpty()) {
            bool allowed = false;
            for (const QByteArray &h : hosts)
                allowed = allowed || r.header("Host").compare(h, Qt::CaseInsensitive) == 0;
            FUZZ_CHECK(allowed);
        }
    } else if (reader.state() == State::Refused) {
        FUZZ_CHECK(QList<int>({400, 413, 421, 431, 501}).contains(reader.refusal()) && !reader.why().isEmpty());
    } else {
        FUZZ_CHECK(reader.refusal() == 0 && reader.wants() > 0); // waits for more
    }
    const bool done = reader.state() == State::Done;
    return {reader.state(),
            reader.refusal(),
            done ? r.method : QByteArray(),
            done ? r.target : QByteArray(),
            done ? r.body : QByteArray(),
            done ? r.headers : http::Headers(),
            done ? reader.trailing() : 0};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Knobs knobs(data, size);
    const uint8_t limitsKnob = knobs.byte();
    const uint8_t pace = knobs.byte();
    http::Limits limits;
    if (limitsKnob & 1)
        limits.maxHeaderBytes = 16 + (limitsKnob >> 4) * 24;
    if (limitsKnob & 2)
        limits.maxHeaderLines = limitsKnob >> 5;
    limits.maxBodyBytes = (limitsKnob & 4) ? (limitsKnob >> 3) * 8 : 0;
    const QList<QByteArray> hosts
        = (limitsKnob & 8) ? QList<QByteArray>{"127.0.0.1:8631", "Player.example"} : QList<QByteArray>{};
    const QByteArrayView input = knobs.rest();
    // However the bytes arrive, the server reads the same request.
    const Outcome whole = readRequest(input, limits, hosts, input.size() + 1);
    const Outcome paced = readRequest(input, limits, hosts, 1 + pace % 16);
    FUZZ_CHECK(whole == paced);
    return 0;
}
