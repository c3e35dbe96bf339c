#pragma once

// Addresses of a web archive that speaks the Wayback scheme: PREFIX + TIMESTAMP +
// modifier + "/" + the original address. Captures are asked for raw ("id_"), and an
// archive answers a partial or inexact timestamp with a redirect to its nearest capture.
// Only http originals are mapped: an https page was never the content site's.

#include "guard_export.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

namespace wayback {

inline constexpr char DefaultPrefix[] = "https://web.archive.org/web/";
// Wayback-style archives send the headers the site sent under this prefix.
inline constexpr char RecordedHeaderPrefix[] = "X-Archive-Orig-";

// YYYY[MM[DD[hh[mm[ss]]]]], each part in range (a real day of its month).
GUARD_EXPORT bool isTimestamp(const QString &text);
// The instant a timestamp names, in UTC, its missing parts the earliest they can be.
GUARD_EXPORT QDateTime timeOf(const QString &timestamp);
// An archive's prefix as given: http or https, with a host, ending in "/" (added if not).
GUARD_EXPORT std::optional<QUrl> readPrefix(const QString &text);

// The original as an archive files it: http only, the host in lower case, no default
// port, no user, no fragment; empty if it cannot be an original.
GUARD_EXPORT QString originalOf(const QUrl &url);
// Where a raw capture of original is asked for, at timestamp.
GUARD_EXPORT QUrl captureUrl(const QUrl &prefix, const QString &timestamp, const QUrl &original);
// The same as a person reads it in a browser: the archive's own view of the capture.
GUARD_EXPORT QUrl replayUrl(const QUrl &prefix, const QString &timestamp, const QUrl &original);

struct Capture
{
    QString timestamp;
    QString modifier; // "id_", "im_", or empty
    QUrl original; // as originalOf gives it
};
// An address under prefix read back, or nothing if it is not one of that archive's
// captures of an http original.
GUARD_EXPORT std::optional<Capture> readCaptureUrl(const QUrl &prefix, const QUrl &url);

// Where an archive lists its captures (the CDX server API): a prefix ending in /web/
// asks /cdx/search/cdx on the same host, as the public archive does; a prefix
// /COLLECTION/ asks /COLLECTION/cdx, as open-source replay servers do. Nothing for
// another prefix.
GUARD_EXPORT std::optional<QUrl> indexEndpoint(const QUrl &prefix);
// The question for one site's captures (host and port of site) within a year either side
// of the run's date, as JSON rows of timestamp, original and status.
GUARD_EXPORT QUrl indexQuery(const QUrl &endpoint, const QUrl &site, const QString &date, int maxLines);
// The window indexQuery asks for: captures outside it are never learnt from the index.
GUARD_EXPORT QPair<QDateTime, QDateTime> indexWindow(const QString &date);

// The capture to ask for each original an index lists, as an archive picks its nearest:
// the smallest distance in time to date among captures whose status is not 5xx, the
// earlier on a tie; only where no capture outside the window could be nearer. Nothing
// if the answer is not the JSON form or has more than maxLines rows.
GUARD_EXPORT std::optional<QHash<QString, QString>> readIndex(const QByteArray &json, const QString &date,
                                                              int maxLines);

// The capture's date from its Memento-Datetime header (RFC 1123), else invalid.
GUARD_EXPORT QDateTime mementoTime(const QByteArray &header);
// What the viewer's corner says of an archived copy: 存档副本 · 2011年5月3日 (the date in UTC).
GUARD_EXPORT QString label(const QDateTime &captured);

} // namespace wayback
