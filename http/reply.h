#pragma once

#include "framing.h"
#include "http_export.h"

#include <QByteArray>
#include <QObject>

namespace http {

// An answer as a client reads it, whatever brought it: a connection of its own, or an
// archive's capture of it. Its head first (headReady), then its body as the caller takes
// it; finished once it is whole or has failed.
class HTTP_EXPORT Reply : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool hasHead() const = 0;
    virtual int status() const = 0;
    virtual QByteArray header(const QByteArray &name) const = 0;
    virtual Headers headers() const { return {}; } // every one, in order
    virtual qint64 contentLength() const = 0; // -1: not said
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 max) = 0;
    virtual QByteArray peek(qint64 max) const = 0;
    virtual bool isFinished() const = 0;
    virtual bool failed() const = 0;
    virtual void abort() = 0;

signals:
    void headReady();
    void readyRead();
    void finished(); // complete, or failed
    void progressed(); // bytes moved either way
};

} // namespace http
