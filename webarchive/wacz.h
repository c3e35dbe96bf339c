#pragma once

// A WACZ (the webrecorder "wacz/1.1.1" layout): a ZIP holding archive/*.warc.gz (stored,
// so that the index's offsets hold), indexes/index.cdxj, pages/pages.jsonl and
// datapackage.json with a sha256 of each. Opening one reads its index, never its records.

#include "warc.h"

#include <QMutex>

#include <memory>

namespace warc {

struct Page
{
    QUrl url;
    QDateTime captured; // UTC
    QString title;
};

// A WACZ's datapackage.json: what it lists of each file it holds.
struct Resource
{
    QString name;
    QString path; // in the ZIP
    QByteArray hash; // "sha256:" and hex
    qint64 bytes = 0;
};
struct Datapackage
{
    QString profile;
    QString waczVersion;
    QDateTime created;
    QString software;
    QList<Resource> resources;
};

// The readers of a WACZ's JSON files; nothing, with why, for what is not one.
WEBARCHIVE_EXPORT std::optional<QList<Page>> readPages(const QByteArray &jsonl, const Limits &limits,
                                                       QString *error);
WEBARCHIVE_EXPORT std::optional<Datapackage> readDatapackage(const QByteArray &json, const Limits &limits,
                                                             QString *error);

// Builds the WACZ at path from one .warc.gz and the pages opened; written under a
// temporary name beside path and renamed, so that path never holds half of one.
WEBARCHIVE_EXPORT bool writeWacz(const QString &path, const QString &warcGz, const QList<Page> &pages,
                                 QString *error);

// Appends the records of every archive/*.warc.gz a WACZ holds to toWarcGz (none if
// empty), and adds the pages it lists to pages.
WEBARCHIVE_EXPORT bool copyRecords(const QString &wacz, const QString &toWarcGz, QList<Page> *pages,
                                   QString *error);

// The captures in one or more files (.wacz, .warc.gz, .warc), answering by original
// address and date. A .wacz is read by its index; a WARC without one is scanned once.
// May be asked from any thread.
class WEBARCHIVE_EXPORT Collection
{
public:
    explicit Collection(const Limits &limits = {});
    ~Collection();
    Collection(const Collection &) = delete;
    Collection &operator=(const Collection &) = delete;

    bool add(const QString &path, QString *error);
    qint64 size() const; // records indexed, in all files
    // The capture of url nearest date: the smallest distance in time among those whose
    // status is not 5xx, the earlier on a tie; the same scheme as url. Nothing if none.
    std::optional<IndexEntry> nearest(const QUrl &url, const QDateTime &date) const;
    std::optional<Answer> answer(const IndexEntry &entry, QString *error) const;
    // The pages the files list (a WACZ's pages.jsonl).
    QList<Page> pages() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace warc
