#include "proxyhead.h"

#include "framing.h"
#include "parse.h"

#include <QHostAddress>

#include <algorithm>

namespace guard {

namespace {

bool isHopByHop(const QByteArray &name)
{
    for (const char *h : {"connection", "keep-alive", "proxy-connection", "proxy-authorization", "proxy-authenticate",
                          "upgrade", "te", "trailer"})
        if (name.compare(h, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// No spaces or control characters: nothing that could end a line or a field.
bool isPrintable(QByteArrayView s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) == 0x7f)
            return false;
    return true;
}

} // namespace

bool splitAuthority(const QByteArray &authority, quint16 defaultPort, QString *host, quint16 *port)
{
    if (authority.isEmpty() || authority.contains('@') || !isPrintable(authority))
        return false;
    QByteArray h = authority;
    QByteArray p;
    if (h.startsWith('[')) {
        const qsizetype close = h.indexOf(']');
        if (close < 0)
            return false;
        p = h.mid(close + 1);
        h = h.mid(1, close - 1);
        if (!p.isEmpty() && !p.startsWith(':'))
            return false;
        p = p.mid(1);
        if (QHostAddress(QString::fromLatin1(h)).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else {
        const qsizetype colon = h.lastIndexOf(':');
        if (colon >= 0) {
            p = h.mid(colon + 1);
            h = h.left(colon);
            if (p.isEmpty() || h.contains(':'))
                return false;
        }
    }
    if (h.isEmpty())
        return false;
    for (char c : h)
        if (static_cast<unsigned char>(c) >= 0x7f || c == '/' || c == '\\' || c == '?' || c == '#')
            return false;
    *port = defaultPort;
    if (!p.isEmpty()) {
        if (!http::parse::isDigits(p, 5) || p.toUInt() == 0 || p.toUInt() > 65535)
            return false;
        *port = quint16(p.toUInt());
    }
    *host = QString::fromLatin1(h);
    return true;
}

std::optional<ProxyRequest> readProxyRequest(const QByteArray &head, int *refusal)
{
    *refusal = 400;
    const QList<QByteArray> lines = http::parse::lines(head);
    const QList<QByteArray> first = lines.value(0).split(' ');
    if (lines.size() > MaxHeadLines || first.size() != 3 || !http::parse::isToken(first[0])
        || !first[2].startsWith("HTTP/1.") || !isPrintable(first[1]) || !isPrintable(first[2]))
        return std::nullopt;
    ProxyRequest request;
    QByteArray authority;
    QByteArray path;
    if (first[0] == "CONNECT") {
        request.tunnel = true;
        authority = first[1];
    } else {
        const QByteArray &target = first[1];
        if (!target.toLower().startsWith("http://"))
            return std::nullopt; // https goes through a tunnel, and nothing else is served
        const QByteArray afterScheme = target.mid(7);
        qsizetype pathAt = afterScheme.size();
        for (char c : {'/', '?', '#'})
            if (const qsizetype at = afterScheme.indexOf(c); at >= 0)
                pathAt = std::min(pathAt, at);
        authority = afterScheme.left(pathAt);
        path = afterScheme.mid(pathAt);
        if (path.contains('#'))
            path.truncate(path.indexOf('#'));
        if (path.isEmpty() || path.startsWith('?'))
            path.prepend('/');
    }
    if (!splitAuthority(authority, request.tunnel ? 443 : 80, &request.host, &request.port))
        return std::nullopt;
    QByteArray out = first[0] + ' ' + path + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QPair<QByteArray, QByteArray> field;
        if (!http::parse::headerField(lines[i], &field))
            return std::nullopt;
        // The Host is the one the address was judged for, whatever the request said.
        if (!isHopByHop(field.first) && field.first.compare("host", Qt::CaseInsensitive) != 0) {
            out += field.first + ": " + field.second + "\r\n";
            request.fields << field;
        }
        if ((field.first.compare("content-length", Qt::CaseInsensitive) == 0 && field.second.trimmed() != "0")
            || field.first.compare("transfer-encoding", Qt::CaseInsensitive) == 0)
            request.hasBody = true;
        if (field.first.compare("sec-fetch-dest", Qt::CaseInsensitive) == 0)
            request.dest = field.second;
    }
    request.method = first[0];
    request.authority = authority;
    request.path = path;
    if (!request.tunnel)
        request.target = "http://" + authority + path;
    if (!request.tunnel)
        request.upstreamHead = out + "Connection: close\r\n\r\n";
    *refusal = 0;
    return request;
}

std::optional<AnswerHead> rewriteAnswerHead(const QByteArray &head)
{
    const QList<QByteArray> lines = http::parse::lines(head);
    const QList<QByteArray> status = lines.value(0).split(' ');
    AnswerHead answer;
    answer.status = status.size() >= 2 && http::parse::isDigits(status[1], 3) ? status[1].toInt() : 0;
    if (!lines.value(0).startsWith("HTTP/1.") || answer.status < 100 || lines.size() > MaxHeadLines
        || !http::parse::isFieldValue(lines[0]))
        return std::nullopt;
    const bool final = answer.status >= 200;
    answer.head = lines[0] + "\r\n";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QPair<QByteArray, QByteArray> field;
        if (!http::parse::headerField(lines[i], &field))
            return std::nullopt;
        if (!final || !isHopByHop(field.first))
            answer.head += lines[i] + "\r\n";
    }
    if (final)
        answer.head += "Connection: close\r\n";
    answer.head += "\r\n";
    return answer;
}

QByteArray decodedAnswerHead(int status, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    bool chunked = false;
    for (const auto &[name, value] : headers)
        chunked = chunked || name.compare("transfer-encoding", Qt::CaseInsensitive) == 0;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + http::reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers) {
        if (isHopByHop(name) || name.compare("transfer-encoding", Qt::CaseInsensitive) == 0
            || (chunked && name.compare("content-length", Qt::CaseInsensitive) == 0))
            continue;
        head += name + ": " + value + "\r\n";
    }
    return head + "Connection: close\r\n\r\n";
}

} // namespace guard
