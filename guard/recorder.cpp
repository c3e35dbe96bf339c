#include "recorder.h"

#include <QFile>
#include <QFileInfo>

namespace wayback {

namespace {

QString keyOf(const QByteArray &url, const QDateTime &captured)
{
    return QString::fromLatin1(url) + u' ' + captured.toUTC().toString(QStringLiteral("yyyyMMddhhmmss"));
}

} // namespace

std::shared_ptr<Recorder> Recorder::open(const QString &waczPath, QString *error)
{
    std::shared_ptr<Recorder> r(new Recorder);
    r->m_path = waczPath;
    r->m_records = waczPath + QStringLiteral(".warc.gz");
    const bool left = QFileInfo::exists(r->m_records);
    // What the named file holds is kept: its pages, and its records unless a run that
    // did not end left them beside it already.
    if (QFileInfo::exists(waczPath)) {
        QString why;
        if (!warc::copyRecords(waczPath, left ? QString() : r->m_records, &r->m_pages, &why)) {
            if (!left) // nothing of it stays beside the file
                QFile::remove(r->m_records);
            if (error)
                *error = why;
            return nullptr;
        }
    }
    if (!r->m_writer.open(r->m_records, error))
        return nullptr;
    QFile kept(r->m_records);
    if (kept.open(QIODevice::ReadOnly)) {
        QString why;
        if (const auto entries = warc::scan(kept, QFileInfo(kept).fileName(), {}, &why))
            for (const warc::IndexEntry &e : *entries) {
                r->m_kept.insert(QString::fromLatin1(e.url) + u' ' + e.timestamp);
                r->m_urls.insert(QString::fromLatin1(e.url));
            }
    }
    return r;
}

Recorder::~Recorder() = default;

void Recorder::record(const warc::Answer &answer)
{
    QList<std::function<void(const QString &)>> tell;
    QString why;
    {
        const QMutexLocker locked(&m_lock);
        const QByteArray url = answer.target.toEncoded();
        const QString key = keyOf(url, answer.captured);
        if (m_finished || !m_failed.isEmpty() || m_kept.contains(key))
            return;
        if (m_writer.append(answer, &why)) {
            m_kept.insert(key);
            m_urls.insert(QString::fromLatin1(url));
            return;
        }
        m_failed = why;
        m_writer.close();
        tell = m_told;
    }
    for (const auto &told : tell)
        told(why);
}

void Recorder::notePage(const QUrl &url, const QDateTime &captured, const QString &title)
{
    const QMutexLocker locked(&m_lock);
    for (warc::Page &page : m_pages)
        if (page.url == url) {
            if (!title.isEmpty())
                page.title = title;
            return;
        }
    if (m_pages.size() < 10000)
        m_pages.append({url, captured.toUTC(), title});
}

bool Recorder::has(const QUrl &url) const
{
    const QMutexLocker locked(&m_lock);
    return m_urls.contains(QString::fromLatin1(url.toEncoded()));
}

int Recorder::recorded() const
{
    const QMutexLocker locked(&m_lock);
    return int(m_kept.size());
}

QString Recorder::failed() const
{
    const QMutexLocker locked(&m_lock);
    return m_failed;
}

void Recorder::onFailure(std::function<void(const QString &)> told)
{
    const QMutexLocker locked(&m_lock);
    m_told.append(std::move(told));
}

bool Recorder::finish(QString *error)
{
    const QMutexLocker locked(&m_lock);
    if (m_finished)
        return true;
    m_finished = true;
    m_writer.close();
    if (m_kept.isEmpty() && !QFileInfo::exists(m_path)) { // nothing seen: no file
        QFile::remove(m_records);
        return true;
    }
    if (!warc::writeWacz(m_path, m_records, m_pages, error))
        return false; // the records stay, for the next run
    QFile::remove(m_records);
    return true;
}

} // namespace wayback
