#pragma once

// A fresh form runtime for each test function, with every error it reports kept for the
// test to check: a test class derives from it, starts it in init() and stops it in
// cleanup().

#include "runtime.h"

#include <QList>
#include <QStringList>

#include <memory>

class RuntimeFixture
{
protected:
    std::unique_ptr<forms::Runtime> rt;
    QList<forms::RuntimeError> reported;

    void startRuntime()
    {
        rt = std::make_unique<forms::Runtime>();
        reported.clear();
        rt->setErrorReporter([this](const forms::RuntimeError &e) { reported << e; });
    }
    void stopRuntime() { rt.reset(); }
    // What was reported, for a failure message.
    QString reportedText() const
    {
        QStringList lines;
        for (const forms::RuntimeError &e : reported)
            lines << QStringLiteral("%1: %2").arg(e.number()).arg(e.description());
        return lines.join(QLatin1Char('\n'));
    }
};
