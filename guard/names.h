#pragma once

// How the guard finds the addresses of a name: an address written as one is itself, a
// name is asked of the system's resolver, or, in tests only, of names mapped by hand.

#include "guard_export.h"

#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>

namespace guard {

class GUARD_EXPORT Names
{
public:
    // For tests only (the program never calls it): a name found as address without
    // asking DNS, as a test's resolver would. "name" or "*.suffix"; a name mapped again
    // has each address.
    void mapForTests(const QString &pattern, const QHostAddress &address);
    // Every address of host (none if it has none); done is called in context's thread,
    // perhaps at once.
    void lookUp(const QString &host, QObject *context, std::function<void(QList<QHostAddress>)> done) const;

private:
    mutable QMutex m_lock;
    QList<QPair<QString, QHostAddress>> m_mapped;
};

} // namespace guard
