#include "messages.h"

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

namespace forms {

namespace {

QMutex lock; // messages come from any thread
QStringList dropped;
QtMessageHandler previous = nullptr;

void filter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) {
        QMutexLocker locked(&lock);
        for (const QString &start : std::as_const(dropped))
            if (message.startsWith(start))
                return;
    }
    if (previous)
        previous(type, context, message);
}

} // namespace

void dropMessages(std::initializer_list<const char *> starts)
{
    QMutexLocker locked(&lock);
    if (dropped.isEmpty())
        previous = qInstallMessageHandler(filter);
    for (const char *start : starts)
        if (!dropped.contains(QString::fromUtf8(start)))
            dropped << QString::fromUtf8(start);
}

} // namespace forms
