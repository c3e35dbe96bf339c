#pragma once

// An answer of the site, as a web archive captured it: the capture of an original
// address nearest the run's date, asked for raw, the archive's own redirects to its
// nearest capture followed. It reads as the site's answer would: the site's redirects
// lead to original addresses, and the headers the site sent are the ones it gives.

#include "guard_export.h"
#include "reply.h"
#include "wacz.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>

#include <memory>

namespace wayback {
class Recorder;
}

namespace wayback {

struct Archive
{
    QUrl prefix; // ends in "/"
    QString date; // YYYY[MM[DD[hh[mm[ss]]]]]
    // Archive files the user opened, in place of an archive on the network: then prefix
    // is FilePrefix, and nothing is asked of any host.
    std::shared_ptr<const warc::Collection> files = {};
    bool isSet() const { return !prefix.isEmpty(); }
};
// Names the files' captures as an archive's would be named; the host can never resolve.
inline constexpr char FilePrefix[] = "http://archive-file.invalid/web/";

// Why an archive could not give a capture: its own host could not be reached, or it
// was busy.
enum class Failure {
    None,
    NotAllowed, // its address is not one the rule lets anything reach
    NoName, // its name does not resolve
    ConnectionRefused,
    NoAnswer,
    Busy, // it kept answering 429 or 503, or asked for too long a wait
    ProxyRefused, // the user's proxy would not take or carry the connection
    ProxyNeedsPassword,
};

// Sends method to url (an address of the archive), or says why it cannot.
using Open = std::function<void(const QUrl &url, const QByteArray &method, QObject *context,
                                std::function<void(http::Reply *reply, Failure failure)> opened)>;

// How long a busy archive (429 or 503 of its own) is waited for.
struct Pacing
{
    int defaultWaitMs = 5000; // when it does not say (Retry-After)
    int longestWaitMs = 60000; // a longer wait asked for fails at once
    int maxTries = 3; // in all, the first one included
    int maxTotalMs = 120000; // from the first try
};

// The wait a Retry-After asks for, in ms from now (seconds, or an HTTP date); -1 if it
// says nothing usable.
GUARD_EXPORT qint64 retryAfterMs(const QByteArray &value, const QDateTime &now);

class GUARD_EXPORT CaptureReply : public http::Reply
{
    Q_OBJECT
public:
    static constexpr int MaxArchiveRedirects = 8;
    // A POST is asked for as a GET: an archive holds what the site answered, not what
    // it would have done.
    static CaptureReply *send(const Archive &archive, const QUrl &original, const QByteArray &method, Open open,
                              QObject *parent, const Pacing &pacing = {});
    ~CaptureReply() override;

    bool hasHead() const override { return m_status != 0; }
    int status() const override { return m_status; }
    QByteArray header(const QByteArray &name) const override;
    http::Headers headers() const override; // the site's
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
    // Once failed: why, if the archive itself could not be reached or was busy.
    Failure failure() const { return m_failure; }
    // Whether it waits now for a busy archive to ask again.
    bool isWaiting() const { return m_retry.isActive(); }
    // Every whole answer read through to its end is kept there as the site's.
    void setRecorder(std::shared_ptr<Recorder> recorder) { m_recorder = std::move(recorder); }

signals:
    // The archive is busy: it is asked again after a while (progressed ticks meanwhile).
    void waiting();

private:
    CaptureReply(const Archive &archive, const QUrl &original, const QByteArray &method, Open open,
                 const Pacing &pacing, QObject *parent);
    void ask(const QUrl &capture);
    void headArrived();
    bool waitIfBusy(int status);
    void fail(int status, Failure failure);
    void keep(const QByteArray &bytes);

    Archive m_archive;
    QUrl m_original;
    QByteArray m_method;
    Open m_open;
    QUrl m_capture; // asked for now
    QPointer<http::Reply> m_inner;
    int m_hops = 0;
    int m_status = 0;
    bool m_failed = false;
    bool m_notArchived = false;
    QByteArray m_location; // the site's redirect, to an original address
    QDateTime m_captured;
    Failure m_failure = Failure::None;
    Pacing m_pacing;
    int m_tries = 0;
    QElapsedTimer m_sinceFirst;
    QTimer m_retry;
    QTimer m_tick; // progress while waiting, so that silence limits hold
    std::shared_ptr<Recorder> m_recorder;
    QByteArray m_kept; // what was read, for the recorder
    bool m_keeping = true;
};

} // namespace wayback
