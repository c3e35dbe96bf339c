// The guard's heads: a proxy request as the engine (or anything on loopback) sends it,
// and an answer's head as any server of the internet sends it. What goes on from them
// must be one well-formed head that says the connection closes, whatever came in.
#include "fuzzing.h"
#include "parse.h"
#include "proxyhead.h"

namespace {

// Every line a field or the first line, no bare CR or LF inside, one blank line at the end.
void checkHead(const QByteArray &head, bool closes)
{
    FUZZ_CHECK(head.endsWith("\r\n\r\n"));
    const QList<QByteArray> lines = head.chopped(4).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        FUZZ_CHECK(i + 1 == lines.size() || line.endsWith('\r'));
        if (line.endsWith('\r'))
            line.chop(1);
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\0'));
        QPair<QByteArray, QByteArray> field;
        FUZZ_CHECK(i == 0 || http::parse::headerField(line, &field));
        FUZZ_CHECK(i == 0 || field.first.compare("keep-alive", Qt::CaseInsensitive) != 0 || !closes);
    }
    FUZZ_CHECK(!closes || head.contains("\r\nConnection: close\r\n"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    int refusal = 0;
    if (const auto request = guard::readProxyRequest(bytes, &refusal)) {
        FUZZ_CHECK(refusal == 0 && !request->host.isEmpty() && request->port > 0);
        FUZZ_CHECK(!request->host.contains(u'/') && !request->host.contains(u'@'));
        if (!request->tunnel) {
            checkHead(request->upstreamHead, true);
            FUZZ_CHECK(request->upstreamHead.count("\nHost: ") == 1
                       && request->upstreamHead.split(' ').value(1).startsWith('/'));
            FUZZ_CHECK(request->target.startsWith("http://") && !request->target.contains(' '));
        }
    } else {
        FUZZ_CHECK(refusal >= 400);
    }
    if (const auto answer = guard::rewriteAnswerHead(bytes)) {
        FUZZ_CHECK(answer->status >= 100 && answer->status <= 999);
        checkHead(answer->head, answer->status >= 200);
    }
    return 0;
}
