#include "archiverouting.h"

#include "bufferreply.h"
#include "client.h"
#include "wayback.h"

#include <QLocale>

#include <atomic>

#include <QPointer>
#include <QTimer>

#include <utility>

namespace wayback {

namespace {

QMutex runLock;
RunArchive theRunArchive;

http::Headers requestHeaders()
{
    return {{"Accept", "*/*"},
            {"Accept-Encoding", "identity"},
            {"User-Agent", "Mozilla/5.0 (compatible; photoforKP/1.00)"}};
}

quint16 defaultPort(const QUrl &url)
{
    return url.scheme() == QLatin1String("https") ? 443 : 80;
}

constexpr qint64 MaxHeldFromFiles = 512LL * 1024 * 1024;

QByteArray httpDate(const QDateTime &when)
{
    return QLocale::c().toString(when.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

// The archive files answer as an archive on the network would: the capture nearest the
// date asked for, with the site's headers under the recorded prefix and the capture's
// date; the site's own redirect as one to the capture of its target. What they do not
// hold is a 404 without a date.
http::Reply *answerFromFiles(const warc::Collection &files, const QUrl &url, const QByteArray &method,
                             QObject *context)
{
    const std::optional<Capture> capture = readCaptureUrl(QUrl(QString::fromLatin1(FilePrefix)), url);
    std::optional<warc::IndexEntry> entry;
    std::optional<warc::Answer> answer;
    if (capture)
        entry = files.nearest(capture->original, timeOf(capture->timestamp));
    if (entry)
        answer = files.answer(*entry, nullptr);
    if (!answer)
        return new http::BufferReply(404, {{"Content-Type", "text/plain"}}, "not in the archive files\n", context);
    // A file from someone else may hold records that inflate to hundreds of megabytes
    // each: what all answers from files hold at once is bounded, and one past it fails.
    static std::atomic<qint64> held{0};
    const qint64 size = answer->payload.size();
    if (held.fetch_add(size) + size > MaxHeldFromFiles) {
        held.fetch_sub(size);
        return new http::BufferReply(503, {{"Content-Type", "text/plain"}}, "too much from the archive files at once\n",
                                     context);
    }
    http::Headers headers{{"Memento-Datetime", httpDate(answer->captured)}};
    for (const auto &[name, value] : answer->headers) {
        const QByteArray n = name.toLower();
        if (n == "content-length" || n == "transfer-encoding")
            continue;
        if (n == "content-type" || n == "content-encoding") // the bytes as they are
            headers.append({name, value});
        if (n == "location") {
            const QUrl to = capture->original.resolved(QUrl::fromEncoded(value));
            const QUrl at = captureUrl(QUrl(QString::fromLatin1(FilePrefix)), entry->timestamp, to);
            headers.append({"Location", at.isEmpty() ? value : at.toEncoded()});
        }
        headers.append({RecordedHeaderPrefix + name, value});
    }
    auto *reply = new http::BufferReply(answer->status, headers, answer->payload, context);
    QObject::connect(reply, &QObject::destroyed, [size] { held.fetch_sub(size); });
    if (method == "HEAD")
        reply->setBodiless();
    return reply;
}

} // namespace

void setRunArchive(const RunArchive &run)
{
    const QMutexLocker locked(&runLock);
    theRunArchive = run;
}

RunArchive runArchive()
{
    const QMutexLocker locked(&runLock);
    return theRunArchive;
}

Routing::Routing(Resolve resolve) : m_resolve(std::move(resolve)) { }

void Routing::detach()
{
    const QMutexLocker locked(&m_lock);
    m_resolve = {};
}

QString Routing::key(const QString &host, quint16 port)
{
    return host.toLower() + u':' + QString::number(port);
}

void Routing::setArchive(const Archive &archive, bool everything)
{
    const QMutexLocker locked(&m_lock);
    if (archive.prefix != m_archive.prefix || archive.date != m_archive.date || archive.files != m_archive.files) {
        m_index.clear();
        m_timestamps.clear();
    }
    m_archive = archive;
    m_everything = everything && archive.isSet(); // without an archive, nothing comes from one
}

Archive Routing::archive() const
{
    const QMutexLocker locked(&m_lock);
    return m_archive;
}

bool Routing::archivesEverything() const
{
    const QMutexLocker locked(&m_lock);
    return m_everything;
}

void Routing::addSite(const QUrl &url)
{
    const QMutexLocker locked(&m_lock);
    if (m_archive.isSet() && m_sites.size() < MaxSites)
        m_sites.insert(key(url.host(), quint16(url.port(80))));
}

void Routing::keepLive(const QHostAddress &address, quint16 port)
{
    const QMutexLocker locked(&m_lock);
    m_live.insert(key(address.toString(), port));
}

bool Routing::fromArchive(const QString &host, quint16 port) const
{
    const QMutexLocker locked(&m_lock);
    if (!m_archive.isSet() || m_live.contains(key(host, port)))
        return false;
    if (m_archive.files) // nothing goes out
        return true;
    // The archive itself is asked, never mapped.
    const QUrl &p = m_archive.prefix;
    if (host.compare(p.host(), Qt::CaseInsensitive) == 0 && port == p.port(defaultPort(p)))
        return false;
    return m_everything || m_sites.contains(key(host, port));
}

bool Routing::isLive(quint16 port) const
{
    const QMutexLocker locked(&m_lock);
    return m_live.contains(key(QHostAddress(QHostAddress::LocalHost).toString(), port))
           || m_live.contains(key(QHostAddress(QHostAddress::LocalHostIPv6).toString(), port));
}

bool Routing::fromArchive(const QUrl &url) const
{
    return fromArchive(url.host(), quint16(url.port(defaultPort(url))));
}

CaptureReply *Routing::open(const QUrl &original, const QByteArray &method, QObject *parent)
{
    Archive archive;
    Pacing pacing;
    std::shared_ptr<Recorder> recorder;
    {
        const QMutexLocker locked(&m_lock);
        archive = m_archive;
        pacing = m_pacing;
        recorder = m_recorder;
    }
    if (archive.files) {
        std::shared_ptr<const warc::Collection> files = archive.files;
        CaptureReply *reply = CaptureReply::send(
            archive, original, method,
            [files](const QUrl &url, const QByteArray &m, QObject *context, auto opened) {
                opened(answerFromFiles(*files, url, m, context), Failure::None);
            },
            parent, pacing);
        if (recorder) // a copy of a copy: the run cannot ask for it, tests see what was loaded
            reply->setRecorder(std::move(recorder));
        return reply;
    }
    {
        const QMutexLocker locked(&m_lock);
        const QString site = key(original.host(), quint16(original.port(80)));
        const Index index = m_index.value(site, Index::Unknown);
        if (index == Index::Known) {
            // Its very capture: no redirect to ask for first.
            const QString exact = m_timestamps.value(originalOf(original));
            if (!exact.isEmpty())
                archive.date = exact;
        } else if (index == Index::Unknown && m_home && m_index.size() < MaxIndexedSites) {
            if (const std::optional<QUrl> endpoint = indexEndpoint(archive.prefix)) {
                m_index.insert(site, Index::Asking);
                const QUrl query = indexQuery(*endpoint, original, archive.date, m_indexLimits.maxLines);
                QMetaObject::invokeMethod(
                    m_home,
                    [routing = weak_from_this(), site, query, archive, limits = m_indexLimits] {
                        if (const std::shared_ptr<Routing> r = routing.lock())
                            r->learnIndex(site, query, archive, limits);
                    },
                    Qt::QueuedConnection); // never now: the lock is held
            }
        }
    }
    CaptureReply *reply = CaptureReply::send(
        archive, original, method,
        [routing = weak_from_this()](const QUrl &url, const QByteArray &m, QObject *context, auto opened) {
            if (const std::shared_ptr<Routing> r = routing.lock())
                return r->connect(url, m, context, opened);
            opened(nullptr, Failure::NoAnswer);
        },
        parent, pacing);
    if (recorder)
        reply->setRecorder(std::move(recorder));
    return reply;
}

void Routing::setRecorder(std::shared_ptr<Recorder> recorder)
{
    const QMutexLocker locked(&m_lock);
    m_recorder = std::move(recorder);
}

std::shared_ptr<Recorder> Routing::recorder() const
{
    const QMutexLocker locked(&m_lock);
    return m_recorder;
}

void Routing::connect(const QUrl &url, const QByteArray &method, QObject *context,
                      std::function<void(http::Reply *, Failure)> opened)
{
    const quint16 port = quint16(url.port(defaultPort(url)));
    Resolve resolve;
    std::function<QNetworkProxy()> findProxy;
    std::optional<QNetworkProxy> proxy;
    {
        const QMutexLocker locked(&m_lock);
        resolve = m_resolve;
        findProxy = m_findProxy;
        proxy = m_proxy;
    }
    if (!resolve)
        return opened(nullptr, Failure::NoAnswer);
    if (!proxy) {
        proxy = findProxy ? findProxy() : QNetworkProxy(QNetworkProxy::NoProxy);
        const QMutexLocker locked(&m_lock);
        m_proxy = proxy;
    }
    if (proxy->type() != QNetworkProxy::NoProxy) {
        // The proxy looks the name up: where it leads is the proxy's business.
        http::ClientReply::Target target = http::ClientReply::Target::to(url, {});
        target.proxy = *proxy;
        return opened(http::ClientReply::send(target, method, requestHeaders(), {}, context), Failure::None);
    }
    QPointer<QObject> alive(context);
    resolve(
        url.host(), port, context,
        [routing = weak_from_this(), alive, url, method, port, opened](const QHostAddress &address, Failure failure) {
            const std::shared_ptr<Routing> self = routing.lock();
            if (!alive || !self)
                return;
            if (failure != Failure::None)
                return opened(nullptr, failure);
            // Never one of the program's own services, whatever the archive's name says.
            if (address.isLoopback() && self->isLive(port))
                return opened(nullptr, Failure::NotAllowed);
            const http::ClientReply::Target target = http::ClientReply::Target::to(url, address);
            opened(http::ClientReply::send(target, method, requestHeaders(), {}, alive), Failure::None);
        });
}

void Routing::setHome(QObject *home)
{
    const QMutexLocker locked(&m_lock);
    m_home = home;
}

void Routing::setIndexLimits(const IndexLimits &limits)
{
    const QMutexLocker locked(&m_lock);
    m_indexLimits = limits;
}

Routing::Index Routing::indexOf(const QUrl &site) const
{
    const QMutexLocker locked(&m_lock);
    return m_index.value(key(site.host(), quint16(site.port(80))), Index::Unknown);
}

QString Routing::indexedTimestamp(const QUrl &original) const
{
    const QMutexLocker locked(&m_lock);
    return m_timestamps.value(originalOf(original));
}

// In the home thread: the site's index, bounded in size, lines and time; whatever goes
// wrong leaves the site to the archive's redirects.
void Routing::learnIndex(const QString &site, const QUrl &query, const Archive &archive, const IndexLimits &limits)
{
    QObject *home = nullptr;
    {
        const QMutexLocker locked(&m_lock);
        home = m_home;
    }
    if (!home)
        return;
    auto done = [routing = weak_from_this(), site, archive](const std::optional<QHash<QString, QString>> &chosen) {
        if (const std::shared_ptr<Routing> r = routing.lock())
            r->indexLearnt(site, archive, chosen);
    };
    connect(query, "GET", home, [done, limits, date = archive.date](http::Reply *reply, Failure) {
        if (!reply)
            return done(std::nullopt);
        auto body = std::make_shared<QByteArray>();
        auto over = std::make_shared<bool>(false);
        const auto finish = [reply, over, done](const std::optional<QHash<QString, QString>> &chosen) {
            if (std::exchange(*over, true))
                return;
            reply->abort();
            reply->deleteLater();
            done(chosen);
        };
        QTimer::singleShot(limits.timeoutMs, reply, [finish] { finish(std::nullopt); });
        const auto take = [reply, body, limits, date, finish] {
            while (reply->bytesAvailable() > 0 && body->size() <= limits.maxBytes)
                *body += reply->read(limits.maxBytes + 1 - body->size());
            if (body->size() > limits.maxBytes)
                return finish(std::nullopt);
            if (!reply->isFinished())
                return;
            if (reply->failed() || reply->status() != 200)
                return finish(std::nullopt);
            finish(readIndex(*body, date, limits.maxLines));
        };
        QObject::connect(reply, &http::Reply::readyRead, reply, take);
        QObject::connect(reply, &http::Reply::finished, reply, take);
    });
}

void Routing::indexLearnt(const QString &site, const Archive &archive,
                          const std::optional<QHash<QString, QString>> &chosen)
{
    const QMutexLocker locked(&m_lock);
    if (archive.prefix != m_archive.prefix || archive.date != m_archive.date)
        return; // asked of another archive, or at another date
    const bool fits = chosen && m_timestamps.size() + chosen->size() <= MaxIndexedCaptures;
    m_index.insert(site, fits ? Index::Known : Index::Failed);
    if (fits)
        m_timestamps.insert(*chosen);
}

void Routing::noteCapture(const QUrl &url, const QDateTime &captured)
{
    const QMutexLocker locked(&m_lock);
    if (m_captures.size() >= MaxCaptures)
        m_captures.clear();
    m_captures.insert(originalOf(url), captured);
}

QDateTime Routing::capturedFor(const QUrl &url) const
{
    const QMutexLocker locked(&m_lock);
    return m_captures.value(originalOf(url));
}

void Routing::setProxy(std::function<QNetworkProxy()> findProxy)
{
    const QMutexLocker locked(&m_lock);
    m_findProxy = std::move(findProxy);
    m_proxy.reset();
}

void Routing::setPacing(const Pacing &pacing)
{
    const QMutexLocker locked(&m_lock);
    m_pacing = pacing;
}

} // namespace wayback
