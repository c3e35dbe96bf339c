#include "capturereply.h"

#include "client.h"
#include "recorder.h"
#include "wayback.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace wayback {

namespace {

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

constexpr int ProgressTickMs = 1000;
// Bigger answers are passed on but not kept in a copy: no album comes near it.
constexpr qsizetype MaxKeptBytes = 64 * 1024 * 1024;

Failure failureOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return Failure::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError: // as a proxy says it
        return Failure::NoName;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return Failure::ProxyNeedsPassword;
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
    case QAbstractSocket::SocketAccessError: // a proxy that will not tunnel there
        return Failure::ProxyRefused;
    default:
        return Failure::NoAnswer;
    }
}

// An answer not wanted any more: a connection's rest is read and dropped so that the
// connection may serve again; one from memory just goes.
void letGo(http::Reply *reply)
{
    if (auto *client = qobject_cast<http::ClientReply *>(reply))
        return client->discard();
    reply->abort();
    reply->deleteLater();
}

} // namespace

qint64 retryAfterMs(const QByteArray &value, const QDateTime &now)
{
    const QByteArray v = value.trimmed();
    if (v.isEmpty())
        return -1;
    if (std::all_of(v.cbegin(), v.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return v.size() > 9 ? std::numeric_limits<qint64>::max() : v.toLongLong() * 1000;
    const QDateTime at = mementoTime(v); // the same HTTP date
    return at.isValid() ? std::max<qint64>(now.msecsTo(at), 0) : -1;
}

CaptureReply *CaptureReply::send(const Archive &archive, const QUrl &original, const QByteArray &method, Open open,
                                 QObject *parent, const Pacing &pacing)
{
    auto *reply = new CaptureReply(archive, original, method, std::move(open), pacing, parent);
    const QUrl capture = captureUrl(archive.prefix, archive.date, original);
    reply->m_sinceFirst.start();
    if (capture.isEmpty())
        QTimer::singleShot(0, reply, [reply] { reply->fail(403, Failure::None); });
    else
        reply->ask(capture);
    return reply;
}

CaptureReply::CaptureReply(const Archive &archive, const QUrl &original, const QByteArray &method, Open open,
                           const Pacing &pacing, QObject *parent)
    : http::Reply(parent), m_archive(archive), m_original(QUrl(originalOf(original))),
      m_method(method == "HEAD" ? QByteArray("HEAD") : QByteArray("GET")), m_open(std::move(open)), m_pacing(pacing)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        m_tick.stop();
        ask(m_capture);
    });
    m_tick.setInterval(ProgressTickMs);
    connect(&m_tick, &QTimer::timeout, this, &http::Reply::progressed);
}

CaptureReply::~CaptureReply()
{
    if (m_inner)
        m_inner->abort();
}

void CaptureReply::ask(const QUrl &capture)
{
    m_capture = capture;
    ++m_tries;
    QPointer<CaptureReply> self(this);
    m_open(capture, m_method, this, [self](http::Reply *inner, Failure failure) {
        if (!self)
            return;
        if (!inner) { // told on the next turn: the caller may not be listening yet
            QMetaObject::invokeMethod(
                self, [self, failure] { self->fail(failure == Failure::NotAllowed ? 403 : 502, failure); },
                Qt::QueuedConnection);
            return;
        }
        self->m_inner = inner;
        inner->setParent(self);
        connect(inner, &http::Reply::headReady, self, &CaptureReply::headArrived);
        connect(inner, &http::Reply::progressed, self, &http::Reply::progressed);
        connect(inner, &http::Reply::readyRead, self, [s = self.data()] {
            if (s->m_status)
                emit s->readyRead();
        });
        connect(inner, &http::Reply::finished, self, [s = self.data()] {
            if (!s->m_status) { // no head: the archive did not answer
                const auto *client = qobject_cast<http::ClientReply *>(s->m_inner.data());
                return s->fail(502, failureOf(client ? client->socketError() : QAbstractSocket::UnknownSocketError));
            }
            QPointer<CaptureReply> alive(s);
            emit s->finished();
            if (alive)
                s->keep({}); // an empty body is never read
        });
    });
}

void CaptureReply::headArrived()
{
    const int status = m_inner->status();
    if (waitIfBusy(status))
        return;
    if (isRedirect(status) && !m_inner->header("Location").isEmpty()) {
        const QUrl next = m_capture.resolved(QUrl::fromEncoded(m_inner->header("Location")));
        const std::optional<Capture> capture = readCaptureUrl(m_archive.prefix, next);
        if (capture && capture->original == m_original) {
            // The archive's own: its nearest capture of the same address.
            if (++m_hops > MaxArchiveRedirects)
                return fail(502, Failure::None);
            m_inner->disconnect(this);
            letGo(m_inner); // its connection serves the next hop, if the rest is short
            m_inner = nullptr;
            return ask(next);
        }
        // The site's own, recorded: to that original address.
        if (capture)
            m_location = capture->original.toEncoded();
        else if (next.scheme() == QLatin1String("http") || next.scheme() == QLatin1String("https"))
            m_location = next.toEncoded();
    }
    // An archive that holds nothing says so without the date of a capture.
    m_notArchived = (status == 404 || status == 410) && m_inner->header("Memento-Datetime").isEmpty();
    m_captured = mementoTime(m_inner->header("Memento-Datetime"));
    if (!m_captured.isValid())
        if (const std::optional<Capture> capture = readCaptureUrl(m_archive.prefix, m_capture))
            m_captured = timeOf(capture->timestamp);
    m_status = status;
    emit headReady();
}

// The archive's own 429 or 503 (a captured one carries its capture's date): asked again
// after the wait it asks for, within the pacing's bounds, or failed as busy.
bool CaptureReply::waitIfBusy(int status)
{
    if ((status != 429 && status != 503) || !m_inner->header("Memento-Datetime").isEmpty())
        return false;
    qint64 wait = retryAfterMs(m_inner->header("Retry-After"), QDateTime::currentDateTimeUtc());
    if (wait < 0)
        wait = m_pacing.defaultWaitMs;
    m_inner->disconnect(this);
    letGo(m_inner);
    m_inner = nullptr;
    if (wait > m_pacing.longestWaitMs || m_tries >= m_pacing.maxTries
        || m_sinceFirst.elapsed() + wait > m_pacing.maxTotalMs) {
        fail(502, Failure::Busy);
        return true;
    }
    m_retry.start(int(wait));
    m_tick.start();
    emit waiting();
    return true;
}

void CaptureReply::fail(int status, Failure failure)
{
    if (m_failed)
        return;
    m_retry.stop();
    m_tick.stop();
    if (m_inner) {
        m_inner->disconnect(this);
        m_inner->abort();
    }
    m_failed = true;
    m_failure = failure;
    m_status = status;
    emit headReady();
    emit finished();
}

QByteArray CaptureReply::header(const QByteArray &name) const
{
    if (!m_inner || m_failed)
        return {};
    const QByteArray n = name.toLower();
    if (n == "location")
        return m_location;
    // How the archive sends the bytes is its own; everything else the site said is
    // under the recorded prefix (the content type of a raw capture is the site's).
    if (n == "content-type" || n == "content-length" || n == "content-encoding" || n == "transfer-encoding"
        || n == "memento-datetime")
        return m_inner->header(name);
    return m_inner->header(RecordedHeaderPrefix + name);
}

qint64 CaptureReply::contentLength() const
{
    return m_inner && !m_failed ? m_inner->contentLength() : 0;
}

qint64 CaptureReply::bytesAvailable() const
{
    return m_inner && !m_failed ? m_inner->bytesAvailable() : 0;
}

QByteArray CaptureReply::read(qint64 max)
{
    const QByteArray bytes = m_inner && !m_failed ? m_inner->read(max) : QByteArray();
    keep(bytes);
    return bytes;
}

http::Headers CaptureReply::headers() const
{
    http::Headers site;
    if (!m_inner || m_failed)
        return site;
    const QByteArray prefix = QByteArray(RecordedHeaderPrefix).toLower();
    for (const auto &[name, value] : m_inner->headers()) {
        const QByteArray n = name.toLower();
        if (!n.startsWith(prefix))
            continue;
        const QByteArray own = name.mid(prefix.size());
        const QByteArray o = own.toLower();
        // How the archive sends the bytes is its own, and a redirect's target is read back
        // to the original address.
        if (o == "transfer-encoding" || o == "content-length" || o == "content-encoding" || o == "connection"
            || (o == "location" && !m_location.isEmpty()) || o.isEmpty())
            continue;
        site.append({own, value});
    }
    const auto has = [&site](const QByteArray &name) {
        return std::any_of(site.cbegin(), site.cend(),
                           [&name](const auto &field) { return field.first.compare(name, Qt::CaseInsensitive) == 0; });
    };
    if (!has("Content-Type") && !m_inner->header("Content-Type").isEmpty())
        site.append({"Content-Type", m_inner->header("Content-Type")});
    if (!m_inner->header("Content-Encoding").isEmpty()) // the bytes as they come are still encoded
        site.append({"Content-Encoding", m_inner->header("Content-Encoding")});
    if (!m_location.isEmpty())
        site.append({"Location", m_location});
    return site;
}

// What was read is kept for the recorder; once the whole of a capture has been read it
// is recorded as the site's answer.
void CaptureReply::keep(const QByteArray &bytes)
{
    if (!m_recorder || !m_keeping)
        return;
    if (m_kept.size() + bytes.size() > MaxKeptBytes || m_method != "GET") {
        m_keeping = false;
        m_kept.clear();
        return;
    }
    m_kept += bytes;
    // Whole once all it said it holds is read (a reader may stop there and let it go), or
    // once it ended well and all of it was read.
    const bool allSaid = m_inner && contentLength() >= 0 && m_kept.size() == contentLength() && m_status;
    if (!allSaid && (!isFinished() || failed() || bytesAvailable() > 0 || !m_inner))
        return;
    m_keeping = false;
    // Only the archive's captures: its own errors say no capture date.
    if (m_notArchived || m_inner->header("Memento-Datetime").isEmpty() || !m_captured.isValid())
        return;
    warc::Answer answer;
    answer.target = m_original;
    answer.captured = m_captured;
    answer.status = m_status;
    answer.reason = http::reasonPhrase(m_status);
    answer.headers = headers();
    answer.payload = std::exchange(m_kept, {});
    m_recorder->record(answer);
}

QByteArray CaptureReply::peek(qint64 max) const
{
    return m_inner && !m_failed ? m_inner->peek(max) : QByteArray();
}

bool CaptureReply::isFinished() const
{
    return m_failed || (m_inner && m_status && m_inner->isFinished());
}

bool CaptureReply::failed() const
{
    return m_failed || (m_inner && m_inner->failed());
}

void CaptureReply::abort()
{
    m_retry.stop();
    m_tick.stop();
    if (m_inner)
        m_inner->abort();
    m_failed = true;
}

} // namespace wayback
