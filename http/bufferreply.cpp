#include "bufferreply.h"

#include <QMetaObject>

namespace http {

BufferReply::BufferReply(int status, const Headers &headers, const QByteArray &body, QObject *parent)
    : Reply(parent), m_status(status), m_headers(headers), m_body(body), m_length(body.size())
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_aborted)
                return;
            m_ready = true;
            emit headReady();
            if (bytesAvailable() > 0)
                emit readyRead();
            emit finished();
        },
        Qt::QueuedConnection);
}

void BufferReply::setBodiless()
{
    m_bodiless = true;
    m_body.clear();
}

QByteArray BufferReply::header(const QByteArray &name) const
{
    for (const auto &[n, v] : m_headers)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

QByteArray BufferReply::read(qint64 max)
{
    const QByteArray chunk = peek(max);
    m_read += chunk.size();
    if (m_read == m_body.size()) // read through: its memory goes now
        m_body.clear(), m_read = 0;
    return chunk;
}

QByteArray BufferReply::peek(qint64 max) const
{
    return m_ready ? m_body.mid(m_read, max) : QByteArray();
}

void BufferReply::abort()
{
    m_aborted = true;
    m_body.clear();
    m_read = 0;
}

} // namespace http
