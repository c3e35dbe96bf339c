#pragma once

// Keeps what the archive gave the viewers in a web-archive file the user names (a WACZ):
// every whole answer is appended at once to NAME.warc.gz beside it, so that a crash loses
// at most the record being written; when the run ends the WACZ is built from it, and that
// file removed. A run that finds NAME.warc.gz left by one that did not end picks it up;
// one that finds only the WACZ adds to what it holds. A capture already kept is not kept
// again. Called from the guard's and the relay's threads.

#include "guard_export.h"
#include "wacz.h"

#include <QMutex>
#include <QSet>

#include <functional>
#include <memory>

namespace wayback {

class GUARD_EXPORT Recorder
{
public:
    // Nothing, with why, if the file cannot be made or what stands there cannot be read.
    static std::shared_ptr<Recorder> open(const QString &waczPath, QString *error);
    ~Recorder();

    QString path() const { return m_path; }
    // Appends the answer unless one of the same address and capture time is kept. A write
    // error ends the recording: the records so far stay, and failed() tells why.
    void record(const warc::Answer &answer);
    // A page a viewer showed, and its title, for the WACZ's list of pages.
    void notePage(const QUrl &url, const QDateTime &captured, const QString &title);
    bool has(const QUrl &url) const; // any capture of url kept
    int recorded() const; // answers kept, this run and before
    QString failed() const; // why writing stopped; empty while it goes on
    // Each is told once, on the thread that hit it, when writing fails.
    void onFailure(std::function<void(const QString &why)> told);
    // Builds the WACZ from what was kept (none built if nothing was). Then nothing more
    // is recorded.
    bool finish(QString *error);

private:
    Recorder() = default;
    QString m_path;
    QString m_records; // NAME.warc.gz
    mutable QMutex m_lock;
    warc::Writer m_writer;
    QSet<QString> m_kept; // url + ' ' + timestamp
    QSet<QString> m_urls;
    QList<warc::Page> m_pages;
    QString m_failed;
    QList<std::function<void(const QString &)>> m_told;
    bool m_finished = false;
};

} // namespace wayback
