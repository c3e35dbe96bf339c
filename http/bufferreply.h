#pragma once

#include "framing.h"
#include "reply.h"

namespace http {

// An answer already whole in memory (a capture read from a file): its head on the next
// turn of the event loop, so that the caller may connect first, then its body at once.
class HTTP_EXPORT BufferReply : public Reply
{
    Q_OBJECT
public:
    BufferReply(int status, const Headers &headers, const QByteArray &body, QObject *parent);

    bool hasHead() const override { return m_ready; }
    int status() const override { return m_ready ? m_status : 0; }
    QByteArray header(const QByteArray &name) const override;
    Headers headers() const override { return m_headers; }
    qint64 contentLength() const override { return m_length; }
    qint64 bytesAvailable() const override { return m_ready ? m_body.size() - m_read : 0; }
    QByteArray read(qint64 max) override;
    QByteArray peek(qint64 max) const override;
    bool isFinished() const override { return m_ready; }
    bool failed() const override { return m_aborted; }
    void abort() override;
    // A HEAD: the head alone.
    void setBodiless();

private:
    int m_status;
    Headers m_headers;
    QByteArray m_body;
    qint64 m_length;
    qint64 m_read = 0;
    bool m_ready = false;
    bool m_aborted = false;
    bool m_bodiless = false;
};

} // namespace http
