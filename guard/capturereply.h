#pragma once

// An answer of the site, as a web archive captured it: the capture of an original
// address nearest the run's date, asked for raw, the archive's own redirects to its
// nearest capture followed. It reads as the site's answer would: the site's redirects
// lead to original addresses, and the headers the site sent are the ones it gives.

#include "guard_export.h"
#include "reply.h"

#include <QDateTime>
#include <QPointer>
#include <QUrl>

#include <functional>

namespace http {
class ClientReply;
}

namespace wayback {

struct Archive
{
    QUrl prefix;  // ends in "/"
    QString date; // YYYY[MM[DD[hh[mm[ss]]]]]
    bool isSet() const { return !prefix.isEmpty(); }
};

// Sends method to url (an address of the archive) on a connection of its own, or says
// with an error status (403, 502) why it cannot.
using Open = std::function<void(const QUrl &url, const QByteArray &method, QObject *context,
                                std::function<void(http::ClientReply *reply, int status)> opened)>;

class GUARD_EXPORT CaptureReply : public http::Reply
{
    Q_OBJECT
public:
    static constexpr int MaxArchiveRedirects = 8;
    // A POST is asked for as a GET: an archive holds what the site answered, not what
    // it would have done.
    static CaptureReply *send(const Archive &archive, const QUrl &original, const QByteArray &method, Open open,
                              QObject *parent);
    ~CaptureReply() override;

    bool hasHead() const override { return m_status != 0; }
    int status() const override { return m_status; }
    QByteArray header(const QByteArray &name) const override;
    qint64 contentLength() const override;
    qint64 bytesAvailable() const override;
    QByteArray read(qint64 max) override;
    QByteArray peek(qint64 max) const override;
    bool isFinished() const override;
    bool failed() const override;
    void abort() override;

    // Once the head is here: the archive holds no capture of the address.
    bool notArchived() const { return m_notArchived; }
    // When the capture answering was made (UTC); invalid if the archive did not say.
    QDateTime captured() const { return m_captured; }

private:
    CaptureReply(const Archive &archive, const QUrl &original, const QByteArray &method, Open open, QObject *parent);
    void ask(const QUrl &capture);
    void headArrived();
    void fail(int status);

    Archive m_archive;
    QUrl m_original;
    QByteArray m_method;
    Open m_open;
    QUrl m_capture; // asked for now
    QPointer<http::ClientReply> m_inner;
    int m_hops = 0;
    int m_status = 0;
    bool m_failed = false;
    bool m_notArchived = false;
    QByteArray m_location; // the site's redirect, to an original address
    QDateTime m_captured;
};

} // namespace wayback
