#include "errors.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace forms {

RuntimeError::RuntimeError(int number, QString description)
    : m_number(number), m_description(std::move(description)),
      m_what(QStringLiteral("%1: %2").arg(number).arg(m_description).toUtf8())
{ }

void raise(int number, const QString &description)
{
    throw RuntimeError(number, description);
}

void defaultErrorReport(const RuntimeError &error)
{
    const QString text = QStringLiteral("运行时错误 '%1':\n\n%2").arg(error.number()).arg(error.description());
    std::fprintf(stderr, "%s: run-time error %d: %s\n", qPrintable(QCoreApplication::applicationName()), error.number(),
                 error.description().toUtf8().constData());
    std::fflush(stderr);
    if (qobject_cast<QApplication *>(QCoreApplication::instance()) == nullptr)
        return;
    // Not modal: a nested event loop would let timers and clicks run under the report.
    auto *box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void runGuarded(const ErrorReporter &report, const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const RuntimeError &e) {
        report(e);
    } catch (const std::exception &e) {
        report(RuntimeError(err::UnexpectedError, QString::fromLocal8Bit(e.what())));
    } catch (...) {
        report(RuntimeError(err::UnexpectedError, QStringLiteral("Internal error")));
    }
}

} // namespace forms
