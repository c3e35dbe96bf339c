#pragma once

// Why the last connection to a host and port failed, lately: a page that went through
// the guard sees only the guard's blank answer, so its viewer asks here for the words.

#include "guard_export.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QUrl>

namespace guard {

// The Archive ones: the archive that stands in for the site could not be reached, or
// stayed busy (ArchiveBusy while it is waited for, too).
enum class Outcome {
    None,
    Refused,
    NoName,
    ConnectionRefused,
    NoAnswer,
    NotArchived,
    ArchiveNoName,
    ArchiveRefused,
    ArchiveNoAnswer,
    ArchiveBusy,
    ProxyRefused, // the user's proxy to the archive
    ProxyNeedsPassword,
};

// Thread-safe: the guard notes on its thread, the viewers ask on theirs.
class GUARD_EXPORT OutcomeLog
{
public:
    static constexpr int MaxHosts = 256;
    static constexpr int KeptMs = 60000; // older news is no news

    // None: the host answered, and what it failed before is forgotten.
    void note(const QString &host, quint16 port, Outcome outcome);
    Outcome outcomeFor(const QUrl &url) const;

private:
    struct Noted
    {
        Outcome outcome;
        QElapsedTimer when;
    };
    mutable QMutex m_lock;
    QHash<QString, Noted> m_noted; // host:port
};

} // namespace guard
